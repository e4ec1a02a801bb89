/* Background logger: a thread that calls a callback over and over with an open
 * file while it is enabled. The Link class uses one to copy a link's packet
 * debug log into a file. */
#ifndef HALVORINE_ALINKLOGGER_H
#define HALVORINE_ALINKLOGGER_H

#include "aFile.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct aLogger aLogger;

/* Called repeatedly on the logger's thread; it should wait a little when it has
 * nothing to write. */
typedef void (*aLoggerCallback)(aFile* file, uint32 ref);

/* Opens the file for reading and writing at its end (created when missing,
 * written through). NULL when the path is NULL or longer than 260 characters,
 * the callback is NULL, or the file cannot be opened. */
aLogger* aLogger_Create(uint32 ref, aLoggerCallback callback, const char* path);
/* Starts the thread; aErrNone when it runs already, aErrResource when it cannot start. */
aErr aLogger_Enable(aLogger* logger);
/* Stops the thread and waits until it has ended (the callback returns first). */
aErr aLogger_Disable(aLogger* logger);
/* Disables, closes the file, frees the logger and clears *logger. */
aErr aLogger_Destroy(aLogger** logger);

/* Every operation answers aErrParam for a record without its check word. */

#ifdef __cplusplus
}
#endif

#endif
