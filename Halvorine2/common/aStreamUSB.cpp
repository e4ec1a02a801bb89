#include "aStream.h"

// The USB transport lands next; until then no module is ever found on USB.
extern "C" aErr aStream_CreateUSB(uint32 serialNumber, aStream** stream) {
    (void)serialNumber;
    if (!stream) return aErrParam;
    *stream = nullptr;
    return aErrNotFound;
}
