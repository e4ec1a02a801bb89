// The console reporter every benchmark program uses: it also counts the runs that
// reported an error (SkipWithError), so that the program exits non-zero after any
// and a broken run never passes for a measurement.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

class ErrorCounter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.error_occurred) errors_++;
        ConsoleReporter::ReportRuns(runs);
    }

    // 0 when every run went through; else 1, saying how many did not.
    int exitStatus() const {
        if (errors_ == 0) return 0;
        std::fprintf(stderr, "%d benchmark runs reported an error\n", errors_);
        return 1;
    }

  private:
    int errors_ = 0;
};

// main() of a program with nothing to add to the runs' report.
#define VELTRANO_BENCHMARK_MAIN()                                                                            \
    int main(int argc, char** argv) {                                                                        \
        benchmark::Initialize(&argc, argv);                                                                  \
        ErrorCounter reporter;                                                                               \
        benchmark::RunSpecifiedBenchmarks(&reporter);                                                        \
        benchmark::Shutdown();                                                                               \
        return reporter.exitStatus();                                                                        \
    }
