#include "DiscoveryResponder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "IsolatedNetwork.h"

namespace Veltrano::Sim {

namespace {

const char kGroup[] = "232.2.2.2";
const uint16_t kRequestPort = 9888;
const uint16_t kReplyPort = 9889;
const size_t kDatagram = 16;

in_addr sParse(const std::string& text) {
    in_addr address;
    if (inet_pton(AF_INET, text.c_str(), &address) != 1)
        throw std::runtime_error("not an IPv4 address: " + text);
    return address;
}

} // namespace

std::string DiscoveryResponder::reply(const DiscoveryModule& module) {
    std::string bytes(kDatagram, '\0');
    bytes[1] = static_cast<char>(module.address);
    bytes[2] = static_cast<char>(module.tcpPort & 0xFF);
    bytes[3] = static_cast<char>(module.tcpPort >> 8);
    for (int i = 0; i < 4; i++)
        bytes[4 + i] = static_cast<char>(module.serialNumber >> (8 * i));
    bytes[12] = static_cast<char>(module.model);
    return bytes;
}

DiscoveryResponder::DiscoveryResponder(DiscoveryResponderOptions options, Presence present)
    : options_(std::move(options)), present_(std::move(present)) {
    requireIsolatedNetwork("the discovery responder");
    socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    const int on = 1;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(kRequestPort);
    bool open = socket_ >= 0 && setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                bind(socket_, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0 && pipe(stop_) == 0;
    for (const std::string& interface : options_.interfaces) {
        ip_mreq membership{};
        membership.imr_multiaddr = sParse(kGroup);
        membership.imr_interface = sParse(interface);
        open =
            open && setsockopt(socket_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) == 0;
    }
    if (!open) {
        if (socket_ >= 0) close(socket_);
        for (int fd : stop_)
            if (fd >= 0) close(fd);
        throw std::runtime_error("discovery responder: cannot open its socket");
    }
    thread_ = std::thread([this] { run(); });
}

DiscoveryResponder::~DiscoveryResponder() {
    (void)!write(stop_[1], "x", 1);
    thread_.join();
    close(socket_);
    close(stop_[0]);
    close(stop_[1]);
}

void DiscoveryResponder::run() {
    for (;;) {
        pollfd fds[2] = {{socket_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        if (poll(fds, 2, 1000) < 0 || (fds[1].revents & POLLIN)) return;
        if (!(fds[0].revents & POLLIN)) continue;
        uint8_t request[64];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        ssize_t n = recvfrom(socket_, request, sizeof request, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from),
                             &length);
        if (n != static_cast<ssize_t>(kDatagram) || request[0] != 1) continue;
        requests_++;
        answer(from.sin_addr.s_addr);
    }
}

void DiscoveryResponder::answer(uint32_t askerAddress) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = askerAddress;
    to.sin_port = htons(kReplyPort);
    auto send = [&](const std::string& bytes) {
        sendto(socket_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    };
    for (const std::string& stray : options_.strayBefore)
        send(stray);
    for (const DiscoveryModule& module : options_.modules)
        if (!present_ || present_(module)) send(reply(module));
}

} // namespace Veltrano::Sim
