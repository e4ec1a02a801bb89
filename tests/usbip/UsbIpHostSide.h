// The kernel's side of USB/IP, played by a test: a UsbIpHost that hands each
// connection's socket to the test, and a HostEnd that sends URBs on one and
// reads the device's answers, every wait bounded.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "UsbIpCable.h"
#include "UsbIpCodec.h"

namespace Veltrano::Sim::Test {

class FakeHost : public UsbIpHost {
  public:
    ~FakeHost() override;
    int attach(int fd, uint32_t devid, UsbIpDevice::Speed speed) override;
    void detach(int port) override;

    // The socket of the nth connection (from 0), or -1 after timeoutMs.
    int connection(size_t n, uint32_t timeoutMs);
    size_t attaches() const;
    size_t detaches() const;
    UsbIpDevice::Speed lastSpeed() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable attached_;
    std::vector<int> fds_;
    size_t detaches_ = 0;
    UsbIpDevice::Speed speed_ = UsbIpDevice::Speed::Full;
};

class HostEnd {
  public:
    static constexpr uint32_t kWaitMs = 2000;

    explicit HostEnd(int fd) : fd_(fd) {}

    // Sends an URB (its seqnum assigned here) or an unlink; answers the seqnum.
    uint32_t send(UsbIp::Submit urb);
    uint32_t unlink(uint32_t victim);
    // The raw bytes, as a broken host might send them.
    void sendBytes(const std::vector<uint8_t>& bytes);
    // The next answer, or nothing within timeoutMs (or once the device hung up).
    std::optional<UsbIp::Reply> next(uint32_t timeoutMs = kWaitMs);
    // True once the device closed the connection, within timeoutMs.
    bool closed(uint32_t timeoutMs = kWaitMs);

    // An URB and its answer (a failed RetSubmit with status 1 when none came).
    UsbIp::RetSubmit control(const UsbIp::Setup& setup, const std::vector<uint8_t>& out = {});
    UsbIp::RetSubmit bulkOut(uint8_t ep, const std::vector<uint8_t>& bytes);
    UsbIp::RetSubmit bulkIn(uint8_t ep, uint32_t length);
    uint32_t submitIn(uint8_t ep, uint32_t length);
    // The answer to one URB: others that come first are an error.
    UsbIp::RetSubmit answerTo(uint32_t seqnum, uint32_t timeoutMs = kWaitMs);

  private:
    int fd_;
    uint32_t seqnum_ = 0;
    UsbIp::ReplyParser parser_;
    bool closed_ = false;
};

// GET_DESCRIPTOR (type, index) from the device, as the hub driver asks.
UsbIp::Setup getDescriptor(uint8_t type, uint8_t index, uint16_t length, uint16_t language = 0);
UsbIp::Setup setConfiguration(uint8_t value);

} // namespace Veltrano::Sim::Test
