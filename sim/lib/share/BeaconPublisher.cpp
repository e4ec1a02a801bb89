#include "BeaconPublisher.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "IsolatedNetwork.h"

namespace Veltrano::Sim {

namespace {

const uint16_t kPort = 8585;
const char kDiscovery[] = "Halvorine2-Discovery";
const int64_t kAnswerMs = 2000;

sockaddr_in sAddress(const std::string& text, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (inet_pton(AF_INET, text.c_str(), &a.sin_addr) != 1)
        throw std::runtime_error("not an IPv4 address: " + text);
    return a;
}

int64_t sNowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

BeaconPublisher::BeaconPublisher(BeaconPublisherOptions options) : options_(std::move(options)) {
    requireIsolatedNetwork("the beacon publisher");
    const int on = 1;
    sockaddr_in from = sAddress(options_.from, 0);
    sockaddr_in listen = sAddress(options_.to, kPort);
    sender_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    listener_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    bool open = sender_ >= 0 && listener_ >= 0 &&
                setsockopt(sender_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0 &&
                bind(sender_, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
                setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                bind(listener_, reinterpret_cast<sockaddr*>(&listen), sizeof listen) == 0 && pipe(stop_) == 0;
    if (!open) {
        for (int fd : {sender_, listener_, stop_[0], stop_[1]})
            if (fd >= 0) close(fd);
        throw std::runtime_error("beacon publisher: cannot open its sockets");
    }
    thread_ = std::thread([this] { run(); });
}

BeaconPublisher::~BeaconPublisher() {
    (void)!write(stop_[1], "x", 1);
    thread_.join();
    for (int fd : {sender_, listener_, stop_[0], stop_[1]})
        close(fd);
}

bool BeaconPublisher::hearDiscovery() {
    char datagram[256];
    ssize_t n = recv(listener_, datagram, sizeof datagram, MSG_DONTWAIT);
    bool discovery =
        n == static_cast<ssize_t>(sizeof kDiscovery - 1) && std::memcmp(datagram, kDiscovery, n) == 0;
    if (discovery) heard_++;
    return discovery;
}

void BeaconPublisher::run() {
    const sockaddr_in to = sAddress(options_.to, kPort);
    int64_t answerUntil = 0;
    int64_t nextSend = sNowMs();
    for (;;) {
        int64_t now = sNowMs();
        int wait = static_cast<int>(nextSend > now ? nextSend - now : 0);
        pollfd fds[2] = {{listener_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        if (poll(fds, 2, wait) < 0 || (fds[1].revents & POLLIN)) return;
        if ((fds[0].revents & POLLIN) && hearDiscovery()) answerUntil = sNowMs() + kAnswerMs;
        now = sNowMs();
        if (now < nextSend) continue;
        nextSend = now + options_.intervalMs;
        if (options_.answer && now >= answerUntil) continue;
        if (sendto(sender_, options_.payload.data(), options_.payload.size(), 0,
                   reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0)
            sent_++;
    }
}

} // namespace Veltrano::Sim
