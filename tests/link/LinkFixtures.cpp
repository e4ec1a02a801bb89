#include "LinkFixtures.h"

#include <algorithm>
#include <chrono>

namespace LinkTest {

std::shared_ptr<ScriptedStream> ScriptedStream::make(aStream** stream) {
    auto state = std::make_shared<ScriptedStream>();
    state->self_ = state;
    *stream = aStream_Create(getByte, putByte, writeBuffer, destroy, state.get());
    aStream_SetAwaitInput(*stream, awaitInput);
    return state;
}

aErr ScriptedStream::getByte(uint8* byte, void* ref) {
    ScriptedStream* s = static_cast<ScriptedStream*>(ref);
    std::lock_guard<std::mutex> lock(s->mutex_);
    if (s->input_.empty()) return aErrNotReady;
    *byte = s->input_.front();
    s->input_.pop_front();
    return aErrNone;
}

aErr ScriptedStream::awaitInput(uint32 timeoutMs, void* ref) {
    ScriptedStream* s = static_cast<ScriptedStream*>(ref);
    std::unique_lock<std::mutex> lock(s->mutex_);
    bool ready = s->changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                      [s] { return !s->input_.empty() || s->destroyed_; });
    return ready ? aErrNone : aErrTimeout;
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
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return writes_.size() >= count; });
}

bool ScriptedStream::awaitWritten(const Bytes& needle, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        Bytes all;
        for (const Bytes& w : writes_)
            all.insert(all.end(), w.begin(), w.end());
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
    for (const Bytes& w : writes_)
        all.insert(all.end(), w.begin(), w.end());
    return all;
}

void ScriptedStream::clearWrites() {
    std::lock_guard<std::mutex> lock(mutex_);
    writes_.clear();
}

size_t ScriptedStream::countWritten(const Bytes& packet) {
    return occurrences(written(), packet);
}

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
    for (auto it = haystack.begin();
         (it = std::search(it, haystack.end(), needle.begin(), needle.end())) != haystack.end(); ++it)
        ++found;
    return found;
}

ScriptedLink::ScriptedLink() {
    aStream* s = nullptr;
    stream = ScriptedStream::make(&s);
    ref = aLink_Create(s);
}

ScriptedLink::~ScriptedLink() {
    if (ref) aLink_Destroy(&ref);
}

std::vector<Bytes> takeReceived(uint32 ref, uint32 waitMs) {
    std::vector<Bytes> packets;
    while (aPacket* p = aLink_AwaitPacket(ref, waitMs)) {
        packets.push_back(wire(p->address, Bytes(p->data, p->data + p->dataSize)));
        aPacket_Destroy(&p);
    }
    return packets;
}

} // namespace LinkTest
