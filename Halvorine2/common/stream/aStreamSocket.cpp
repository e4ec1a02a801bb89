#include "aStream.h"
#include "aStreamDescriptorIO.h"
#include "aTime.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <new>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

const uint16 kSocketCheck = 0xDEAD;
const uint32 kCloseSettleMs = 10;
const uint32 kWritePauseMs = 60;
const int kWriteAttempts = 10;
const int kTryLockMs = 2;

// The reader and the writer thread may both find a reset and reconnect: every use of
// the socket handle happens under the lock, so neither ever works on a handle the
// other has closed, and one reset leads to one reconnection.
struct SocketRecord {
    uint16 port;
    sockaddr_in address;
    // Changed under the lock; atomic so that an input wait may take them without it.
    std::atomic<int> fd{-1};
    std::atomic<bool> connected{false};
    // Counts connections made; a writer that sees it change knows its peer is new.
    uint32 generation = 0;
    uint16 check = kSocketCheck;
    std::mutex lock;
    aStreamInBuffer in = {};
    aStreamWaker waker;
    // Sent first over every renewed connection.
    uint8 preamble[aSTREAM_PREAMBLE_MAX];
    uint32 preambleCount = 0;
    // What a write without waiting left unsent, and over which connection: the caller
    // sends it next.
    uint32 owed = 0;
    uint32 owedGeneration = 0;
};

SocketRecord* sRecord(void* ref) {
    SocketRecord* r = static_cast<SocketRecord*>(ref);
    return r && r->check == kSocketCheck ? r : nullptr;
}

bool sIsReset(int error) {
    return error == ECONNRESET || error == ENOTCONN || error == ETIMEDOUT;
}

bool sIsBrokenOnSend(int error) {
    return error == ECONNABORTED || error == ECONNRESET || error == ENOTCONN || error == EPIPE;
}

bool sWouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

void sClose(SocketRecord* r) {
    r->connected = false;
    if (r->fd >= 0) close(r->fd);
    r->fd = -1;
}

// Non-blocking connect bounded by aSTREAM_SOCKET_CONNECT_TIMEOUT and by the waker;
// answers errno's value.
int sConnectBounded(int fd, const sockaddr_in* address, const aStreamWaker* waker) {
    if (connect(fd, reinterpret_cast<const sockaddr*>(address), sizeof *address) == 0) return 0;
    if (errno != EINPROGRESS && errno != EINTR) return errno;
    uint32 start = aTime_GetMSTicks();
    for (;;) {
        uint32 elapsed = aTime_GetMSTicks() - start;
        if (elapsed >= aSTREAM_SOCKET_CONNECT_TIMEOUT) return ETIMEDOUT;
        aStreamWait wait = aStreamWaker_Poll(waker, fd, POLLOUT, aSTREAM_SOCKET_CONNECT_TIMEOUT - elapsed);
        if (wait == kWaitReady) break;
        if (wait == kWaitWoken) return ETIMEDOUT;
        if (wait == kWaitFailed) return errno;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
    return error;
}

bool sConfigure(int fd) {
    int on = 1;
    timeval noTimeout = {0, 0};
    linger resetOnClose = {1, 0};
    return setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0 &&
           setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &noTimeout, sizeof noTimeout) == 0 &&
           setsockopt(fd, SOL_SOCKET, SO_LINGER, &resetOnClose, sizeof resetOnClose) == 0 &&
           aStreamDescriptor_SetNonBlocking(fd);
}

