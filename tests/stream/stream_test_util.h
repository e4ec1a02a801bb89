// Helpers shared by the transport tests.
#ifndef TESTS_STREAM_STREAM_TEST_UTIL_H
#define TESTS_STREAM_STREAM_TEST_UTIL_H

#include "aStream.h"
#include "aTime.h"

#include <string>

// Reads count bytes, polling through aErrNotReady for at most timeoutMs; stops early at
// any other answer. Returns what was read.
inline std::string readPolling(aStream* s, size_t count, uint32 timeoutMs = 2000, aErr* last = nullptr) {
    std::string got;
    uint32 start = aTime_GetMSTicks();
    aErr err = aErrNone;
    while (got.size() < count) {
        uint8 byte;
        err = aStream_Read(s, &byte, 1);
        if (err == aErrNone) {
            got.push_back(static_cast<char>(byte));
            continue;
        }
        if (err != aErrNotReady || aTime_GetMSTicks() - start > timeoutMs) break;
        aTime_MSSleep(1);
    }
    if (last) *last = err;
    return got;
}

inline aErr writeText(aStream* s, const std::string& text) {
    return aStream_Write(s, reinterpret_cast<const uint8*>(text.data()), static_cast<uint32>(text.size()));
}

#endif
