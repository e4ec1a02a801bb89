#include "BirdLog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {
std::atomic<BirdLogSink> sSink{nullptr};
}

void setBirdLogSink(BirdLogSink sink) {
    sSink.store(sink);
}

void birdLog(const char* format, ...) {
    BirdLogSink sink = sSink.load();
    if (!sink) return;
    char line[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    sink(birdLogCategory, line);
}
