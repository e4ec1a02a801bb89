// -D's own cost over the discovery beneath it, in-process: Discover_Devices against
// the raw aDiscovery_EnumerateModules call of the same transport in the same run.
//  - USB with nothing attached (the machine's own USB backend);
//  - USB with one virtual module (connect, build, version and addresses read);
//  - TCP/IP with nothing answering on a veth link of a testbed: multicast discovery
//    listens until 2 s pass quietly, so that quiet time is the floor, and both runs
//    are reported as a ratio to it. Run it inside a network namespace of its own
//    (tests/netns-run); where no testbed can be made the run reports an error.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "ErrorCounter.h"
#include "ModuleUsbBus.h"
#include "Testbed.h"
#include "UpdaterApp.h"
#include "UpdaterDisplayInterface.h"
#include "VirtualModule.h"
#include "aDiscovery.h"

namespace {

class SilentDisplay : public UpdaterDisplayInterface {
  public:
    void clearLine(bool) override {}
    void showProgress(double, const char*) override {}
    void showActivity(bool, const char*) override {}
    void showMessage(const char*) override {}
    void showError(const char*) override {}
};

// Multicast discovery ends once nothing has answered for this long.
constexpr double kQuietSeconds = 2.0;

// Seconds per discovery of the TCP/IP runs, by benchmark.
std::map<std::string, double> gTcpipSeconds;

// Runs one discovery per iteration; a TCP/IP one also keeps its mean time under
// name and its ratio to the quiet time.
template <class Discovery>
void timed(benchmark::State& state, linkType type, const char* name, Discovery discovery) {
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        discovery();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (type == TCPIP && state.iterations() > 0 && !state.error_occurred()) {
        gTcpipSeconds[name] = seconds / static_cast<double>(state.iterations());
        state.counters["ratio_to_quiet_time"] = gTcpipSeconds[name] / kQuietSeconds;
    }
}

bool countAll(const linkSpec*, bool* found, void*) {
    *found = true;
    return true;
}

void rawDiscovery(benchmark::State& state, linkType type) {
    timed(state, type, "raw discovery", [&] {
        benchmark::DoNotOptimize(aDiscovery_EnumerateModules(type, countAll, nullptr, 0x0100007Fu));
    });
}

void discoverCommand(benchmark::State& state, linkType transport) {
    SilentDisplay display;
    UpdaterApp app("http://127.0.0.1:9/cgi/u", "/nonexistent", &display);
    timed(state, transport, "Discover_Devices",
          [&] { benchmark::DoNotOptimize(app.Discover_Devices(transport)); });
}

void BM_RawUsbEmpty(benchmark::State& state) {
    rawDiscovery(state, USB);
}
void BM_DiscoverUsbEmpty(benchmark::State& state) {
    discoverCommand(state, USB);
}

void BM_RawUsbOneModule(benchmark::State& state) {
    Veltrano::Sim::VirtualModule module;
    Veltrano::Sim::ModuleUsbBus bus;
    bus.attach(module);
    rawDiscovery(state, USB);
}
void BM_DiscoverUsbOneModule(benchmark::State& state) {
    Veltrano::Sim::VirtualModule module;
    Veltrano::Sim::ModuleUsbBus bus;
    bus.attach(module);
    discoverCommand(state, USB);
}

std::unique_ptr<ApiTest::Testbed> testbed;

bool withTestbed(benchmark::State& state) {
    if (!testbed) {
        std::string reason = ApiTest::Testbed::unavailableReason();
        if (!reason.empty()) {
            state.SkipWithError(reason.c_str());
            return false;
        }
        testbed = std::make_unique<ApiTest::Testbed>();
        testbed->addLink();
    }
    return true;
}

void BM_RawTcpipEmpty(benchmark::State& state) {
    if (withTestbed(state)) rawDiscovery(state, TCPIP);
}
void BM_DiscoverTcpipEmpty(benchmark::State& state) {
    if (withTestbed(state)) discoverCommand(state, TCPIP);
}

BENCHMARK(BM_RawUsbEmpty)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DiscoverUsbEmpty)->Unit(benchmark::kMicrosecond);
// The raw call only lists the bus's descriptors, a microsecond's work: in
// milliseconds it showed as 0.000. -D then connects and reads each module.
BENCHMARK(BM_RawUsbOneModule)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DiscoverUsbOneModule)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_RawTcpipEmpty)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_DiscoverTcpipEmpty)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    ErrorCounter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    testbed.reset();
    for (const auto& [name, seconds] : gTcpipSeconds)
        std::printf("%s: %.0f ms, ratio to the %.0f s quiet time %.3f (goal <= 1.1)\n", name.c_str(),
                    seconds * 1e3, kQuietSeconds, seconds / kQuietSeconds);
    return reporter.exitStatus();
}
