// Cost of unpacking version words, against a plain shift-and-mask of the same words.
#include <benchmark/benchmark.h>

#include "ErrorCounter.h"
#include "aVersion.h"

static void BM_MaskBaseline(benchmark::State& state) {
    uint32 word = 0x1A123456;
    for (auto _ : state) {
        benchmark::DoNotOptimize(word);
        uint32 sum = (word >> 28) + ((word >> 24) & 0xF) + (word & 0xFFFFFF);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_MaskBaseline);

static void BM_ParseVersion(benchmark::State& state) {
    uint32 word = 0x1A123456;
    for (auto _ : state) {
        benchmark::DoNotOptimize(word);
        uint32 sum = aVersion_ParseMajor(word) + aVersion_ParseMinor(word) + aVersion_ParsePatch(word);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_ParseVersion);

VELTRANO_BENCHMARK_MAIN()
