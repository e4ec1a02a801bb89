// What the network discovery tests share: running a discovery and timing it, a sender
// that floods a UDP port, an emulator program run in the background, and counts of this
// process's threads and descriptors.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "aDiscovery.h"

namespace ApiTest {

struct DiscoveryRun {
    std::vector<linkSpec> specs; // in the order discovery reported them
    int count = 0;               // discovery's own answer
    double seconds = 0;
};

// Every module found is kept and counted; stopAfter > 0 ends discovery after that many.
DiscoveryRun discover(linkType type, uint32 networkInterface = 0, size_t stopAfter = 0);

uint32 ipv4(const char* dotted);

// A link-sharing server's record as its beacon carries it.
linkSpec serverSpec(uint32 serialNumber, const char* ip, uint16 port, uint32 model = 4);
std::string payloadOf(const linkSpec& spec);

// Sends the datagram to host:port every intervalMs until destroyed.
class UdpFlooder {
  public:
    UdpFlooder(const char* host, uint16_t port, std::string datagram, int intervalMs);
    ~UdpFlooder();
    UdpFlooder(const UdpFlooder&) = delete;
    UdpFlooder& operator=(const UdpFlooder&) = delete;
    uint64_t sent() const { return sent_.load(); }

  private:
    int socket_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> sent_{0};
    std::thread thread_;
};

// A program running in the background until destroyed (SIGTERM, then SIGKILL after 5 s).
class BackgroundProgram {
  public:
    explicit BackgroundProgram(const std::vector<std::string>& argv);
    ~BackgroundProgram();
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;
    // Its first line of output, waiting at most timeoutMs.
    std::string firstLine(int timeoutMs = 5000);
    // Ends it and answers its exit status (-1 when killed).
    int stop();

  private:
    int pid_ = -1;
    int out_ = -1;
};

std::string program(const char* name);

int threadCount();
int descriptorCount();
// Polls until the count is at most the bound (threads and sockets of czmq end shortly
// after their owner let go); answers the last count seen.
int settlesTo(int (*count)(), int bound, int timeoutMs = 3000);
// The count once it has stayed the same for 300 ms (at most timeoutMs).
int steadyCount(int (*count)(), int timeoutMs = 3000);

} // namespace ApiTest
