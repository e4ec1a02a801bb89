// An entity value get (SystemClass serial number) through a link-sharing server
// in another process, as a ratio to the same get on a direct USB link. Both
// modules sit on a virtual USB bus: the sharedmodule process's, and this
// process's own for the direct link. The server adds one process hop and two
// loopback TCP hops each way.
//
// The in-process USB bus answers far faster than a cable does, so a second
// figure puts the shared get beside a direct TCP link to a module in another
// process (vmodule): the same process and loopback crossing, without the server.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "ErrorCounter.h"
#include "ModuleUsbBus.h"
#include "RoundTripPeers.h"
#include "RunningProgram.h"
#include "SystemClass.h"

using namespace RoundTrip;
using namespace Veltrano::Halvorine;

namespace {

constexpr uint32 kSharedSerial = 0x5A4E00B1;
constexpr uint32 kDirectSerial = 0x5A4E00B2;
constexpr uint32 kNetworkSerial = 0x5A4E00B3;

double gDirectUs = 0, gSharedUs = 0, gRatio = 0, gNetworkUs = 0, gNetworkRatio = 0;

// A Module connected from the specifier, and its system entity.
class SerialGet {
  public:
    bool connect(linkSpec spec, aSolvanConfig config) {
        if (host_.setConfig(config) != aErrNone || host_.connectFromSpec(spec) != aErrNone) return false;
        system_.init(&host_, 0);
        connected_ = true;
        return true;
    }
    bool roundTrip() {
        unsigned int serial = 0;
        return connected_ && system_.getSerialNumber(&serial) == aErrNone;
    }

  private:
    Module host_{kAddress, false, 0};
    SystemClass system_;
    bool connected_ = false;
};

// The module and its bus are made before the Module that connects to them and go after it.
class DirectGet {
  public:
    DirectGet() : module_(moduleIdentity(kDirectSerial, 4, kAddress)) {
        bus_.attach(module_);
        linkSpec spec{};
        spec.type = USB;
        spec.serialNumber = kDirectSerial;
        aSolvanConfig config;
        config.shareThroughServer = 0;
        get_.connect(spec, config);
    }
    bool roundTrip() { return get_.roundTrip(); }

  private:
    VirtualModule module_;
    ModuleUsbBus bus_;
    SerialGet get_;
};

// A module in another process, reached over loopback TCP with no server between.
class NetworkGet {
  public:
    NetworkGet()
        : module_(
              std::string(VELTRANO_BIN_DIR) + "/vmodule",
              {"--tcp", "0", "--serial", "5A4E00B3", "--model", "4", "--address", std::to_string(kAddress)}) {
        std::string line = module_.firstLine(); // "tcp 127.0.0.1:PORT"
        size_t colon = line.find(':');
        if (colon == std::string::npos) return;
        linkSpec spec{};
        spec.type = TCPIP;
        spec.serialNumber = kNetworkSerial;
        spec.ipAddress = htonl(INADDR_LOOPBACK);
        spec.ipPort = uint16(std::stoul(line.substr(colon + 1)));
        aSolvanConfig config;
        config.shareThroughServer = 0;
        get_.connect(spec, config);
    }
    bool roundTrip() { return get_.roundTrip(); }

  private:
    RunningProgram module_;
    SerialGet get_;
};

class SharedGet {
  public:
    SharedGet()
        : server_(std::string(VELTRANO_BIN_DIR) + "/sharedmodule",
                  {"--serial", "5A4E00B1", "--model", "4", "--address", std::to_string(kAddress)}) {
        std::string line = server_.firstLine(); // "asolvan 127.0.0.1:PORT SERIAL"
        size_t colon = line.find(':');
        if (colon == std::string::npos || server_.nextLine() != "ready") return;
        linkSpec spec{};
        spec.type = ASOLVAN;
        spec.serialNumber = kSharedSerial;
        spec.ipAddress = htonl(INADDR_LOOPBACK);
        spec.ipPort = uint16(std::stoul(line.substr(colon + 1)));
        get_.connect(spec, aSolvanConfig());
    }
    bool roundTrip() { return get_.roundTrip(); }

  private:
    RunningProgram server_;
    SerialGet get_;
};

// The two in alternating blocks, so that the load of a shared machine weighs on
// both alike; the ratio is the median over blocks.
void BM_SharedVsDirectGet(benchmark::State& state) {
    constexpr int kBlock = 200;
    DirectGet direct;
    SharedGet shared;
    std::vector<double> directAll, sharedAll, ratios;
    NetworkGet network;
    std::vector<double> networkAll, networkRatios;
    for (auto _ : state) {
        std::vector<double> directBlock, sharedBlock, networkBlock;
        if (!timeRoundTrips(direct, kBlock, directBlock) || !timeRoundTrips(shared, kBlock, sharedBlock) ||
            !timeRoundTrips(network, kBlock, networkBlock)) {
            state.SkipWithError("round trip failed");
            break;
        }
        directAll.insert(directAll.end(), directBlock.begin(), directBlock.end());
        sharedAll.insert(sharedAll.end(), sharedBlock.begin(), sharedBlock.end());
        networkAll.insert(networkAll.end(), networkBlock.begin(), networkBlock.end());
        ratios.push_back(median(sharedBlock) / median(directBlock));
        networkRatios.push_back(median(sharedBlock) / median(networkBlock));
    }
    gDirectUs = median(directAll);
    gSharedUs = median(sharedAll);
    gRatio = median(ratios);
    gNetworkUs = median(networkAll);
    gNetworkRatio = median(networkRatios);
    state.counters["direct_median_us"] = gDirectUs;
    state.counters["shared_median_us"] = gSharedUs;
    state.counters["shared_to_direct"] = gRatio;
    state.counters["network_median_us"] = gNetworkUs;
    state.counters["shared_to_network"] = gNetworkRatio;
}
BENCHMARK(BM_SharedVsDirectGet)->MinTime(4.0)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    ErrorCounter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (gDirectUs > 0)
        std::printf("round trip median: through the sharing server %.1f us, direct USB %.1f us; median block "
                    "ratio shared/direct %.2f (goal <= 3)\n",
                    gSharedUs, gDirectUs, gRatio);
    if (gNetworkUs > 0)
        std::printf("beside a direct TCP link to a module in another process: %.1f us; median block ratio "
                    "shared/network %.2f\n",
                    gNetworkUs, gNetworkRatio);
    return reporter.exitStatus();
}
