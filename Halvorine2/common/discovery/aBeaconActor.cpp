// Our own UDP beacon, for interfaces czmq's zbeacon cannot use (loopback above all). It
// speaks zbeacon's commands; see aBeacon.h.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "aBeacon.h"

namespace {

const size_t kMaxPayload = 255; // zbeacon's UDP_FRAME_MAX
const int kDefaultIntervalMs = 1000;
const long kIdlePollMs = 1000;

struct Interface {
    bool found = false;
    in_addr address{};
    in_addr broadcast{};
};

bool sMatches(const ifaddrs* entry, const std::string& setting) {
    if (setting.empty() || setting == "*") return (entry->ifa_flags & IFF_LOOPBACK) != 0;
    in_addr wanted;
    if (inet_pton(AF_INET, setting.c_str(), &wanted) == 1)
        return reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr == wanted.s_addr;
    return setting == entry->ifa_name;
}

// The interface the setting names, with its broadcast address (every host bit set where
// the interface has none, as loopback).
Interface sFindInterface(const std::string& setting) {
    Interface result;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return result;
    for (const ifaddrs* entry = list; entry && !result.found; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !(entry->ifa_flags & IFF_UP) ||
            !sMatches(entry, setting))
            continue;
        result.found = true;
        result.address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
        if ((entry->ifa_flags & IFF_BROADCAST) && entry->ifa_broadaddr) {
            result.broadcast = reinterpret_cast<const sockaddr_in*>(entry->ifa_broadaddr)->sin_addr;
        } else {
            uint32_t mask = entry->ifa_netmask
                                ? reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr
                                : 0xFFFFFFFFu;
            result.broadcast.s_addr = result.address.s_addr | ~mask;
        }
    }
    freeifaddrs(list);
    return result;
}

std::string sDotted(in_addr address) {
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

int64_t sNow() {
    return zclock_mono();
}

class Beacon {
  public:
    Beacon(zsock_t* pipe, const char* setting) : pipe_(pipe), setting_(setting ? setting : "") {}
    ~Beacon() { closeSockets(); }
    Beacon(const Beacon&) = delete;
    Beacon& operator=(const Beacon&) = delete;

    void run() {
        zsock_signal(pipe_, 0);
        while (!terminated_) {
            zmq_pollitem_t items[2] = {{zsock_resolve(pipe_), 0, ZMQ_POLLIN, 0},
                                       {nullptr, rx_, ZMQ_POLLIN, 0}};
            if (zmq_poll(items, rx_ >= 0 ? 2 : 1, pollTimeout()) == -1) {
                if (errno == EINTR) continue;
                break;
            }
            if (items[0].revents & ZMQ_POLLIN) command();
            if (rx_ >= 0 && (items[1].revents & ZMQ_POLLIN)) receive();
            if (!transmit_.empty() && sNow() >= nextPing_) ping();
        }
    }

  private:
    long pollTimeout() const {
        if (transmit_.empty()) return kIdlePollMs;
        int64_t left = nextPing_ - sNow();
        return left < 0 ? 0 : static_cast<long>(left);
    }

    void command() {
        zmsg_t* message = zmsg_recv(pipe_);
        if (!message) {
            terminated_ = true;
            return;
        }
        char* name = zmsg_popstr(message);
        std::string command = name ? name : "";
        zstr_free(&name);
        if (command == "$TERM")
            terminated_ = true;
        else if (command == "CONFIGURE")
            configure(message);
        else if (command == "PUBLISH")
            publish(message);
        else if (command == "SILENCE")
            transmit_.clear();
        else if (command == "SUBSCRIBE")
            subscribe(message);
        else if (command == "UNSUBSCRIBE")
            subscribed_ = false;
        zmsg_destroy(&message);
    }

    void configure(zmsg_t* message) {
        char* port = zmsg_popstr(message);
        int number = port ? std::atoi(port) : 0;
        zstr_free(&port);
        closeSockets();
        std::string host =
            number > 0 && number < 65536 && openSockets(static_cast<uint16_t>(number)) ? host_ : "";
        zstr_send(pipe_, host.c_str());
    }

    bool openSockets(uint16_t port) {
        Interface interface = sFindInterface(setting_);
        if (!interface.found) return false;
        rx_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        tx_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        const int on = 1;
        sockaddr_in listen = address(interface.broadcast, port);
        sockaddr_in from = address(interface.address, 0);
        bool open = rx_ >= 0 && tx_ >= 0 && setsockopt(rx_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                    setsockopt(rx_, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) == 0 &&
                    bind(rx_, reinterpret_cast<sockaddr*>(&listen), sizeof listen) == 0 &&
                    setsockopt(tx_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0 &&
                    bind(tx_, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0;
        if (!open) {
            closeSockets();
            return false;
        }
        to_ = listen;
        host_ = sDotted(interface.address);
        return true;
    }

    void closeSockets() {
        if (rx_ >= 0) close(rx_);
        if (tx_ >= 0) close(tx_);
        rx_ = tx_ = -1;
    }

    static sockaddr_in address(in_addr host, uint16_t port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr = host;
        a.sin_port = htons(port);
        return a;
    }

    void publish(zmsg_t* message) {
        zframe_t* data = zmsg_pop(message);
        char* interval = zmsg_popstr(message);
        intervalMs_ = interval && std::atoi(interval) > 0 ? std::atoi(interval) : kDefaultIntervalMs;
        zstr_free(&interval);
        if (data && zframe_size(data) <= kMaxPayload) {
            transmit_.assign(zframe_data(data), zframe_data(data) + zframe_size(data));
            nextPing_ = sNow();
        }
        zframe_destroy(&data);
    }

    void subscribe(zmsg_t* message) {
        zframe_t* prefix = zmsg_pop(message);
        filter_.clear();
        if (prefix) filter_.assign(zframe_data(prefix), zframe_data(prefix) + zframe_size(prefix));
        zframe_destroy(&prefix);
        subscribed_ = true;
    }

    void ping() {
        if (tx_ >= 0)
            sendto(tx_, transmit_.data(), transmit_.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&to_),
                   sizeof to_);
        nextPing_ = sNow() + intervalMs_;
    }

    void receive() {
        uint8_t datagram[kMaxPayload + 1];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        ssize_t length = recvfrom(rx_, datagram, sizeof datagram, MSG_DONTWAIT | MSG_TRUNC,
                                  reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length < 0 || static_cast<size_t>(length) > kMaxPayload || !subscribed_) return;
        const size_t size = static_cast<size_t>(length);
        if (size < filter_.size() || !std::equal(filter_.begin(), filter_.end(), datagram)) return;
        if (size == transmit_.size() && std::equal(transmit_.begin(), transmit_.end(), datagram)) return;
        zmsg_t* heard = zmsg_new();
        zmsg_addstr(heard, sDotted(from.sin_addr).c_str());
        zmsg_addmem(heard, datagram, size);
        zmsg_send(&heard, pipe_);
    }

    zsock_t* pipe_;
    const std::string setting_;
    int rx_ = -1;
    int tx_ = -1;
    sockaddr_in to_{};
    std::string host_;
    std::vector<uint8_t> transmit_;
    int intervalMs_ = kDefaultIntervalMs;
    int64_t nextPing_ = 0;
    bool subscribed_ = false;
    std::vector<uint8_t> filter_;
    bool terminated_ = false;
};

} // namespace

extern "C" void aBeacon_Actor(zsock_t* pipe, void* args) {
    Beacon beacon(pipe, static_cast<const char*>(args));
    std::free(args);
    beacon.run();
}
