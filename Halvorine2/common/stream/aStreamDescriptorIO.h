/* Internal: the read buffering and bounded writing shared by the transports that sit on
 * a descriptor (serial port, socket, caller's descriptor). Not part of the public API. */
#ifndef HALVORINE_ASTREAMDESCRIPTORIO_H
#define HALVORINE_ASTREAMDESCRIPTORIO_H

#include "aError.h"

#include <atomic>
#include <sys/types.h>

/* Ends a descriptor transport's waits when its owner stops: an event descriptor polled
 * beside the transport's own. Once raised it stays raised. */
struct aStreamWaker {
    int fd = -1;
    std::atomic<bool> raised{false};
};

/* False when no event descriptor can be made. */
bool aStreamWaker_Open(aStreamWaker* waker);
void aStreamWaker_Close(aStreamWaker* waker);
void aStreamWaker_Raise(aStreamWaker* waker);
/* A NULL waker is never raised. */
bool aStreamWaker_Raised(const aStreamWaker* waker);

typedef enum { kWaitReady, kWaitTimeout, kWaitWoken, kWaitFailed } aStreamWait;

/* Polls fd (negative: nothing, a plain pause) for events up to timeoutMs, ending at once
 * when the waker (may be NULL) is or becomes raised. A signal does not end it. */
aStreamWait aStreamWaker_Poll(const aStreamWaker* waker, int fd, short events, uint32 timeoutMs);

/* Bytes taken from the descriptor by one read and handed out one at a time, so a byte
 * read costs a system call only when the buffer is empty. Used by the reading thread
 * alone. */
struct aStreamInBuffer {
    static const uint32 kSize = 4096;
    uint8 data[kSize];
    uint32 count;
    uint32 position;
};

/* Next buffered byte; false when the buffer is empty. */
bool aStreamInBuffer_Take(aStreamInBuffer* buffer, uint8* byte);

/* Refills an empty buffer with one read of fd (retried on EINTR). Answers what read gave:
 * the byte count, 0 at the end of data, or -1 with errno set. */
ssize_t aStreamInBuffer_Fill(aStreamInBuffer* buffer, int fd);

/* The next byte: from the buffer, else after one refill. aErrNotReady when nothing
 * waits, atEnd when the descriptor reports the end of data, aErrIO on a failure. */
aErr aStreamInBuffer_ReadByte(aStreamInBuffer* buffer, int fd, uint8* byte, aErr atEnd);

/* Waits up to timeoutMs until a byte is buffered or fd is readable (or closed):
 * aErrNone then, aErrTimeout when the time passed, aErrCancel once the waker is raised,
 * aErrIO when fd cannot be polled. */
aErr aStreamInBuffer_AwaitInput(const aStreamInBuffer* buffer, int fd, uint32 timeoutMs,
                                const aStreamWaker* waker = nullptr);

/* Writes all count bytes to a non-blocking fd, waiting for room at most timeoutMs in all.
 * No write raises SIGPIPE: a socket or pipe whose reader has gone answers aErrIO.
 * aErrNone when every byte went out; aErrIO on a failure or when the time ran out (errno
 * tells which); aErrCancel when the waker was raised before every byte went out. */
aErr aStreamDescriptor_WriteAll(int fd, const uint8* bytes, uint32 count, uint32 timeoutMs,
                                const aStreamWaker* waker = nullptr);

/* One write without waiting of at most a packet batch's size: aErrNone when all count
 * bytes went; aErrNotReady when none or only some did (*written tells: the caller sends
 * the rest next); aErrIO when fd has failed. */
aErr aStreamDescriptor_TryWrite(int fd, const uint8* bytes, uint32 count, uint32* written);

/* Puts fd into non-blocking mode; false on failure. */
bool aStreamDescriptor_SetNonBlocking(int fd);

#endif
