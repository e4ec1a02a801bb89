// An SdpRom on a serial line (the chip's UART boot mode), served on a
// pseudo-terminal: commands are 16 raw bytes, data follows as raw bytes, answers go
// back raw.
//
// The link begins with the association: the host's bytes 23 45 45 23 come back
// as they are (no command starts with them).
//
// A partial command is thrown away after an idle gap (100 ms by default), so stray
// bytes (a synchronisation another protocol tried on the same port first) do not
// misalign the commands after them. How a real ROM treats such bytes is not known
// here; this is our choice.
//
// Threads: the line's thread feeds the ROM; the observers may be used from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SdpRom.h"
#include "SerialLine.h"

namespace Veltrano::Sim {

class SdpRomSerial {
  public:
    struct Settings {
        bool paced = false;
        uint32_t idleGapMs = 100;
    };

    // Serves rom, which must outlive this. Throws std::runtime_error when no
    // pseudo-terminal can be made.
    SdpRomSerial(SdpRom& rom, Settings settings);
    ~SdpRomSerial();
    SdpRomSerial(const SdpRomSerial&) = delete;
    SdpRomSerial& operator=(const SdpRomSerial&) = delete;

    // The host's end: its serial port.
    const std::string& path() const { return line_->path(); }
    SerialLine& line() { return *line_; }
    // Bytes of partial commands thrown away after an idle gap.
    uint64_t discardedBytes() const { return discarded_; }
    uint64_t associations() const { return associations_; }

  private:
    void receive(uint8_t byte);

    SdpRom& rom_;
    Settings settings_;
    std::vector<uint8_t> partial_; // the line's thread only
    uint64_t lastByteMs_ = 0;
    std::atomic<uint64_t> discarded_{0};
    std::atomic<uint64_t> associations_{0};
    std::unique_ptr<SerialLine> line_; // last: its thread uses the members above
};

} // namespace Veltrano::Sim
