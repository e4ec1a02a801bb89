/* Library-wide result codes. 0 is success, every other value a failure. */
#ifndef HALVORINE_AERROR_H
#define HALVORINE_AERROR_H

#include "aDefs.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    aErrNone = 0,
    aErrMemory = 1,
    aErrParam = 2,
    aErrNotFound = 3,
    aErrFileNameLength = 4,
    aErrBusy = 5,
    aErrIO = 6,
    aErrMode = 7,
    aErrWrite = 8,
    aErrRead = 9,
    aErrEOF = 10,
    aErrNotReady = 11,
    aErrPermission = 12,
    aErrRange = 13,
    aErrSize = 14,
    aErrOverrun = 15,
    aErrParse = 16,
    aErrConfiguration = 17,
    aErrTimeout = 18,
    aErrInitialization = 19,
    aErrVersion = 20,
    aErrUnimplemented = 21,
    aErrDuplicate = 22,
    aErrCancel = 23,
    aErrPacket = 24,
    aErrConnection = 25,
    aErrIndexRange = 26,
    aErrShortCommand = 27,
    aErrInvalidEntity = 28,
    aErrInvalidOption = 29,
    aErrResource = 30,
    aErrMedia = 31,
    aErrAsyncReturn = 32,
    aErrStreamStale = 33,
    aErrUnknown = 34
} aErrCode;

typedef int aErr;

/* The code's name, e.g. "aErrTimeout"; "aErrUnknown" for values outside 0..34. */
const char* aError_GetErrorText(aErr err);

/* The code's description, e.g. "Timeout occurred"; "Unknown error" outside 0..34. */
const char* aError_GetErrorDescription(aErr err);

#ifdef __cplusplus
}
#endif

#endif
