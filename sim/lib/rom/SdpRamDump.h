// What an emulated i.MX ROM holds in RAM, written to a file for a test to compare
// with what it loaded: each loaded region as its address and length (big-endian
// 32-bit words) followed by its bytes, or, with a region chosen, just its bytes
// raw (unwritten ones 0). The emulator programs share its options.
#pragma once

#include <cstdint>
#include <string>

#include "SdpRom.h"

namespace Veltrano::Sim {

struct SdpRamDump {
    std::string path; // empty: no dump
    bool region = false;
    uint32_t regionAddress = 0;
    uint32_t regionSize = 0;

    // Takes "--ram-dump PATH" and "--ram-region A:N" (numbers decimal or 0x);
    // false for any other option. Throws std::invalid_argument for a bad value.
    bool parseOption(const std::string& option, const char* value);
    // Throws std::invalid_argument when a region was given without a path.
    void check() const;
    // Rewrites the file atomically; says on standard error (as program) when it
    // cannot.
    void write(const SdpRom& rom, const char* program) const;
};

} // namespace Veltrano::Sim
