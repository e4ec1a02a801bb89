#include "LinkFixtures.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace LinkTest {

namespace {

constexpr int kQuietReadMs = 20;

// Reading side state of the descriptor stream (reader thread only).
struct FdStream {
    int fd;
    uint8_t buffer[4096];
    size_t count = 0;
    size_t position = 0;
};

aErr fdGetByte(uint8* byte, void* ref) {
    FdStream* s = static_cast<FdStream*>(ref);
    for (int attempt = 0; s->position == s->count && attempt < 2; ++attempt) {
        ssize_t n = ::read(s->fd, s->buffer, sizeof s->buffer);
        if (n > 0) {
            s->count = static_cast<size_t>(n);
            s->position = 0;
        } else if (n == 0) {
            return aErrIO;
        } else if (errno != EAGAIN && errno != EINTR) {
            return aErrIO;
        } else if (attempt == 0) {
            pollfd p{s->fd, POLLIN, 0};
            ::poll(&p, 1, kQuietReadMs);
        }
    }
    if (s->position == s->count) return aErrNotReady;
    *byte = s->buffer[s->position++];
    return aErrNone;
}

aErr fdWriteBuffer(const uint8* bytes, uint32 count, void* ref) {
    FdStream* s = static_cast<FdStream*>(ref);
    while (count > 0) {
        ssize_t n = ::write(s->fd, bytes, count);
        if (n > 0) {
            bytes += n;
            count -= static_cast<uint32>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{s->fd, POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0) return aErrWrite;
        } else {
            return aErrWrite;
        }
    }
    return aErrNone;
}

aErr fdPutByte(const uint8* byte, void* ref) { return fdWriteBuffer(byte, 1, ref); }

aErr fdDestroy(void* ref) {
    FdStream* s = static_cast<FdStream*>(ref);
    ::close(s->fd);
    delete s;
    return aErrNone;
}

}  // namespace

aStream* makeFdStream(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    FdStream* s = new FdStream{fd, {}, 0, 0};
    aStream* stream = aStream_Create(fdGetByte, fdPutByte, fdWriteBuffer, fdDestroy, s);
    if (!stream) fdDestroy(s);
    return stream;
}

std::shared_ptr<ScriptedStream> ScriptedStream::make(aStream** stream) {
    auto state = std::make_shared<ScriptedStream>();
    state->self_ = state;
    *stream = aStream_Create(getByte, putByte, writeBuffer, destroy, state.get());
    return state;
}

aErr ScriptedStream::getByte(uint8* byte, void* ref) {
    ScriptedStream* s = static_cast<ScriptedStream*>(ref);
    std::unique_lock<std::mutex> lock(s->mutex_);
    if (!s->changed_.wait_for(lock, std::chrono::milliseconds(kQuietReadMs), [s] { return !s->input_.empty(); }))
        return aErrNotReady;
    *byte = s->input_.front();
    s->input_.pop_front();
    return aErrNone;
}

aErr ScriptedStream::putByte(const uint8* byte, void* ref) {
    return static_cast<ScriptedStream*>(ref)->record(byte, 1);
}

aErr ScriptedStream::writeBuffer(const uint8* bytes, uint32 count, void* ref) {
    return static_cast<ScriptedStream*>(ref)->record(bytes, count);
}

aErr ScriptedStream::destroy(void* ref) {
    ScriptedStream* s = static_cast<ScriptedStream*>(ref);
    std::shared_ptr<ScriptedStream> keep;
    {
        std::lock_guard<std::mutex> lock(s->mutex_);
        s->destroyed_ = true;
        keep = std::move(s->self_);
        s->changed_.notify_all();
    }
    return aErrNone;
}

aErr ScriptedStream::record(const uint8* bytes, uint32 count) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (gateClosed_) {
        heldAtGate_ = true;
        changed_.notify_all();
        changed_.wait_for(lock, std::chrono::seconds(10), [this] { return !gateClosed_; });
        heldAtGate_ = false;
    }
    writes_.emplace_back(bytes, bytes + count);
    changed_.notify_all();
    return aErrNone;
}

void ScriptedStream::feed(const Bytes& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    input_.insert(input_.end(), bytes.begin(), bytes.end());
    changed_.notify_all();
}

bool ScriptedStream::awaitWrites(size_t count, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return writes_.size() >= count; });
}

bool ScriptedStream::awaitWritten(const Bytes& needle, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        Bytes all;
        for (const Bytes& w : writes_) all.insert(all.end(), w.begin(), w.end());
        return occurrences(all, needle) > 0;
    });
}

std::vector<Bytes> ScriptedStream::writes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
}

Bytes ScriptedStream::written() {
    std::lock_guard<std::mutex> lock(mutex_);
    Bytes all;
    for (const Bytes& w : writes_) all.insert(all.end(), w.begin(), w.end());
    return all;
}

void ScriptedStream::clearWrites() {
    std::lock_guard<std::mutex> lock(mutex_);
    writes_.clear();
}

size_t ScriptedStream::countWritten(const Bytes& packet) { return occurrences(written(), packet); }

void ScriptedStream::closeGate() {
    std::lock_guard<std::mutex> lock(mutex_);
    gateClosed_ = true;
}

void ScriptedStream::openGate() {
    std::lock_guard<std::mutex> lock(mutex_);
    gateClosed_ = false;
    changed_.notify_all();
}

bool ScriptedStream::awaitHeldAtGate(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return heldAtGate_; });
}

bool ScriptedStream::destroyed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return destroyed_;
}

Bytes wire(uint8_t address, const Bytes& data) {
    Bytes bytes{address, static_cast<uint8_t>(data.size())};
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

size_t occurrences(const Bytes& haystack, const Bytes& needle) {
    size_t found = 0;
    if (needle.empty() || haystack.size() < needle.size()) return 0;
    for (auto it = haystack.begin(); (it = std::search(it, haystack.end(), needle.begin(), needle.end())) != haystack.end(); ++it)
        ++found;
    return found;
}

}  // namespace LinkTest
