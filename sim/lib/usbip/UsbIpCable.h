// The cable between a UsbIpDevice and a USB/IP host controller: it follows the
// device's presence, plugging it in (a fresh socketpair handed to the host, a
// reader thread feeding the device the host's requests) and pulling it out (the
// host told, the socket shut). A device that comes back after leaving takes the
// re-enumeration delay first. A host that drops the connection unplugs the
// device until its next return to the bus.
//
// Threads: one of its own that plugs and unplugs, one reader per connection; the
// events are called from the former.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "UsbIpDevice.h"

namespace Veltrano::Sim {

// Where a device's socket end goes: a virtual host controller, or a test.
class UsbIpHost {
  public:
    virtual ~UsbIpHost() = default;
    // Takes the host's end of a connection (the caller closes its copy); answers
    // the port. Throws std::runtime_error when no port is free or the host refuses.
    virtual int attach(int fd, uint32_t devid, UsbIpDevice::Speed speed) = 0;
    virtual void detach(int port) = 0;
};

class UsbIpCable {
  public:
    struct Events {
        std::function<void(const std::string& label, int port)> attached;
        std::function<void(const std::string& label)> detached;
        std::function<void(const std::string& label, const std::string& why)> failed;
    };

    // Both must outlive the cable.
    UsbIpCable(UsbIpDevice& device, UsbIpHost& host, uint32_t devid, Events events,
               uint32_t reenumDelayMs = 0);
    // Unplugs the device.
    ~UsbIpCable();
    UsbIpCable(const UsbIpCable&) = delete;
    UsbIpCable& operator=(const UsbIpCable&) = delete;

    // Any thread.
    bool plugged() const;
    uint64_t plugs() const;
    // Waits at most timeoutMs for the cable to be plugged (or not); true when it is.
    bool waitPlugged(bool plugged, uint32_t timeoutMs) const;
    // Waits at most timeoutMs for at least `count` plugs so far; false at once
    // when the host refused the device's latest return.
    bool waitPlugs(uint64_t count, uint32_t timeoutMs) const;

  private:
    void run();
    void plug(uint64_t epoch);
    void unplug();
    void giveUp(uint64_t epoch);
    void read(int fd);

    UsbIpDevice& device_;
    UsbIpHost& host_;
    uint32_t devid_;
    Events events_;
    uint32_t reenumDelayMs_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stop_ = false;
    bool hostGone_ = false;  // the reader saw the connection end
    uint64_t lostEpoch_ = 0; // the epoch the host dropped: not plugged again
    bool gaveUp_ = false;    // the host refused the latest plug
    bool connected_ = false;
    uint64_t epoch_ = 0; // the plugged presence epoch
    uint64_t plugs_ = 0;
    int fd_ = -1;
    int port_ = -1;
    std::string label_;
    std::thread reader_;
    std::thread thread_;
};

} // namespace Veltrano::Sim
