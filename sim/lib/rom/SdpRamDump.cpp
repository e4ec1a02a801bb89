#include "SdpRamDump.h"

#include <cstdio>
#include <stdexcept>

#include "AtomicFile.h"
#include "ProgramOptions.h"

namespace Veltrano::Sim {

namespace {

uint32_t number32(const std::string& text) {
    return static_cast<uint32_t>(programNumber(text.c_str(), 0, 0xFFFFFFFFul));
}

void putBigEndian(std::string& out, uint32_t word) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>(word >> shift));
}

} // namespace

bool SdpRamDump::parseOption(const std::string& option, const char* value) {
    if (option == "--ram-dump") {
        path = value;
        return true;
    }
    if (option != "--ram-region") return false;
    const std::string text = value;
    const size_t colon = text.find(':');
    if (colon == std::string::npos) throw std::invalid_argument("--ram-region: A:N expected");
    region = true;
    regionAddress = number32(text.substr(0, colon));
    regionSize = number32(text.substr(colon + 1));
    return true;
}

void SdpRamDump::check() const {
    if (region && path.empty()) throw std::invalid_argument("--ram-region needs --ram-dump");
}

void SdpRamDump::write(const SdpRom& rom, const char* program) const {
    if (path.empty()) return;
    std::string content;
    if (region) {
        std::vector<uint8_t> bytes = rom.bytes(regionAddress, regionSize);
        content.assign(bytes.begin(), bytes.end());
    } else {
        for (const auto& [address, bytes] : rom.memory()) {
            putBigEndian(content, address);
            putBigEndian(content, static_cast<uint32_t>(bytes.size()));
            content.append(bytes.begin(), bytes.end());
        }
    }
    if (writeFileAtomically(path, content) != aErrNone)
        std::fprintf(stderr, "%s: cannot write %s\n", program, path.c_str());
}

} // namespace Veltrano::Sim
