// A USB device as a USB/IP host controller sees it: one configuration with one
// interface, its descriptors and strings, the standard control requests, the HID
// class requests of an HID interface, and bulk and interrupt endpoints with the
// host's URB queueing: an IN URB waits until data exist, an unlinked one is
// answered by RET_UNLINK alone. A subclass is the function behind the endpoints.
//
// Presence: whether the device wants to be on the bus. Every return to the bus
// (and every reenumerate()) starts a new epoch; a cable (UsbIpCable) follows
// these with unplugs and plugs. A device that vanished never comes back.
//
// Threads: handle() comes from one carrier thread at a time; the subclass's own
// threads may queue IN data and change presence at any time. Replies go to the
// sink under the device's lock, so they leave in order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "UsbIpCodec.h"

namespace Veltrano::Sim {

class UsbIpDevice {
  public:
    enum class Speed : uint8_t { Full = 2, High = 3 };
    using Sink = std::function<void(const std::vector<uint8_t>& bytes)>;

    struct Endpoint {
        uint8_t address;    // 0x81: IN 1
        uint8_t attributes; // 2 bulk, 3 interrupt
        uint16_t maxPacket;
        uint8_t interval;
        // IN data are whole reports, one per URB, not a byte stream.
        bool packets = false;
    };

    struct Description {
        uint16_t vendorId = 0;
        uint16_t productId = 0;
        uint16_t release = 0x0100;
        Speed speed = Speed::High;
        std::string manufacturer;
        std::string product;
        std::string serial; // empty: no serial string
        uint8_t interfaceClass = 0xFF, interfaceSubClass = 0, interfaceProtocol = 0;
        std::vector<Endpoint> endpoints;
        std::vector<uint8_t> hidReportDescriptor; // non-empty: an HID interface
    };

    // Faults a real bus shows, counted over the device's lifetime.
    struct Faults {
        uint64_t stallAt = 0;             // the Nth bulk transfer stalls its endpoint (0: none)
        uint64_t shortAt = 0;             // the Nth bulk transfer moves half its bytes
        int64_t vanishAfterOutBytes = -1; // gone for good after this many bulk OUT bytes
        // Non-zero: stallAt and shortAt count the transfers of this endpoint alone
        // (how many IN transfers come before a point depends on the host's time-outs).
        uint8_t endpoint = 0;
        // Told of each stall or short transfer as it happens ("stall" or "short", the
        // transfer's number, its endpoint), under the device's lock.
        std::function<void(const char* kind, uint64_t transfer, uint8_t endpoint)> hit;
    };

    struct Presence {
        bool present = false;
        uint64_t epoch = 0;
    };

    explicit UsbIpDevice(Description description);
    virtual ~UsbIpDevice();
    UsbIpDevice(const UsbIpDevice&) = delete;
    UsbIpDevice& operator=(const UsbIpDevice&) = delete;

    // Carrier side. attach starts an enumeration afresh (unconfigured, nothing
    // queued); after detach nothing more goes out.
    void attach(Sink sink);
    void detach();
    void handle(const UsbIp::Request& request);

    // Any thread.
    Speed speed() const;
    // What the device is shown as (its serial string as enumerated).
    virtual std::string label() const;
    Presence presence() const;
    // Called on every change of presence, on the changing thread; replacing it
    // waits for a call in progress.
    void setPresenceListener(std::function<void()> listener);
    void setFaults(const Faults& faults);
    bool vanished() const;
    uint64_t bulkTransfers() const;
    // The configuration the host set (0: none).
    uint8_t configuration() const;

    // The descriptors as the host reads them.
    std::vector<uint8_t> deviceDescriptor() const;
    std::vector<uint8_t> configurationDescriptor() const;

  protected:
    void setPresent(bool present);
    // Leaves the bus and comes back at once (a device resetting its USB side).
    void reenumerate();
    // Takes effect at the next attach.
    void setSerial(const std::string& serial);
    void queueIn(uint8_t endpoint, std::vector<uint8_t> bytes);

    // The bulk or interrupt OUT data the host sent; answers the count taken.
    virtual size_t takeOut(uint8_t endpoint, const uint8_t* data, size_t count) = 0;
    // HID SET_REPORT and GET_REPORT (type 1 input, 2 output, 3 feature);
    // false or nullopt: a stall.
    virtual bool setReport(uint8_t type, uint8_t id, const std::vector<uint8_t>& data);
    virtual std::optional<std::vector<uint8_t>> getReport(uint8_t type, uint8_t id);
    // Called without the device's lock, before the host sees the device and
    // after it is gone.
    virtual void onAttach() {}
    virtual void onDetach() {}

  private:
    struct PendingIn {
        UsbIp::Submit urb;
        bool shortened;
    };
    struct EndpointState {
        Endpoint endpoint;
        bool halted = false;
        uint64_t transfers = 0;
        std::deque<std::vector<uint8_t>> data; // IN: what waits for URBs
        std::deque<PendingIn> pending;         // IN: URBs that wait for data
    };

    void control(const UsbIp::Submit& urb);
    void bulkOut(const UsbIp::Submit& urb);
    void bulkIn(const UsbIp::Submit& urb);
    void unlink(const UsbIp::Unlink& request);
    std::optional<std::vector<uint8_t>> standardRequest(const UsbIp::Setup& setup);
    std::optional<std::vector<uint8_t>> hidRequest(const UsbIp::Setup& setup,
                                                   const std::vector<uint8_t>& data);
    std::optional<std::vector<uint8_t>> descriptor(const UsbIp::Setup& setup) const;
    std::vector<uint8_t> stringDescriptor(uint8_t index) const;
    std::vector<uint8_t> hidDescriptor() const;
    EndpointState* endpoint(uint8_t address);
    void serveIn(EndpointState& state);
    void reply(const std::vector<uint8_t>& bytes);
    enum class Fault { None, Stall, Short };
    // The endpoint of a bulk or interrupt URB, counted for the faults (the fault
    // it meets in fault); null once the URB was answered with a stall.
    EndpointState* admit(const UsbIp::Submit& urb, Fault& fault);
    void notifyPresence();

    mutable std::mutex mutex_;
    Description description_;
    std::string nextSerial_;
    Sink sink_;
    uint8_t configuration_ = 0;
    std::map<uint8_t, EndpointState> endpoints_;
    Faults faults_;
    uint64_t bulkTransfers_ = 0;
    uint64_t outBytes_ = 0;
    bool vanished_ = false;
    Presence presence_;
    std::mutex listenerMutex_; // held while the listener runs; taken before mutex_, never under it
    std::function<void()> presenceListener_;
};

} // namespace Veltrano::Sim
