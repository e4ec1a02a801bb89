#include "UsbIpHostSide.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace Veltrano::Sim::Test {

using namespace UsbIp;

FakeHost::~FakeHost() {
    for (int fd : fds_)
        ::close(fd);
}

int FakeHost::attach(int fd, uint32_t, UsbIpDevice::Speed speed) {
    std::lock_guard<std::mutex> lock(mutex_);
    fds_.push_back(::dup(fd));
    speed_ = speed;
    attached_.notify_all();
    return static_cast<int>(fds_.size() - 1);
}

void FakeHost::detach(int) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++detaches_;
}

int FakeHost::connection(size_t n, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!attached_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return fds_.size() > n; }))
        return -1;
    return fds_[n];
}

size_t FakeHost::attaches() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fds_.size();
}

size_t FakeHost::detaches() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return detaches_;
}

UsbIpDevice::Speed FakeHost::lastSpeed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return speed_;
}

uint32_t HostEnd::send(Submit urb) {
    urb.seqnum = ++seqnum_;
    sendBytes(encode(urb));
    return urb.seqnum;
}

uint32_t HostEnd::unlink(uint32_t victim) {
    Unlink request;
    request.seqnum = ++seqnum_;
    request.victim = victim;
    sendBytes(encode(request));
    return request.seqnum;
}

void HostEnd::sendBytes(const std::vector<uint8_t>& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n <= 0) return;
        at += static_cast<size_t>(n);
    }
}

std::optional<Reply> HostEnd::next(uint32_t timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (auto reply = parser_.next()) return reply;
        if (closed_) return std::nullopt;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
        uint8_t buffer[65536];
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) {
            closed_ = true;
            continue;
        }
        parser_.feed(buffer, static_cast<size_t>(n));
    }
}

bool HostEnd::closed(uint32_t timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!closed_ && std::chrono::steady_clock::now() < deadline)
        next(20);
    return closed_;
}

RetSubmit HostEnd::answerTo(uint32_t seqnum, uint32_t timeoutMs) {
    std::optional<Reply> reply = next(timeoutMs);
    const RetSubmit* ret = reply ? std::get_if<RetSubmit>(&*reply) : nullptr;
    if (!ret || ret->seqnum != seqnum) {
        RetSubmit none;
        none.status = 1;
        return none;
    }
    return *ret;
}

RetSubmit HostEnd::control(const Setup& setup, const std::vector<uint8_t>& out) {
    Submit urb;
    urb.direction = setup.deviceToHost() ? kDirIn : kDirOut;
    urb.bufferLength = setup.length;
    urb.setup = setup.encode();
    urb.data = out;
    return answerTo(send(urb));
}

RetSubmit HostEnd::bulkOut(uint8_t ep, const std::vector<uint8_t>& bytes) {
    Submit urb;
    urb.ep = ep;
    urb.direction = kDirOut;
    urb.bufferLength = static_cast<uint32_t>(bytes.size());
    urb.data = bytes;
    return answerTo(send(urb));
}

uint32_t HostEnd::submitIn(uint8_t ep, uint32_t length) {
    Submit urb;
    urb.ep = ep;
    urb.direction = kDirIn;
    urb.bufferLength = length;
    return send(urb);
}

RetSubmit HostEnd::bulkIn(uint8_t ep, uint32_t length) {
    return answerTo(submitIn(ep, length));
}

Setup getDescriptor(uint8_t type, uint8_t index, uint16_t length, uint16_t language) {
    return Setup{0x80, 0x06, static_cast<uint16_t>(type << 8 | index), language, length};
}

Setup setConfiguration(uint8_t value) {
    return Setup{0x00, 0x09, value, 0, 0};
}

} // namespace Veltrano::Sim::Test
