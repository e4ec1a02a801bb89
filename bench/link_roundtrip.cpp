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

#include "ErrorCounter.h"
#include "RoundTripPeers.h"
#include "VirtualModule.h"
#include "aLink.h"
#include "aTime.h"

using namespace Veltrano::Sim;

namespace {

using namespace RoundTrip;

double gRawMedianUs = 0;
double gLinkMedianUs = 0;
double gBlockRatio = 0;

// Both kinds of round trip in alternating blocks, so that the load of a shared
// machine weighs on both alike. Reported: the medians over all round trips, and
// the median over block pairs of the link's median against the raw one.
void BM_RoundTripLinkVsRaw(benchmark::State& state) {
    constexpr int kBlock = 200;
    RawEcho raw;
    LinkToModule link;
    std::vector<double> rawSamples, linkSamples, blockRatios;
    for (auto _ : state) {
        std::vector<double> rawBlock, linkBlock;
        if (!timeRoundTrips(raw, kBlock, rawBlock) || !timeRoundTrips(link, kBlock, linkBlock)) {
            state.SkipWithError("round trip failed");
            break;
        }
        rawSamples.insert(rawSamples.end(), rawBlock.begin(), rawBlock.end());
        linkSamples.insert(linkSamples.end(), linkBlock.begin(), linkBlock.end());
        blockRatios.push_back(median(linkBlock) / median(rawBlock));
    }
    gRawMedianUs = median(rawSamples);
    gLinkMedianUs = median(linkSamples);
    gBlockRatio = median(blockRatios);
    state.counters["raw_median_us"] = gRawMedianUs;
    state.counters["link_median_us"] = gLinkMedianUs;
    state.counters["block_ratio"] = gBlockRatio;
}
BENCHMARK(BM_RoundTripLinkVsRaw)->MinTime(4.0)->UseRealTime();

// A loopback TCP peer that only counts the bytes it receives.
class CountingSink {
  public:
    CountingSink() {
        sockaddr_in address = {};
        listener_ = listenOnLoopback(&address);
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
    ErrorCounter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (gRawMedianUs > 0 && gLinkMedianUs > 0)
        std::printf("round trip median: link %.1f us, raw %.1f us, ratio %.2f; median block ratio %.2f "
                    "(goal <= 2)\n",
                    gLinkMedianUs, gRawMedianUs, gLinkMedianUs / gRawMedianUs, gBlockRatio);
    return reporter.exitStatus();
}
