// Four modules updated at once against one alone, with the same file, each module
// a virtual module over TCP/IP found by multicast discovery in a testbed namespace
// (run it under tests/netns-run). The fleet's time over the single update's, from
// the same run, is the ratio: the transfers are stop-and-wait, so four of them
// should overlap almost wholly, even on two cores.
//
// Each update is the whole -U: discovery, loader, firmware, reboot, return and
// version check, and the store record; the file carries 256 KiB of firmware so
// the transfer, not the fixed reboot wait, weighs most.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BirdWriter.h"
#include "BufferedDisplay.h"
#include "FleetModules.h"
#include "FleetUpdate.h"
#include "FirmwareImageTag.h"
#include "KeptModules.h"
#include "ModuleNetwork.h"
#include "TempDir.h"
#include "VirtualModule.h"
#include "aVersion.h"

using namespace Veltrano::Sim;

namespace {

constexpr uint32_t kFirstSerial = 0x5A17F000;
constexpr int kModules = 4;

struct Fleet {
    TempDir dir;
    KeptModules kept;
    std::unique_ptr<ModuleNetwork> network;
    std::string path;

    Fleet() {
        network = std::make_unique<ModuleNetwork>();
        serveFleet(kept, *network, kFirstSerial, 7501, kModules);
        BirdWriter writer;
        writer.addIdentity("3.4.2", 0, "VT-CoreUSB");
        writer.addSerialLocations(0x1010, 0);
        writer.addLoaderImage(0x20000000, std::vector<uint8_t>(2048, 0x5A));
        std::vector<uint8_t> image(256 * 1024);
        for (size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
        writer.addFirmwareImage(0x1000, image);
        FirmwareImageTag tag;
        tag.version = aVersion_Pack(3, 4, 2);
        tag.build = 5120;
        writer.addFirmwareImage(0x80000, tag.appendTo(std::vector<uint8_t>(64, 0)));
        path = dir / "fleet.bird";
        writer.writeFile(path);
    }
    ~Fleet() {
        network.reset();
        kept.clear();
    }

    // Updates the first count modules at once; false when any failed.
    bool update(int count) {
        BufferedDisplay display;
        UpdaterApp app("http://127.0.0.1:9/cgi/u", dir / "store", &display);
        FleetRequest request;
        for (int i = 0; i < count; ++i)
            request.serialNumbers.push_back(kFirstSerial + i);
        request.birdFilePath = path;
        if (count == 1) {
            // One module alone goes the single way, as -U with one -d does.
            return app.Update_Firmware(kFirstSerial, 0, path, 0, 0, false);
        }
        const bool ok = runFleet(app, request, nullptr) == 0;
        // A failure is the benchmark's to explain.
        if (!ok)
            for (const std::string& line : display.errors())
                fprintf(stderr, "%s\n", line.c_str());
        return ok;
    }
};

Fleet* fleet() {
    static Fleet* shared = new Fleet; // outlives every benchmark; the process ends after them
    return shared;
}

double sSingleSeconds = 0;

void BM_OneModule(benchmark::State& state) {
    double total = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (!fleet()->update(1)) state.SkipWithError("the single update failed");
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    sSingleSeconds = total / static_cast<double>(state.iterations());
}

void BM_FourModulesAtOnce(benchmark::State& state) {
    double total = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (!fleet()->update(kModules)) state.SkipWithError("a fleet update failed");
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double mean = total / static_cast<double>(state.iterations());
    if (sSingleSeconds > 0) state.counters["ratio_to_one"] = mean / sSingleSeconds;
}

BENCHMARK(BM_OneModule)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FourModulesAtOnce)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
