// The multicast discovery side of modules with an Ethernet interface: joins 232.2.2.2
// on the given interfaces, and answers every 16-byte request (first byte 1) on UDP 9888
// with one 16-byte reply per module, sent to the asker's address on port 9889. Replies
// come from the interface the request arrived on, so a module heard through two
// interfaces answers through both.
//
// Runs only in a test's own network namespace (IsolatedNetwork.h): the sockets are made
// in the constructor, in the calling thread's namespace; a thread answers until the
// responder is destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace Veltrano::Sim {

struct DiscoveryModule {
    uint32_t serialNumber = 0x40F5849A;
    uint8_t address = 4;
    uint16_t tcpPort = 7978;
    uint8_t model = 4;
};

struct DiscoveryResponderOptions {
    // IPv4 addresses (dotted) of the interfaces to join the group on.
    std::vector<std::string> interfaces;
    std::vector<DiscoveryModule> modules{DiscoveryModule{}};
    // Sent to the asker's reply port before the replies: datagrams that are not replies
    // (a stray sender on the same port).
    std::vector<std::string> strayBefore;
};

class DiscoveryResponder {
  public:
    // Whether a module is there to answer (one that is away, rebooting, is silent).
    using Presence = std::function<bool(const DiscoveryModule&)>;

    // Throws std::runtime_error when the sockets cannot be made or the network is not
    // isolated. Without presence every module answers.
    explicit DiscoveryResponder(DiscoveryResponderOptions options, Presence present = {});
    ~DiscoveryResponder();
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    // Requests answered so far.
    uint64_t requests() const { return requests_.load(); }

    // The reply a module sends, byte for byte.
    static std::string reply(const DiscoveryModule& module);

  private:
    void run();
    void answer(uint32_t askerAddress);

    DiscoveryResponderOptions options_;
    Presence present_;
    int socket_ = -1;
    int stop_[2] = {-1, -1};
    std::atomic<uint64_t> requests_{0};
    std::thread thread_;
};

} // namespace Veltrano::Sim
