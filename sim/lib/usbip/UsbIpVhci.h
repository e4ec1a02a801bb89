// Linux's virtual USB host controller (vhci-hcd) as a UsbIpHost: a device's
// socket goes to a free port of the controller's sysfs directory ("PORT FD DEVID
// SPEED" into attach; the port's number into detach), and the kernel then
// enumerates it as if it had been plugged in.
#pragma once

#include <mutex>
#include <string>

#include "UsbIpCable.h"

namespace Veltrano::Sim {

class UsbIpVhci : public UsbIpHost {
  public:
    static constexpr const char* kDefaultDirectory = "/sys/devices/platform/vhci_hcd.0";

    explicit UsbIpVhci(std::string directory = kDefaultDirectory);

    int attach(int fd, uint32_t devid, UsbIpDevice::Speed speed) override;
    void detach(int port) override;

  private:
    std::string directory_;
    // The devices of one program attach from their own threads: unserialised, two
    // of them pick the same free port and the kernel refuses the second.
    std::mutex mutex_;
};

// The free ports in the text of the controller's status file that take a device
// of this speed (high and full speed: the "hs" hub), in order.
std::vector<int> vhciFreePorts(const std::string& status, UsbIpDevice::Speed speed);

} // namespace Veltrano::Sim