// Connects, or reconnects after dropping the current connection. Called with the lock
// held (or before the record is shared).
aErr sConnect(SocketRecord* r) {
    if (r->fd >= 0) {
        sClose(r);
        aTime_MSSleep(kCloseSettleMs);
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return aErrIO;
    int error = sConnectBounded(fd, &r->address, &r->waker);
    if (error != 0) {
        aTime_MSSleep(kCloseSettleMs);
        close(fd);
        bool refused =
            error == ECONNREFUSED || error == ECONNRESET || error == ETIMEDOUT || sWouldBlock(error);
        return refused ? aErrConnection : aErrIO;
    }
    if (!sConfigure(fd)) {
        close(fd);
        return aErrIO;
    }
    r->fd = fd;
    r->connected = true;
    // A fresh connection's buffer is empty: the preamble goes whole, ahead of anything.
    if (r->generation++ > 0 && r->preambleCount > 0)
        send(fd, r->preamble, r->preambleCount, MSG_NOSIGNAL | MSG_DONTWAIT);
    return aErrNone;
}

// The next use after a lost connection (or a failed renewal) connects again.
aErr sEnsureConnected(SocketRecord* r) {
    return r->connected ? aErrNone : sConnect(r);
}

// True when the peer has closed its side (a module that reboots does): what is sent now
// is lost, so the connection is renewed first. *unread tells that bytes of the old
// connection still wait: the reader takes them and then renews it.
bool sPeerGone(int fd, bool* unread) {
    pollfd p = {fd, POLLRDHUP, 0};
    if (poll(&p, 1, 0) != 1 || !(p.revents & (POLLRDHUP | POLLHUP | POLLERR))) return false;
    int pending = 0;
    *unread = ioctl(fd, FIONREAD, &pending) == 0 && pending > 0;
    return true;
}

// After a reset was found and the connection renewed: a second look for a byte.
aErr sReadAfterReconnect(SocketRecord* r, uint8* byte) {
    ssize_t n = aStreamInBuffer_Fill(&r->in, r->fd);
    if (n > 0) return aStreamInBuffer_Take(&r->in, byte) ? aErrNone : aErrIO;
    if (n == 0 || sWouldBlock(errno) || sIsReset(errno)) return aErrNotReady;
    return aErrIO;
}

aErr sGetByte(uint8* byte, void* ref) {
    SocketRecord* r = sRecord(ref);
    if (!r || !byte) return aErrParam;
    if (aStreamInBuffer_Take(&r->in, byte)) return aErrNone;
    std::lock_guard<std::mutex> guard(r->lock);
    if (!r->connected) {
        aErr err = sConnect(r);
        return err != aErrNone ? aErrConnection : sReadAfterReconnect(r, byte);
    }
    ssize_t n = aStreamInBuffer_Fill(&r->in, r->fd);
    if (n > 0) return aStreamInBuffer_Take(&r->in, byte) ? aErrNone : aErrIO;
    if (n < 0 && sWouldBlock(errno)) return aErrNotReady;
    if (n < 0 && !sIsReset(errno)) return aErrConnection;
    // A closed peer (0) or a reset: a new connection, not "nothing yet".
    r->connected = false;
    aErr err = sConnect(r);
    return err != aErrNone ? err : sReadAfterReconnect(r, byte);
}

// The handle is polled without the lock, so a waiting (or briefly polling) reader never
// holds up a writer; a reconnection meanwhile at worst ends the wait early.
aErr sAwaitInput(uint32 timeoutMs, void* ref) {
    SocketRecord* r = sRecord(ref);
    if (!r) return aErrParam;
    if (aStreamWaker_Raised(&r->waker)) return aErrCancel;
    int fd = r->fd;
    if (!r->connected || fd < 0) return aErrNone;
    return aStreamInBuffer_AwaitInput(&r->in, fd, timeoutMs, &r->waker);
}

// One send of what remains. Answers false when the write must end at once.
struct WritePass {
    const uint8* start;
    uint32 count;
    uint32 generation;
    // The rest of a packet that a write without waiting began over the connection of
    // this generation: over any other it is dropped, never sent on its own.
    bool rest = false;
    // The peer has closed and its last bytes wait for the reader, which renews the
    // connection once it has taken them.
    bool awaitingReader = false;
    int attempts = 0;
    int failures = 0;
    int renewals = 0;
    aErr failure = aErrBusy;
};

bool sSendPass(SocketRecord* r, const uint8*& bytes, uint32& remaining, WritePass& pass) {
    std::lock_guard<std::mutex> guard(r->lock);
    bool unread = false;
    pass.awaitingReader = false;
    if (r->connected && sPeerGone(r->fd, &unread)) {
        if (unread) {
            pass.attempts++;
            pass.failure = aErrBusy;
            pass.awaitingReader = true;
            return true;
        }
        r->connected = false;
    }
    aErr err = sEnsureConnected(r);
    if (err != aErrNone) {
        pass.failure = err == aErrIO ? aErrIO : aErrConnection;
        return false;
    }
    if (r->generation != pass.generation) {
        // The connection was renewed (by this writer or by the reader) part way: the
        // new peer has seen none of these bytes, and must not start on a packet's tail.
        if (pass.rest) {
            remaining = 0;
            return true;
        }
        pass.generation = r->generation;
        pass.renewals++;
        bytes = pass.start;
        remaining = pass.count;
    }
    ssize_t n = send(r->fd, bytes, remaining, MSG_NOSIGNAL);
    if (n > 0) {
        bytes += n;
        remaining -= static_cast<uint32>(n);
        pass.attempts = 1;
    } else if (n < 0 && errno == EINTR) {
        // Interrupted before sending anything: simply the next pass.
    } else if (n < 0 && sWouldBlock(errno)) {
        pass.attempts++;
        pass.failure = aErrBusy;
    } else if (n < 0 && sIsBrokenOnSend(errno)) {
        r->connected = false;
        aErr err = sConnect(r);
        if (err != aErrNone) {
            pass.failure = err;
            return false;
        }
        pass.attempts++;
        pass.failure = aErrConnection;
    } else {
        pass.failures++;
        pass.failure = aErrIO;
    }
    return true;
}

aErr sWriteBuffer(const uint8* bytes, uint32 count, void* ref) {
    SocketRecord* r = sRecord(ref);
    if (!r || !bytes) return aErrParam;
    WritePass pass;
    pass.start = bytes;
    pass.count = count;
    {
        std::lock_guard<std::mutex> guard(r->lock);
        pass.rest = r->owed == count;
        pass.generation = pass.rest ? r->owedGeneration : r->generation;
        r->owed = 0;
    }
    uint32 remaining = count;
    while (remaining > 0) {
        if (!sSendPass(r, bytes, remaining, pass)) return pass.failure;
        if (remaining == 0) break;
        if (pass.attempts >= kWriteAttempts || pass.failures >= kWriteAttempts ||
            pass.renewals >= kWriteAttempts)
            return pass.failure;
        // The pause ends early once the connection has room again; the reader gets the
        // whole pause, since a closed connection always has room.
        int waitFor = pass.awaitingReader ? -1 : r->fd.load();
        if (aStreamWaker_Poll(&r->waker, waitFor, POLLOUT, kWritePauseMs) == kWaitWoken) return aErrCancel;
    }
    return aErrNone;
}

// Takes the lock unless its holder keeps it beyond a system call's time.
bool sLockBriefly(std::unique_lock<std::mutex>& guard) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTryLockMs);
    while (!guard.try_lock()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::yield();
    }
    return true;
}

