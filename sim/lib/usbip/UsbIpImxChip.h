// An i.MX module without firmware on USB: its boot ROM as the HID device
// (UsbIpSdpDevice) until the host makes it jump into a loaded image; then the ROM
// device leaves and the liveloader enumerates as a module (UsbIpModuleDevice,
// serial 0xDEADDEAD by default) that reports the chip identifier as system option
// 39 and takes firmware through its UPGRADE loader. A system reset (option 11)
// takes the liveloader off the bus and brings the ROM device back; after the
// UPGRADE REBOOT the module returns with the chip's own serial number.
//
// Threads: a watcher of its own; the devices' and the ROM's threads.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <thread>

#include "ImxChipProfile.h"
#include "SdpRom.h"
#include "UsbIpModuleDevice.h"
#include "UsbIpSdpDevice.h"
#include "VirtualModule.h"

namespace Veltrano::Sim {

class UsbIpImxChip {
  public:
    struct Settings : ImxChipProfile {
        // The ROM device stays this long after the jump, so its last answer reaches
        // the host before it goes.
        uint32_t leaveDelayMs = 50;
    };

    explicit UsbIpImxChip(Settings settings);
    ~UsbIpImxChip();
    UsbIpImxChip(const UsbIpImxChip&) = delete;
    UsbIpImxChip& operator=(const UsbIpImxChip&) = delete;

    SdpRom& rom() { return rom_; }
    VirtualModule& module() { return module_; }
    UsbIpSdpDevice& romDevice() { return romDevice_; }
    UsbIpModuleDevice& loaderDevice() { return loaderDevice_; }

  private:
    bool jumped();
    void watch();

    Settings settings_;
    SdpRom rom_;
    VirtualModule module_;
    UsbIpSdpDevice romDevice_;
    UsbIpModuleDevice loaderDevice_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> leaveAtMs_{0}; // 0: the ROM device stays
    std::atomic<bool> loaderRunning_{false};
    std::atomic<uint64_t> resetsSeen_{0};
    std::atomic<uint64_t> rebootsSeen_{0};
    std::thread watcher_;
};

} // namespace Veltrano::Sim
