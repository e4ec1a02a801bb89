// An SdpRom on a serial line (the chip's UART boot mode), served on a
// pseudo-terminal: commands are 16 raw bytes, data follows as raw bytes, answers go
// back raw.
//
// The link begins with the association: until the host's bytes 23 45 45 23 came
// (and went back as they are) the ROM ignores everything, so bytes another
// protocol tried on the port first are lost harmlessly. After it, every byte
// counts: a stray one misaligns the commands after it, however long the pause, as
// on the silicon. An association again at a command boundary is answered again
// (no command starts with those bytes). A restart of the chip wants a new one.
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
    // Bytes ignored before the association.
    uint64_t ignoredBytes() const { return ignored_; }
    uint64_t associations() const { return associations_; }
    // The chip restarted: its ROM waits for the association again.
    void restart() { restarted_ = true; }

  private:
    void receive(uint8_t byte);
    void associate();

    SdpRom& rom_;
    Settings settings_;
    // The line's thread only.
    std::vector<uint8_t> partial_;
    bool associated_ = false;
    uint32_t window_ = 0; // the last four bytes before the association
    std::atomic<bool> restarted_{false};
    std::atomic<uint64_t> ignored_{0};
    std::atomic<uint64_t> associations_{0};
    std::unique_ptr<SerialLine> line_; // last: its thread uses the members above
};

} // namespace Veltrano::Sim