// Only over a connection in use: a renewal is the waiting writer's business. The lock is
// waited for only as long as the reader's or writer's system calls hold it, never
// through a reconnection.
aErr sTryWrite(const uint8* bytes, uint32 count, uint32* written, void* ref) {
    SocketRecord* r = sRecord(ref);
    if (!r) return aErrParam;
    std::unique_lock<std::mutex> guard(r->lock, std::defer_lock);
    if (!sLockBriefly(guard) || !r->connected) return aErrNotReady;
    aErr err = aStreamDescriptor_TryWrite(r->fd, bytes, count, written);
    if (*written > 0 && *written < count) {
        r->owed = count - *written;
        r->owedGeneration = r->generation;
    }
    return err;
}

aErr sInterrupt(void* ref) {
    SocketRecord* r = sRecord(ref);
    if (!r) return aErrParam;
    aStreamWaker_Raise(&r->waker);
    return aErrNone;
}

aErr sSetPreamble(const uint8* bytes, uint32 count, void* ref) {
    SocketRecord* r = sRecord(ref);
    if (!r) return aErrParam;
    std::lock_guard<std::mutex> guard(r->lock);
    std::memcpy(r->preamble, bytes, count);
    r->preambleCount = count;
    return aErrNone;
}

aErr sPutByte(const uint8* byte, void* ref) {
    return sWriteBuffer(byte, 1, ref);
}

aErr sDestroy(void* ref) {
    SocketRecord* r = sRecord(ref);
    if (!r) return aErrParam;
    {
        std::lock_guard<std::mutex> guard(r->lock);
        sClose(r);
        r->check = 0;
    }
    aTime_MSSleep(kCloseSettleMs);
    aStreamWaker_Close(&r->waker);
    delete r;
    return aErrNone;
}

} // namespace

extern "C" aErr aStream_CreateSocket(uint32 address, uint16 port, aStream** stream) {
    if (!stream) return aErrResource;
    *stream = nullptr;
    SocketRecord* r = new (std::nothrow) SocketRecord();
    if (!r) return aErrResource;
    r->port = port;
    r->address.sin_family = AF_INET;
    r->address.sin_port = htons(port);
    r->address.sin_addr.s_addr = address;
    if (!aStreamWaker_Open(&r->waker) || sConnect(r) != aErrNone) {
        aStreamWaker_Close(&r->waker);
        delete r;
        return aErrResource;
    }
    *stream = aStream_Create(sGetByte, sPutByte, sWriteBuffer, sDestroy, r);
    if (!*stream) {
        sDestroy(r);
        return aErrResource;
    }
    aStream_SetAwaitInput(*stream, sAwaitInput);
    aStream_SetTryWrite(*stream, sTryWrite);
    aStream_SetInterrupt(*stream, sInterrupt);
    aStream_SetPreambleProc(*stream, sSetPreamble);
    return aErrNone;
}
