// Round-trip peers the benchmarks share: a raw loopback TCP ping-pong of a
// system entity get and its reply between two threads, the same request and
// reply through a link to the virtual module, raw requests to the virtual
// module, and timing helpers.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <thread>
#include <vector>

#include "ModuleTcpServer.h"
#include "VirtualModule.h"
#include "aLink.h"

namespace RoundTrip {

using namespace Veltrano::Sim;

using Clock = std::chrono::steady_clock;

constexpr uint8 kAddress = 4;
// A system entity get of the serial number, and its reply.
constexpr uint8 kRequest[] = {kAddress, 3, 3, 0x49, 0x20};
constexpr uint8 kReply[] = {kAddress, 7, 3, 0x09, 0x00, 0x40, 0xF5, 0x84, 0x9A};

inline double median(std::vector<double>& samples) {
    if (samples.empty()) return 0;
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

inline bool readExactly(int fd, uint8* bytes, size_t count) {
    while (count > 0) {
        ssize_t n = ::read(fd, bytes, count);
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

inline bool writeAll(int fd, const uint8* bytes, size_t count) {
    while (count > 0) {
        ssize_t n = ::write(fd, bytes, count);
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

inline void noDelay(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// A listening socket on a free loopback port; *address receives where it listens.
inline int listenOnLoopback(sockaddr_in* address) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    address->sin_family = AF_INET;
    address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address->sin_port = 0;
    socklen_t length = sizeof *address;
    ::bind(listener, reinterpret_cast<sockaddr*>(address), sizeof *address);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(address), &length);
    return listener;
}

// A raw loopback TCP connection to a thread that answers each request with the
// reply; by default the system entity get, or messages of the sizes given.
class RawEcho {
  public:
    RawEcho()
        : RawEcho(std::vector<uint8>(kRequest, std::end(kRequest)),
                  std::vector<uint8>(kReply, std::end(kReply))) {}
    RawEcho(size_t requestBytes, size_t replyBytes)
        : RawEcho(std::vector<uint8>(requestBytes, kAddress), std::vector<uint8>(replyBytes, kAddress)) {}
    RawEcho(std::vector<uint8> request, std::vector<uint8> reply)
        : request_(std::move(request)), reply_(std::move(reply)) {
        sockaddr_in address = {};
        listener_ = listenOnLoopback(&address);
        echo_ = std::thread([this] {
            int fd = ::accept(listener_, nullptr, nullptr);
            noDelay(fd);
            std::vector<uint8> request(request_.size());
            while (readExactly(fd, request.data(), request.size()) &&
                   writeAll(fd, reply_.data(), reply_.size())) {
            }
            ::close(fd);
        });
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        noDelay(fd_);
        received_.resize(reply_.size());
    }
    ~RawEcho() {
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        echo_.join();
        ::close(listener_);
    }
    bool roundTrip() {
        return writeAll(fd_, request_.data(), request_.size()) &&
               readExactly(fd_, received_.data(), received_.size());
    }

  private:
    std::vector<uint8> request_;
    std::vector<uint8> reply_;
    std::vector<uint8> received_;
    int listener_;
    int fd_;
    std::thread echo_;
};

// A raw loopback TCP connection to the virtual module: each round trip writes
// the request's wire bytes and reads a reply of the given length, so the
// module's own cost shows without the host's link engine.
class RawToModule {
  public:
    RawToModule(std::vector<uint8> request, size_t replyBytes)
        : server_(module_), request_(std::move(request)), reply_(replyBytes) {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(server_.port());
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        noDelay(fd_);
    }
    ~RawToModule() { ::close(fd_); }
    bool roundTrip() {
        return writeAll(fd_, request_.data(), request_.size()) &&
               readExactly(fd_, reply_.data(), reply_.size());
    }

  private:
    VirtualModule module_;
    ModuleTcpServer server_;
    std::vector<uint8> request_;
    std::vector<uint8> reply_;
    int fd_;
};

inline bool isReply(const aPacket* packet, void*) {
    return packet->address == kAddress && packet->dataSize == 7 && packet->data[1] == 0x09;
}

// The same request and reply through a link to the virtual module.
class LinkToModule {
  public:
    LinkToModule() : server_(module_) {
        ref_ = aLink_CreateTCPIP(htonl(INADDR_LOOPBACK), server_.port());
        request_ = aPacket_CreateWithData(kAddress, sizeof kRequest - 2, kRequest + 2);
    }
    ~LinkToModule() {
        aPacket_Destroy(&request_);
        aLink_Destroy(&ref_);
    }
    bool roundTrip() {
        if (!ref_ || aLink_PutPacket(ref_, request_) != aErrNone) return false;
        aPacket* reply = aLink_AwaitFirst(ref_, isReply, nullptr, 1000);
        bool ok = reply != nullptr;
        aPacket_Destroy(&reply);
        return ok;
    }

  private:
    VirtualModule module_;
    ModuleTcpServer server_;
    uint32 ref_ = 0;
    aPacket* request_ = nullptr;
};

template <class Peer> bool timeRoundTrips(Peer& peer, int count, std::vector<double>& samples) {
    for (int i = 0; i < count; ++i) {
        Clock::time_point start = Clock::now();
        if (!peer.roundTrip()) return false;
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return true;
}

} // namespace RoundTrip
