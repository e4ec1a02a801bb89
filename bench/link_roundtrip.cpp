// Request/reply round trips through a link to the virtual module over loopback
// TCP, against a raw loopback TCP ping-pong of the same bytes between two threads;
// and packets per second through a link, pooled and unpooled.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "ModuleTcpServer.h"
#include "VirtualModule.h"
#include "aLink.h"
#include "aTime.h"

using namespace Veltrano::Sim;

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8 kAddress = 4;
// A system entity get of the serial number, and its reply.
const uint8 kRequest[] = {kAddress, 3, 3, 0x49, 0x20};
const uint8 kReply[] = {kAddress, 7, 3, 0x09, 0x00, 0x40, 0xF5, 0x84, 0x9A};

double gRawMedianUs = 0;
double gLinkMedianUs = 0;

double median(std::vector<double>& samples) {
    if (samples.empty()) return 0;
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

bool readExactly(int fd, uint8* bytes, size_t count) {
    while (count > 0) {
        ssize_t n = ::read(fd, bytes, count);
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

bool writeAll(int fd, const uint8* bytes, size_t count) {
    while (count > 0) {
        ssize_t n = ::write(fd, bytes, count);
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

void noDelay(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void BM_RawTcpPingPong(benchmark::State& state) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

    std::thread echo([listener] {
        int fd = ::accept(listener, nullptr, nullptr);
        noDelay(fd);
        uint8 request[sizeof kRequest];
        while (readExactly(fd, request, sizeof request) && writeAll(fd, kReply, sizeof kReply)) {
        }
        ::close(fd);
    });
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    noDelay(fd);

    std::vector<double> samples;
    uint8 reply[sizeof kReply];
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        if (!writeAll(fd, kRequest, sizeof kRequest) || !readExactly(fd, reply, sizeof reply)) {
            state.SkipWithError("raw ping-pong failed");
            break;
        }
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
    echo.join();
    ::close(listener);
    gRawMedianUs = median(samples);
    state.counters["median_us"] = gRawMedianUs;
}
BENCHMARK(BM_RawTcpPingPong)->MinTime(2.0)->UseRealTime();

bool isReply(const aPacket* packet, void*) {
    return packet->address == kAddress && packet->dataSize == 7 && packet->data[1] == 0x09;
}

void BM_LinkRoundTrip(benchmark::State& state) {
    VirtualModule module;
    ModuleTcpServer server(module);
    uint32 ref = aLink_CreateTCPIP(htonl(INADDR_LOOPBACK), server.port());
    if (!ref) {
        state.SkipWithError("no link");
        return;
    }
    aPacket* request = aPacket_CreateWithData(kAddress, sizeof kRequest - 2, kRequest + 2);
    std::vector<double> samples;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        aLink_PutPacket(ref, request);
        aPacket* reply = aLink_AwaitFirst(ref, isReply, nullptr, 1000);
        if (!reply) {
            state.SkipWithError("no reply");
            break;
        }
        aPacket_Destroy(&reply);
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    aPacket_Destroy(&request);
    aLink_Destroy(&ref);
    gLinkMedianUs = median(samples);
    state.counters["median_us"] = gLinkMedianUs;
}
BENCHMARK(BM_LinkRoundTrip)->MinTime(2.0)->UseRealTime();

// A loopback TCP peer that only counts the bytes it receives.
class CountingSink {
  public:
    CountingSink() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 1);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            int fd = ::accept(listener_, nullptr, nullptr);
            uint8 buffer[65536];
            ssize_t n;
            while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
                bytes_ += static_cast<uint64_t>(n);
            ::close(fd);
        });
    }
    ~CountingSink() {
        thread_.join();
        ::close(listener_);
    }
    uint16 port() const { return port_; }
    uint64_t bytes() const { return bytes_; }

  private:
    int listener_;
    uint16 port_;
    std::atomic<uint64_t> bytes_{0};
    std::thread thread_;
};

// Packets of 30 wire bytes through a link to a peer that only reads.
void BM_LinkPacketsPerSecond(benchmark::State& state) {
    const bool pooled = state.range(0) != 0;
    const uint64_t batch = 500; // well inside a FIFO's 1000 packets
    CountingSink sink;
    uint32 ref = aLink_CreateTCPIP(htonl(INADDR_LOOPBACK), sink.port());
    if (!ref) {
        state.SkipWithError("no link");
        return;
    }
    aLink_EnablePooledPackets(ref, pooled);
    uint8 data[28] = {0x63};
    aPacket* packet = aPacket_CreateWithData(kAddress, sizeof data, data);
    uint64_t target = 3; // the force route that opened the link
    for (auto _ : state) {
        for (uint64_t i = 0; i < batch; ++i)
            aLink_PutPacket(ref, packet);
        target += batch * 30;
        uint32 start = aTime_GetMSTicks();
        while (sink.bytes() < target) {
            if (aTime_GetMSTicks() - start > 5000) {
                state.SkipWithError("packets lost");
                break;
            }
            std::this_thread::yield();
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * batch));
    aPacket_Destroy(&packet);
    aLink_Destroy(&ref);
}
BENCHMARK(BM_LinkPacketsPerSecond)->Arg(0)->Arg(1)->ArgName("pooled")->MinTime(2.0)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (gRawMedianUs > 0 && gLinkMedianUs > 0)
        std::printf("round trip median: link %.1f us, raw %.1f us, ratio %.2f (goal <= 2)\n", gLinkMedianUs,
                    gRawMedianUs, gLinkMedianUs / gRawMedianUs);
    return 0;
}
