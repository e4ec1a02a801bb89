// An entity value get (request and reply through EntityClass and the Link)
// against the virtual module over loopback TCP, as a ratio to the link engine's
// own request/reply round trip and to a raw loopback TCP ping-pong of the same
// bytes, all three in one run.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "ErrorCounter.h"
#include "RoundTripPeers.h"
#include "SystemClass.h"

using namespace RoundTrip;
using namespace Veltrano::Halvorine;

namespace {

double gRawUs = 0, gLinkUs = 0, gEntityUs = 0;
double gEntityToLink = 0, gEntityToRaw = 0;

// The serial number through SystemClass on a Module connected to its own
// virtual module.
class EntityGet {
  public:
    EntityGet() : server_(module_), connected_(connect()) {}
    bool roundTrip() {
        unsigned int serial = 0;
        return connected_ && system_.getSerialNumber(&serial) == aErrNone;
    }

  private:
    bool connect() {
        linkSpec spec{};
        spec.type = TCPIP;
        spec.ipAddress = htonl(INADDR_LOOPBACK);
        spec.ipPort = server_.port();
        aSolvanConfig config;
        config.shareThroughServer = 0;
        if (host_.setConfig(config) != aErrNone || host_.connectFromSpec(spec) != aErrNone) return false;
        system_.init(&host_, 0);
        return true;
    }

    VirtualModule module_;
    ModuleTcpServer server_;
    Module host_{kAddress, false, 0};
    SystemClass system_;
    bool connected_;
};

// The three in alternating blocks, so that the load of a shared machine weighs
// on all alike. Reported: the medians over all round trips, and the medians
// over blocks of the entity get's median against the other two.
void BM_EntityGetVsLinkVsRaw(benchmark::State& state) {
    constexpr int kBlock = 200;
    RawEcho raw;
    LinkToModule link;
    EntityGet entity;
    std::vector<double> rawAll, linkAll, entityAll, toLink, toRaw;
    for (auto _ : state) {
        std::vector<double> rawBlock, linkBlock, entityBlock;
        if (!timeRoundTrips(raw, kBlock, rawBlock) || !timeRoundTrips(link, kBlock, linkBlock) ||
            !timeRoundTrips(entity, kBlock, entityBlock)) {
            state.SkipWithError("round trip failed");
            break;
        }
        rawAll.insert(rawAll.end(), rawBlock.begin(), rawBlock.end());
        linkAll.insert(linkAll.end(), linkBlock.begin(), linkBlock.end());
        entityAll.insert(entityAll.end(), entityBlock.begin(), entityBlock.end());
        double entityMedian = median(entityBlock);
        toLink.push_back(entityMedian / median(linkBlock));
        toRaw.push_back(entityMedian / median(rawBlock));
    }
    gRawUs = median(rawAll);
    gLinkUs = median(linkAll);
    gEntityUs = median(entityAll);
    gEntityToLink = median(toLink);
    gEntityToRaw = median(toRaw);
    state.counters["raw_median_us"] = gRawUs;
    state.counters["link_median_us"] = gLinkUs;
    state.counters["entity_median_us"] = gEntityUs;
    state.counters["entity_to_link"] = gEntityToLink;
    state.counters["entity_to_raw"] = gEntityToRaw;
}
BENCHMARK(BM_EntityGetVsLinkVsRaw)->MinTime(4.0)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    ErrorCounter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (gRawUs > 0)
        std::printf("round trip median: entity get %.1f us, link %.1f us, raw %.1f us; median block ratios: "
                    "entity/link %.2f (goal <= 1.1), entity/raw %.2f\n",
                    gEntityUs, gLinkUs, gRawUs, gEntityToLink, gEntityToRaw);
    return reporter.exitStatus();
}
