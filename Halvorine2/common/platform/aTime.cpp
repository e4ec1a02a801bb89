#include "aTime.h"

#include <cerrno>
#include <ctime>

extern "C" uint32 aTime_GetMSTicks(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64 ms = uint64(ts.tv_sec) * 1000u + uint64(ts.tv_nsec) / 1000000u;
    return uint32(ms);
}

extern "C" aErr aTime_MSSleep(uint32 milliseconds) {
    if (milliseconds == 0) return aErrNone;
    struct timespec req;
    req.tv_sec = milliseconds / 1000;
    req.tv_nsec = long(milliseconds % 1000) * 1000000L;
    while (nanosleep(&req, &req) != 0 && errno == EINTR) {
    }
    return aErrNone;
}
