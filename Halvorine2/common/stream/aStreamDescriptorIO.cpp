#include "aStreamDescriptorIO.h"

#include "aTime.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <csignal>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Writes of at most this size are tried without waiting.
const uint32 kTryWriteMax = 512;

// A write to a descriptor that is no socket (a pipe whose reader has gone raises
// SIGPIPE): the signal is held back for the call and the one it raised taken away, so
// that it never ends the process. One already waiting is left alone.
ssize_t sWritePlain(int fd, const uint8* bytes, uint32 count) {
    sigset_t pipeOnly, previous, pending;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigpending(&pending);
    bool waiting = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    ssize_t n = write(fd, bytes, count);
    int error = errno;
    if (n < 0 && error == EPIPE && !waiting) {
        const timespec none = {0, 0};
        sigtimedwait(&pipeOnly, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return n;
}

// One write; a vanished peer never raises SIGPIPE.
ssize_t sWriteSome(int fd, const uint8* bytes, uint32 count) {
    ssize_t n = send(fd, bytes, count, MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = sWritePlain(fd, bytes, count);
    return n;
}

} // namespace

bool aStreamWaker_Open(aStreamWaker* waker) {
    waker->fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return waker->fd >= 0;
}

void aStreamWaker_Close(aStreamWaker* waker) {
    if (waker->fd >= 0) close(waker->fd);
    waker->fd = -1;
}

void aStreamWaker_Raise(aStreamWaker* waker) {
    waker->raised = true;
    const uint64_t one = 1;
    if (waker->fd >= 0) (void)!write(waker->fd, &one, sizeof one);
}

bool aStreamWaker_Raised(const aStreamWaker* waker) {
    return waker && waker->raised;
}

aStreamWait aStreamWaker_Poll(const aStreamWaker* waker, int fd, short events, uint32 timeoutMs) {
    const uint32 start = aTime_GetMSTicks();
    for (;;) {
        if (aStreamWaker_Raised(waker)) return kWaitWoken;
        uint32 elapsed = aTime_GetMSTicks() - start;
        uint32 left = elapsed < timeoutMs ? timeoutMs - elapsed : 0;
        pollfd p[2] = {{fd, events, 0}, {waker ? waker->fd : -1, POLLIN, 0}};
        int ready = poll(p, 2, static_cast<int>(left));
        if (aStreamWaker_Raised(waker)) return kWaitWoken;
        if (ready > 0) return p[0].revents ? kWaitReady : kWaitWoken;
        if (ready == 0) return kWaitTimeout;
        // A signal says nothing about fd (a connection in progress is not made by it).
        if (errno != EINTR) return kWaitFailed;
    }
}

bool aStreamInBuffer_Take(aStreamInBuffer* buffer, uint8* byte) {
    if (buffer->position >= buffer->count) return false;
    *byte = buffer->data[buffer->position++];
    return true;
}

ssize_t aStreamInBuffer_Fill(aStreamInBuffer* buffer, int fd) {
    ssize_t n;
    do {
        n = read(fd, buffer->data, aStreamInBuffer::kSize);
    } while (n < 0 && errno == EINTR);
    buffer->position = 0;
    buffer->count = n > 0 ? static_cast<uint32>(n) : 0;
    return n;
}

aErr aStreamInBuffer_ReadByte(aStreamInBuffer* buffer, int fd, uint8* byte, aErr atEnd) {
    if (aStreamInBuffer_Take(buffer, byte)) return aErrNone;
    ssize_t n = aStreamInBuffer_Fill(buffer, fd);
    if (n > 0) return aStreamInBuffer_Take(buffer, byte) ? aErrNone : aErrIO;
    if (n == 0) return atEnd;
    return errno == EAGAIN || errno == EWOULDBLOCK ? aErrNotReady : aErrIO;
}

aErr aStreamInBuffer_AwaitInput(const aStreamInBuffer* buffer, int fd, uint32 timeoutMs,
                                const aStreamWaker* waker) {
    if (buffer->position < buffer->count) return aErrNone;
    switch (aStreamWaker_Poll(waker, fd, POLLIN, timeoutMs)) {
    case kWaitReady:
        return aErrNone;
    case kWaitTimeout:
        return aErrTimeout;
    case kWaitWoken:
        return aErrCancel;
    default:
        return aErrIO;
    }
}

aErr aStreamDescriptor_WriteAll(int fd, const uint8* bytes, uint32 count, uint32 timeoutMs,
                                const aStreamWaker* waker) {
    uint32 start = aTime_GetMSTicks();
    while (count > 0) {
        ssize_t n = sWriteSome(fd, bytes, count);
        if (n > 0) {
            bytes += n;
            count -= static_cast<uint32>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return aErrIO;
        uint32 elapsed = aTime_GetMSTicks() - start;
        if (elapsed >= timeoutMs) {
            errno = ETIMEDOUT;
            return aErrIO;
        }
        aStreamWait wait = aStreamWaker_Poll(waker, fd, POLLOUT, timeoutMs - elapsed);
        if (wait == kWaitWoken) return aErrCancel;
        if (wait == kWaitFailed) return aErrIO;
    }
    return aErrNone;
}

aErr aStreamDescriptor_TryWrite(int fd, const uint8* bytes, uint32 count, uint32* written) {
    *written = 0;
    if (count > kTryWriteMax) return aErrNotReady;
    ssize_t n = sWriteSome(fd, bytes, count);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? aErrNotReady : aErrIO;
    *written = static_cast<uint32>(n);
    return *written == count ? aErrNone : aErrNotReady;
}

bool aStreamDescriptor_SetNonBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}
