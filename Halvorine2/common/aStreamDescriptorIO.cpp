#include "aStreamDescriptorIO.h"

#include "aTime.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// One write; sockets never raise SIGPIPE for a vanished peer.
ssize_t sWriteSome(int fd, const uint8* bytes, uint32 count) {
    ssize_t n = send(fd, bytes, count, MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = write(fd, bytes, count);
    return n;
}

} // namespace

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

aErr aStreamInBuffer_AwaitInput(const aStreamInBuffer* buffer, int fd, uint32 timeoutMs) {
    if (buffer->position < buffer->count) return aErrNone;
    pollfd p = {fd, POLLIN, 0};
    int ready = poll(&p, 1, static_cast<int>(timeoutMs));
    if (ready > 0) return aErrNone;
    if (ready == 0) return aErrTimeout;
    return errno == EINTR ? aErrNone : aErrIO;
}

aErr aStreamDescriptor_WriteAll(int fd, const uint8* bytes, uint32 count, uint32 timeoutMs) {
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
        pollfd p = {fd, POLLOUT, 0};
        if (poll(&p, 1, static_cast<int>(timeoutMs - elapsed)) < 0 && errno != EINTR) return aErrIO;
    }
    return aErrNone;
}

bool aStreamDescriptor_SetNonBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}
