// Streamed samples from the virtual module over loopback TCP to a Link's
// callback, at 1 000 and at 20 000 samples per second: samples delivered per
// second, samples lost (sent by the module but never delivered, and the ring's
// own drop count), and the delay from the module's send (the sample's
// timestamp) to the callback, median and 99th percentile. The floor is the module's
// own send rate: no delivery can be faster, so the ratio of delivered to sent shows
// what the host loses.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>
#include <vector>

#include "ErrorCounter.h"
#include "Module.h"
#include "ModuleTcpServer.h"
#include "VirtualModule.h"

using namespace Veltrano::Halvorine;
using namespace Veltrano::Sim;

namespace {

constexpr uint8 kAddress = 4;
constexpr uint8 kClass = 18;
constexpr auto kRunTime = std::chrono::seconds(3);
constexpr size_t kMaxDelays = 200000;

struct Figures {
    double perSecond = 0;
    double medianUs = 0;
    double p99Us = 0;
    uint64_t sent = 0;
    uint64_t delivered = 0;
    uint64_t drops = 0;
};
std::map<int64_t, Figures> gFigures;

// Written by the delivery thread only, read once it has stopped.
struct Delays {
    std::vector<double> us;
    std::atomic<uint64_t> delivered{0};

    static uint8 callback(const aPacket* packet, void* reference) {
        uint64_t now = streamClockUs();
        Delays* self = static_cast<Delays*>(reference);
        unsigned long long sentUs = 0;
        if (Link::getStreamSample(packet, &sentUs, nullptr, nullptr) != aErrNone) return 0;
        if (self->us.size() < kMaxDelays) self->us.push_back(static_cast<double>(now - sentUs));
        self->delivered++;
        return 0;
    }
};

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    size_t at =
        std::min(values.size() - 1, static_cast<size_t>(fraction * static_cast<double>(values.size())));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
    return values[at];
}

void BM_StreamDelivery(benchmark::State& state) {
    const uint32_t rate = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        VirtualModule device;
        ModuleTcpServer server(device);
        StreamSource source;
        source.command = kClass;
        source.option = 1;
        source.step = 1;
        device.stream().setSources({source});
        Module host(kAddress, false, 0);
        aSolvanConfig config;
        config.shareThroughServer = 0;
        linkSpec spec{};
        spec.type = TCPIP;
        spec.ipAddress = htonl(INADDR_LOOPBACK);
        spec.ipPort = server.port();
        Delays delays;
        delays.us.reserve(kMaxDelays);
        if (host.setConfig(config) != aErrNone || host.connectFromSpec(spec) != aErrNone ||
            host.getLink()->registerStreamCallback(kAddress, kClass, 1, 0, true, Delays::callback, &delays) !=
                aErrNone) {
            state.SkipWithError("no streaming link");
            break;
        }
        uint64_t sentBefore = device.stream().samplesSent();
        auto start = std::chrono::steady_clock::now();
        device.stream().setRate(rate);
        std::this_thread::sleep_for(kRunTime);
        device.stream().setRate(0);
        uint64_t sent = device.stream().samplesSent() - sentBefore;
        // Let the last samples arrive, then stop delivery before reading the delays.
        for (int wait = 0; wait < 200 && delays.delivered < sent; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        Figures f;
        f.delivered = delays.delivered;
        f.drops = host.getLink()->getStreamDrops();
        host.getLink()->registerStreamCallback(kAddress, kClass, 1, 0, false, streamCallback(), nullptr);
        f.sent = sent;
        f.perSecond = static_cast<double>(f.delivered) / seconds;
        f.medianUs = percentile(delays.us, 0.5);
        f.p99Us = percentile(delays.us, 0.99);
        gFigures[state.range(0)] = f;
        state.counters["delivered_per_s"] = f.perSecond;
        state.counters["ratio_to_sent"] = f.sent ? static_cast<double>(f.delivered) / f.sent : 0;
        state.counters["median_us"] = f.medianUs;
        state.counters["p99_us"] = f.p99Us;
        state.counters["lost"] = static_cast<double>(f.sent - std::min(f.sent, f.delivered));
        state.counters["ring_drops"] = static_cast<double>(f.drops);
    }
}
BENCHMARK(BM_StreamDelivery)->Arg(1000)->Arg(20000)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    ErrorCounter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const auto& [rate, f] : gFigures)
        std::printf(
            "stream at %lld/s: delivered %.0f/s, sent %llu, delivered %llu, ratio to the module's send "
            "rate %.3f (goal 1.000), ring drops %llu; delay median %.0f us, p99 %.0f us (goal: median < "
            "2000 us)\n",
            static_cast<long long>(rate), f.perSecond, static_cast<unsigned long long>(f.sent),
            static_cast<unsigned long long>(f.delivered),
            f.sent ? static_cast<double>(f.delivered) / static_cast<double>(f.sent) : 0.0,
            static_cast<unsigned long long>(f.drops), f.medianUs, f.p99Us);
    return reporter.exitStatus();
}
