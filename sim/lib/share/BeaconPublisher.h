// A link-sharing server's beacon as another machine shows it: a 128-byte payload (a link
// specifier) sent on UDP 8585 to the broadcast address of one interface, from that
// interface's address, every interval, the way czmq's zbeacon publishes on an interface.
// In answer mode it publishes only for 2 s after hearing a discovery beacon (the payload
// "Halvorine2-Discovery"), as a server does.
//
// Runs only in a test's own network namespace (IsolatedNetwork.h): the sockets are made
// in the constructor, in the calling thread's namespace; a thread publishes until the
// publisher is destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace Veltrano::Sim {

struct BeaconPublisherOptions {
    std::string from = "127.0.0.1";     // the interface's address
    std::string to = "127.255.255.255"; // its broadcast address
    std::string payload;                // sent unchanged
    uint32_t intervalMs = 100;
    bool answer = false; // publish only after a discovery beacon
};

class BeaconPublisher {
  public:
    // Throws std::runtime_error when the sockets cannot be made or the network is not
    // isolated.
    explicit BeaconPublisher(BeaconPublisherOptions options);
    ~BeaconPublisher();
    BeaconPublisher(const BeaconPublisher&) = delete;
    BeaconPublisher& operator=(const BeaconPublisher&) = delete;

    uint64_t sent() const { return sent_.load(); }
    // Discovery beacons heard (answer mode).
    uint64_t discoveriesHeard() const { return heard_.load(); }

  private:
    void run();
    bool hearDiscovery();

    BeaconPublisherOptions options_;
    int sender_ = -1;
    int listener_ = -1;
    int stop_[2] = {-1, -1};
    std::atomic<uint64_t> sent_{0};
    std::atomic<uint64_t> heard_{0};
    std::thread thread_;
};

} // namespace Veltrano::Sim
