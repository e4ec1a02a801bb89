#include "Serial_SDPLoader.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "SDPResponse.h"
#include "UpdaterLog.h"
#include "aStream.h"
#include "aTime.h"

namespace {

// The time-outs of the boot ROM's UART link: 10 ms per byte plus 50 ms.
constexpr uint32_t kMsPerByte = 10;
constexpr uint32_t kSlackMs = 50;
// How long a full port is left before the writer looks again.
constexpr uint32_t kRoomPollMs = 1;
// The serial stream takes at most this many bytes in one write without waiting.
constexpr size_t kWriteChunk = 512;
// A device that never stops sending must not hold the reader for ever; no answer of
// the boot ROM comes near this.
constexpr int kMaxResponseBytes = 4096;
// The line's rate: 10 bits a byte at 115200 baud.
constexpr uint32_t kBaud = 115200;
// The UART link's association, echoed by the ROM; tried this often, each answer
// awaited this long.
// The association behind a dummy report id (which does not travel).
const std::vector<uint8_t> kAssociationPacket = {0, 0x23, 0x45, 0x45, 0x23};
constexpr size_t kAssociationBytes = 4;
constexpr int kAssociationTries = 5;
constexpr uint32_t kAssociationAnswerMs = 100;
// A refusal on the line: HAB mode, then the status word.
constexpr size_t kRefusalBytes = 8;

uint64_t sMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000u + uint64_t(now.tv_nsec) / 1000u;
}

std::string sDevicePath(const std::string& portName) {
    return portName.find('/') == std::string::npos ? "/dev/" + portName : portName;
}

// One attempt: writes until every byte went, the port failed, or the attempt's time
// ran out. Answers the bytes written; failed is set when the port failed.
size_t sWriteAttempt(aStream* stream, const uint8_t* bytes, size_t count, bool& failed) {
    uint32_t limit = static_cast<uint32_t>(count) * kMsPerByte + kSlackMs;
    uint32_t start = aTime_GetMSTicks();
    size_t done = 0;
    while (done < count) {
        uint32 written = 0;
        uint32 chunk = static_cast<uint32>(std::min(count - done, kWriteChunk));
        aErr err = aStream_TryWrite(stream, bytes + done, chunk, &written);
        done += written;
        if (err == aErrNone) continue;
        if (err != aErrNotReady) {
            failed = true;
            break;
        }
        if (aTime_GetMSTicks() - start >= limit) break;
        if (written == 0) aTime_MSSleep(kRoomPollMs);
    }
    return done;
}

} // namespace

Serial_SDPLoader::Serial_SDPLoader(const std::string& portName) : path_(sDevicePath(portName)) {}

Serial_SDPLoader::~Serial_SDPLoader() {
    if (stream_) aStream_Destroy(&stream_);
}

bool Serial_SDPLoader::openDevice() {
    if (stream_) return true;
    if (aStream_CreateSerial(path_.c_str(), aSTREAM_BAUD_115200, 0, 0, 0, &stream_) != aErrNone) {
        std::printf("Unable to open Serial Port: %s\n", path_.c_str());
        std::fflush(stdout);
        return false;
    }
    if (associate()) return true;
    updaterLog(DEBUG_iMXSerial, "Error: No association from iMX device\n");
    aStream_Destroy(&stream_);
    return false;
}

// Whatever came before the echo (a chip's noise) is dropped.
bool Serial_SDPLoader::associate() {
    for (int attempt = 0; attempt < kAssociationTries; ++attempt) {
        if (writePacket(kAssociationPacket) != static_cast<int>(kAssociationBytes)) return false;
        std::vector<uint8_t> answer;
        readResponse(answer, kAssociationAnswerMs);
        if (answer.size() >= kAssociationBytes &&
            std::equal(kAssociationPacket.begin() + 1, kAssociationPacket.end(),
                       answer.end() - kAssociationBytes))
            return true;
    }
    return false;
}

int Serial_SDPLoader::writePacket(const std::vector<uint8_t>& packet) {
    if (!stream_ || packet.size() < 2) return 0;
    const uint8_t* bytes = packet.data() + 1;
    size_t count = packet.size() - 1;
    size_t done = 0;
    bool failed = false;
    while (done < count && !failed) {
        size_t moved = sWriteAttempt(stream_, bytes + done, count - done, failed);
        if (moved == 0) break;
        done += moved;
    }
    // The port takes bytes faster than the line carries them; the device answers
    // only once the last of them arrived.
    const uint64_t now = sMicroseconds();
    lineFreeUs_ = std::max(lineFreeUs_, now) + uint64_t(done) * 10u * 1000000u / kBaud;
    return static_cast<int>(done);
}

int Serial_SDPLoader::readResponse(std::vector<uint8_t>& out, uint32_t ms) {
    if (!stream_) return 0;
    if (ms > 0) {
        const uint64_t now = sMicroseconds();
        if (lineFreeUs_ > now) aTime_MSSleep(static_cast<uint32_t>((lineFreeUs_ - now + 999) / 1000));
        aTime_MSSleep(ms);
    }
    else if (aStream_AwaitInput(stream_, 0) != aErrNone)
        return 0;
    int count = 0;
    while (count < kMaxResponseBytes) {
        uint8 byte = 0;
        aErr err = aStream_Read(stream_, &byte, 1);
        if (err == aErrNone) {
            out.push_back(byte);
            ++count;
            continue;
        }
        if (err != aErrNotReady || aStream_AwaitInput(stream_, kMsPerByte + kSlackMs) != aErrNone) break;
    }
    return count;
}

bool Serial_SDPLoader::jumpRefusal(const std::vector<uint8_t>& response, uint32_t& status) {
    return response.size() == kRefusalBytes && statusWord(response, 0, status);
}

bool Serial_SDPLoader::statusWord(const std::vector<uint8_t>& response, uint32_t index, uint32_t& status) {
    return sdpSerial_StatusWord(response, index, status);
}
