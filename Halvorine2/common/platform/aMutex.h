/* Named recursive mutexes, owned by the thread that locks them. */
#ifndef HALVORINE_AMUTEX_H
#define HALVORINE_AMUTEX_H

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct aMutex aMutex;

/* NULL name gives an empty name; a name of 256 characters or more gives NULL. */
aMutex* aMutex_Create(const char* name);
const char* aMutex_Identifier(aMutex* mutex);
/* Blocks until owned; the owner may lock again and must unlock as often. */
aErr aMutex_Lock(aMutex* mutex);
/* aErrBusy when another thread holds it. */
aErr aMutex_TryLock(aMutex* mutex);
aErr aMutex_Unlock(aMutex* mutex);
/* Frees the mutex (also when the caller holds it) and clears *mutex. aErrBusy, with
 * nothing destroyed, when another thread holds it or waits in aMutex_Lock for it. A
 * call on the mutex that another thread makes while Destroy runs or after it is not
 * guarded against (the record it would use may be gone): the caller ends every other
 * use before destroying it. */
aErr aMutex_Destroy(aMutex** mutex);

#ifdef __cplusplus
}
#endif

#endif
