// An i.MX module without firmware, whole: its boot ROM (SdpRom) on a serial line or
// as the USB HID device, and what runs once the host made the ROM jump.
//
//   Rom         the ROM serves SDP on its carrier; the module is off the USB bus.
//   Liveloader  after a good jump: the loader image runs as a USB module on the
//               virtual bus with the liveloader's serial number (0xDEADDEAD by
//               default). It reports the chip identifier as system option 39
//               (subindexes 0..3) and takes firmware through its UPGRADE loader.
//               Over the serial carrier it writes a banner on the UART line first.
//               A system reset (option 11) takes it off the bus and brings the ROM
//               back: the chip has no firmware to run.
//   Firmware    after the UPGRADE REBOOT: the module comes back (after its away
//               time) as the chip's own serial number, reporting the version and
//               build of the image tag in its flash; its flash holds what was sent.
//
// A chip that never leaves the ROM (Settings::leavesRom false) answers the jump and
// stays: the liveloader never appears. A jump to code that is not the liveloader
// (see ImxChipProfile::liveloaderImage) leaves the ROM for good: the chip stays in
// the Rom state, silent, until it is made again.
//
// Threads: the carriers' threads and one watcher thread of its own; every member
// may be used from any thread. The bus must outlive the chip.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ModuleUsbBus.h"
#include "ImxChipProfile.h"
#include "SdpRom.h"
#include "VirtualModule.h"

namespace Veltrano::Sim {

class SdpRomHid;
class SdpRomSerial;

class ImxChip {
  public:
    enum class State { Rom, Liveloader, Firmware };
    enum class Carrier { Serial, Hid };

    struct Settings : ImxChipProfile {
        Carrier carrier = Carrier::Serial;
        bool paced = false; // the serial line carries bytes at the UART rate
        bool leavesRom = true;
    };

    // The chip in its ROM. bus may be null (the liveloader then runs nowhere).
    // Throws std::runtime_error when the carrier cannot be made.
    ImxChip(Settings settings, ModuleUsbBus* bus);
    ~ImxChip();
    ImxChip(const ImxChip&) = delete;
    ImxChip& operator=(const ImxChip&) = delete;

    State state() const;
    // Waits at most timeoutMs for the state; true when it is reached.
    bool waitForState(State state, uint32_t timeoutMs) const;
    // The serial carrier's port for the host (empty over HID).
    std::string serialPath() const;

    SdpRom& rom() { return rom_; }
    // The liveloader, later the firmware: its UPGRADE area holds flash and counts.
    VirtualModule& module() { return module_; }

  private:
    bool jumped(uint32_t address);
    bool holdsLiveloader() const;
    void watch();
    void enter(State state);

    Settings settings_;
    ModuleUsbBus* bus_;
    SdpRom rom_;
    VirtualModule module_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    State state_ = State::Rom;
    bool stop_ = false;
    uint64_t resetsSeen_ = 0;
    uint64_t rebootsSeen_ = 0;
    uint64_t jumps_ = 0;
    std::unique_ptr<SdpRomSerial> serial_;
    std::unique_ptr<SdpRomHid> hid_;
    std::thread watcher_;
};

} // namespace Veltrano::Sim
