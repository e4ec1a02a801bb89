#include "UsbIpCable.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace Veltrano::Sim {

namespace {

void sSendAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return; // the reader sees the end of the connection
        at += static_cast<size_t>(n);
    }
}

} // namespace

UsbIpCable::UsbIpCable(UsbIpDevice& device, UsbIpHost& host, uint32_t devid, Events events,
                       uint32_t reenumDelayMs)
    : device_(device), host_(host), devid_(devid), events_(std::move(events)), reenumDelayMs_(reenumDelayMs) {
    device_.setPresenceListener([this] {
        { std::lock_guard<std::mutex> lock(mutex_); }
        changed_.notify_all();
    });
    thread_ = std::thread([this] { run(); });
}

UsbIpCable::~UsbIpCable() {
    device_.setPresenceListener(nullptr);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool UsbIpCable::plugged() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connected_;
}

uint64_t UsbIpCable::plugs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return plugs_;
}

bool UsbIpCable::waitPlugged(bool plugged, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return connected_ == plugged; });
}

bool UsbIpCable::waitPlugs(uint64_t count, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return plugs_ >= count || gaveUp_; });
    return plugs_ >= count;
}

// Brings the cable in line with the device's presence, one step at a time.
void UsbIpCable::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        UsbIpDevice::Presence presence = device_.presence();
        if (connected_ && (hostGone_ || !presence.present || presence.epoch != epoch_)) {
            if (hostGone_) lostEpoch_ = epoch_;
            lock.unlock();
            unplug();
            lock.lock();
            continue;
        }
        if (!connected_ && presence.present && presence.epoch != lostEpoch_) {
            if (plugs_ > 0 && reenumDelayMs_ > 0) {
                changed_.wait_for(lock, std::chrono::milliseconds(reenumDelayMs_), [this] { return stop_; });
                if (stop_) break;
                presence = device_.presence();
                if (!presence.present || presence.epoch == lostEpoch_) continue;
            }
            lock.unlock();
            plug(presence.epoch);
            lock.lock();
            continue;
        }
        changed_.wait(lock);
    }
    bool connected = connected_;
    lock.unlock();
    if (connected) unplug();
}

void UsbIpCable::plug(uint64_t epoch) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        if (events_.failed) events_.failed(device_.label(), std::strerror(errno));
        giveUp(epoch);
        return;
    }
    int fd = pair[0];
    device_.attach([fd](const std::vector<uint8_t>& bytes) { sSendAll(fd, bytes); });
    std::string label = device_.label();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hostGone_ = false;
    }
    reader_ = std::thread([this, fd] { read(fd); });
    int port = -1;
    std::string why;
    try {
        port = host_.attach(pair[1], devid_, device_.speed());
    } catch (const std::exception& e) {
        why = e.what();
    }
    ::close(pair[1]);
    if (port < 0) {
        ::shutdown(fd, SHUT_RDWR);
        device_.detach();
        reader_.join();
        ::close(fd);
        if (events_.failed) events_.failed(label, why);
        giveUp(epoch);
        return;
    }
    // Told before the plug counts, so a waiter on the count hears it after.
    if (events_.attached) events_.attached(label, port);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connected_ = true;
        epoch_ = epoch;
        fd_ = fd;
        port_ = port;
        label_ = label;
        gaveUp_ = false;
        ++plugs_;
    }
    changed_.notify_all();
}

// Not tried again until the device comes back to the bus.
void UsbIpCable::giveUp(uint64_t epoch) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lostEpoch_ = epoch;
        gaveUp_ = true;
    }
    changed_.notify_all();
}

void UsbIpCable::unplug() {
    // The socket goes first: a reply blocked on a host that stopped reading holds
    // the device's lock, which detaching the device waits for.
    ::shutdown(fd_, SHUT_RDWR);
    device_.detach();
    host_.detach(port_);
    reader_.join();
    ::close(fd_);
    std::string label;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connected_ = false;
        fd_ = -1;
        port_ = -1;
        label = label_;
    }
    changed_.notify_all();
    if (events_.detached) events_.detached(label);
}

void UsbIpCable::read(int fd) {
    UsbIp::RequestParser parser;
    std::vector<uint8_t> buffer(64 * 1024);
    for (;;) {
        ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        parser.feed(buffer.data(), static_cast<size_t>(n));
        while (auto request = parser.next())
            device_.handle(*request);
        if (parser.failed()) {
            if (events_.failed) events_.failed(device_.label(), "host sent " + parser.error());
            break;
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hostGone_ = true;
    }
    changed_.notify_all();
}

} // namespace Veltrano::Sim
