// The ISP boot ROM's reply lines on arbitrary bytes: return codes with echo on and
// off, the checksum answer and the unique-id words, as NXPSerial reads them line
// by line; and the UU line encoder on arbitrary data. The emulator's own parser
// takes the same bytes as host input. Nothing may crash, and the answers must
// agree with each other.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ISPReply.h"
#include "IspRom.h"
#include "UUEncode.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

// One line as GetLine stores it: up to and including "\r\n", NUL-terminated.
void parseLine(const std::string& line) {
    for (bool echo : {true, false}) {
        long code = -1;
        const bool found = ISPReply::returnCode(line.c_str(), echo, &code);
        check(ISPReply::isSuccess(line.c_str(), echo) == (found && code == 0));
        check(ISPReply::returnCodeName(found ? code : -1) != nullptr);
    }
    const ISPReply::ChecksumReply reply = ISPReply::checksumReply(line.c_str());
    if (reply == ISPReply::ChecksumReply::Ok) check(line == "OK\r\n");
    if (reply == ISPReply::ChecksumReply::Resend) check(line == "RESEND\r\n");
    (void)ISPReply::uidWord(line.c_str());
}

void encode(const uint8_t* data, size_t size) {
    const size_t n = size < kUULineMaxBytes ? size : kUULineMaxBytes;
    if (n == 0) return;
    const std::string line = uuEncodeLine(data, n);
    check(line.size() == 1 + (n + 2) / 3 * 4);
    for (char c : line)
        check(c > ' ' && c <= '`');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Lines end after "\r\n" or at 1024 bytes, as the host's reader cuts them; a NUL
    // inside a line ends it for the parser, as it would the C string.
    std::string line;
    for (size_t i = 0; i < size; ++i) {
        line += static_cast<char>(data[i]);
        if (line.size() >= 1024 || (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)) {
            parseLine(std::string(line.c_str()));
            line.clear();
        }
    }
    parseLine(std::string(line.c_str()));
    encode(data, size);

    Veltrano::Sim::IspRom rom;
    for (size_t i = 0; i < size; ++i)
        rom.receive(data[i], i % 7 == 6 ? 57600 : 0);
    return 0;
}
