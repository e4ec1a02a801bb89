#include "_pending_spine.h"
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
void updaterLog(uint32_t mask, const char* format, ...) {
    static uint32_t logMask = getenv("TMPLOG") ? 0xFFFFFFFF : 0;
    if (mask && !(mask & logMask)) return;
    va_list ap; va_start(ap, format); vfprintf(stderr, format, ap); va_end(ap);
}
