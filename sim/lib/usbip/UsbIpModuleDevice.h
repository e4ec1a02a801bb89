// A VirtualModule as a high-speed USB device: the maker's vendor id, product id
// 0x0100 | model, its serial number as "%08X", and the module interface
// (0xFF/0x88/0x10) with bulk OUT 0x01 and IN 0x81. The host's OUT bytes go to the
// module; its output waits for IN URBs. Each enumeration is a new connection of
// the module.
//
// A module that goes away (a reboot, a restart into its loader) is unplugged and
// plugged again once it is back, with the serial number it has then; one that
// drops its connection re-enumerates at once.
//
// Threads: a watcher of its own runs the module's timers and follows its
// presence; any thread may use the members.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "UsbIpDevice.h"
#include "VirtualModule.h"

namespace Veltrano::Sim {

class UsbIpModuleDevice : public UsbIpDevice {
  public:
    static constexpr uint8_t kOutEndpoint = 0x01;
    static constexpr uint8_t kInEndpoint = 0x81;

    // The module must outlive the device. An unplugged device waits for setPlugged.
    explicit UsbIpModuleDevice(VirtualModule& module, bool plugged = true);
    ~UsbIpModuleDevice() override;

    // Its owner puts it on the bus or takes it off (a chip leaving its ROM).
    void setPlugged(bool plugged);
    VirtualModule& module() { return module_; }

  private:
    size_t takeOut(uint8_t endpoint, const uint8_t* data, size_t count) override;
    void onAttach() override;
    void onDetach() override;
    void watch();

    VirtualModule& module_;
    std::mutex carrier_; // one caller into the module at a time
    std::atomic<bool> plugged_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> attaches_{0};
    std::thread watcher_;
};

} // namespace Veltrano::Sim
