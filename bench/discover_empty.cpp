// -D's own cost over the discovery beneath it, in-process: Discover_Devices against
// the raw aDiscovery_EnumerateModules call of the same transport in the same run.
//  - USB with nothing attached (the machine's own USB backend);
//  - USB with one virtual module (connect, build, version and addresses read);
//  - TCP/IP with nothing answering on a veth link of a testbed (the 2 s quiet time of
//    multicast discovery is the floor). Run it inside a network namespace of its own
//    (tests/netns-run); it is skipped where no testbed can be made.
#include <benchmark/benchmark.h>

#include <memory>

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

bool countAll(const linkSpec*, bool* found, void*) {
    *found = true;
    return true;
}

void rawDiscovery(benchmark::State& state, linkType type) {
    for (auto _ : state)
        benchmark::DoNotOptimize(aDiscovery_EnumerateModules(type, countAll, nullptr, 0x0100007Fu));
}

void discoverCommand(benchmark::State& state, uint32_t transport) {
    SilentDisplay display;
    UpdaterApp app("http://127.0.0.1:9/cgi/u", "/nonexistent", &display);
    for (auto _ : state)
        benchmark::DoNotOptimize(app.Discover_Devices(transport));
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
BENCHMARK(BM_RawUsbOneModule)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiscoverUsbOneModule)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_RawTcpipEmpty)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_DiscoverTcpipEmpty)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    testbed.reset();
    return 0;
}
