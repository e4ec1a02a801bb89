#include "UpdaterLog.h"

#include <atomic>
#include <cstdarg>
#include <cstring>

namespace {
// Read by a download's worker thread while the main thread owns the display.
std::atomic<uint32_t> sLogMask{0};
std::atomic<FILE*> sLogStream{nullptr};
} // namespace

void updaterLog(uint32_t mask, const char* format, ...) {
    if (mask != 0 && (mask & sLogMask.load()) == 0) return;
    char text[2048];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    FILE* stream = sLogStream.load();
    if (n < 0 || !stream) return;
    fwrite(text, 1, strlen(text), stream);
}

void updaterLog_SetMask(uint32_t mask) {
    sLogMask.fetch_or(mask);
}

uint32_t updaterLog_GetMask() {
    return sLogMask.load();
}

void updaterLog_SetStream(FILE* stream) {
    sLogStream.store(stream);
}
