/* Millisecond ticks and sleep. */
#ifndef HALVORINE_ATIME_H
#define HALVORINE_ATIME_H

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Monotonic milliseconds, truncated to 32 bits: it wraps, so compare differences. */
uint32 aTime_GetMSTicks(void);

/* Sleeps the given milliseconds; 0 returns at once. Always aErrNone. */
aErr aTime_MSSleep(uint32 milliseconds);

#ifdef __cplusplus
}
#endif

#endif
