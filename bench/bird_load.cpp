// Loading a 4 MiB BIRD file, against zlib's own one-shot uncompress of the same body.
// Prints the loader's speed relative to uncompress (goal: at least 0.9).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "ErrorCounter.h"
#include "BirdFile.h"
#include "BirdWriter.h"

namespace {

constexpr size_t bodyTarget = size_t(4) << 20;

// Bytes that compress like a microcontroller image: Thumb-like code drawn from a
// small set of opcodes with varying operands, text tables, zeroed data and erased
// (0xFF) flash between sections.
std::vector<uint8> firmwareImage(size_t length, uint32 seed) {
    std::mt19937 random(seed);
    static const uint16 opcodes[] = {0xB580, 0x4770, 0x6800, 0x6008, 0x2000, 0x4601, 0xF000, 0xE7FE,
                                     0x3001, 0x4288, 0xD1FA, 0xBD80, 0x9000, 0x9800, 0x1C40, 0x0040};
    static const char* const words[] = {"error ", "timeout ", "USB ",    "device ", "config ", "hub ",
                                        "port ",  "power ",   "status ", "ok\n",    "%d ",     "%08X "};
    std::vector<uint8> out;
    out.reserve(length);
    while (out.size() < length) {
        switch (random() % 8) {
        case 0: // erased flash up to the next 4 KiB sector
            out.resize(std::min(length, (out.size() / 4096 + 1) * 4096), 0xFF);
            break;
        case 1: // initialised data, mostly zero
            for (int i = 0; i < 512; ++i)
                out.push_back(random() % 8 == 0 ? uint8(random()) : 0);
            break;
        case 2: // strings
            for (int i = 0; i < 64; ++i)
                for (const char* c = words[random() % 12]; *c; ++c)
                    out.push_back(uint8(*c));
            break;
        default: // code
            for (int i = 0; i < 1024; ++i) {
                uint16 op =
                    opcodes[random() % 16] | uint16(random() % 8 == 0 ? random() & 0x7FF : random() & 0x7);
                out.push_back(uint8(op));
                out.push_back(uint8(op >> 8));
            }
        }
    }
    out.resize(length);
    return out;
}

struct Fixture {
    std::string dir, path;
    std::vector<uint8> file;
    size_t bodyLength = 0;

    Fixture() {
        BirdWriter writer;
        writer.addIdentity("2.11.4", 0x40F5849A, "VT-Hub4");
        writer.addSerialLocations(0x4010, 0x4020);
        writer.addLoaderImage(0x20000000, firmwareImage(64 << 10, 1));
        writer.addFirmwareImage(0x4000, firmwareImage(bodyTarget - (64 << 10) - 128, 2));
        bodyLength = writer.body().size();
        file = writer.file(9);
        char pattern[] = "/tmp/bench-bird-XXXXXX";
        dir = ::mkdtemp(pattern);
        path = dir + "/4mib.bird";
        writeBirdBytes(path, file);
    }
    ~Fixture() {
        std::remove(path.c_str());
        ::rmdir(dir.c_str());
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// Baseline: zlib's one-shot inflate of the body into a fresh buffer of its known size.
void BM_ZlibUncompress(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        std::unique_ptr<uint8, decltype(&std::free)> body(static_cast<uint8*>(std::malloc(f.bodyLength)),
                                                          &std::free);
        uLongf length = uLongf(f.bodyLength);
        if (uncompress(body.get(), &length, f.file.data() + 6, uLong(f.file.size() - 6)) != Z_OK)
            state.SkipWithError("uncompress failed");
        benchmark::DoNotOptimize(body.get());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.bodyLength));
}
BENCHMARK(BM_ZlibUncompress)->Unit(benchmark::kMillisecond);

// The whole load: read the file, inflate, parse the blocks.
void BM_BirdFileLoad(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        BirdFile file(f.path);
        if (file.blockCount() != 4) state.SkipWithError("wrong block count");
        benchmark::DoNotOptimize(file.body());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.bodyLength));
}
BENCHMARK(BM_BirdFileLoad)->Unit(benchmark::kMillisecond);

// Collects the median CPU time per iteration of each benchmark for the ratio. CPU
// time, repetitions and interleaving keep other work on a shared machine out of it.
class RatioReporter : public ErrorCounter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median || (run.run_type == Run::RT_Iteration && !times.count(run.run_name.function_name)))
                times[run.run_name.function_name] = run.GetAdjustedCPUTime();
        }
        ErrorCounter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

} // namespace

int main(int argc, char** argv) {
    // Defaults that the command line can override.
    std::vector<char*> args(argv, argv + argc);
    char repetitions[] = "--benchmark_repetitions=9";
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    char aggregatesOnly[] = "--benchmark_report_aggregates_only=true";
    args.insert(args.begin() + 1, {repetitions, interleave, aggregatesOnly});
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto zlib = reporter.times.find("BM_ZlibUncompress");
    auto bird = reporter.times.find("BM_BirdFileLoad");
    if (zlib != reporter.times.end() && bird != reporter.times.end() && bird->second > 0) {
        Fixture& f = fixture();
        std::printf("\nBIRD body %zu bytes, file %zu bytes (%.1f:1)\n", f.bodyLength, f.file.size(),
                    double(f.bodyLength) / double(f.file.size()));
        std::printf("BirdFile load speed relative to zlib uncompress (median CPU time): %.3f (goal >= 0.9)\n",
                    zlib->second / bird->second);
    }
    benchmark::Shutdown();
    return reporter.exitStatus();
}
