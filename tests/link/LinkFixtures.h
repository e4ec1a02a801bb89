// Fixtures for the link tests: a stream the test controls byte by byte.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "aLink.h"
#include "aTime.h"

namespace LinkTest {

using Bytes = std::vector<uint8_t>;

// A caller's stream whose input the test feeds and whose writes it records, one
// entry per write call. Writes can be held at a gate to keep the writer thread
// busy while packets pile up behind it.
class ScriptedStream {
  public:
    // The stream to hand to aLink_Create; the state stays shared with it.
    static std::shared_ptr<ScriptedStream> make(aStream** stream);

    void feed(const Bytes& bytes);
    // Waits (bounded) until at least `count` write calls were made; false on time-out.
    bool awaitWrites(size_t count, uint32_t timeoutMs = 2000);
    // Waits (bounded) until the written bytes contain `needle`.
    bool awaitWritten(const Bytes& needle, uint32_t timeoutMs = 2000);
    std::vector<Bytes> writes();
    Bytes written();
    void clearWrites();
    size_t countWritten(const Bytes& packet);

    void closeGate();
    void openGate();
    // Waits until a write is held at the closed gate.
    bool awaitHeldAtGate(uint32_t timeoutMs = 2000);
    bool destroyed();

  private:
    static aErr getByte(uint8* byte, void* ref);
    static aErr awaitInput(uint32 timeoutMs, void* ref);
    static aErr putByte(const uint8* byte, void* ref);
    static aErr writeBuffer(const uint8* bytes, uint32 count, void* ref);
    static aErr destroy(void* ref);
    aErr record(const uint8* bytes, uint32 count);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<uint8_t> input_;
    std::vector<Bytes> writes_;
    bool gateClosed_ = false;
    bool heldAtGate_ = false;
    bool destroyed_ = false;
    std::shared_ptr<ScriptedStream> self_; // the stream's reference until destroy
};

// Builds a packet's wire bytes.
Bytes wire(uint8_t address, const Bytes& data);

// Counts how often `needle` occurs in `haystack`.
size_t occurrences(const Bytes& haystack, const Bytes& needle);

// Polls the condition every millisecond for at most timeoutMs.
template <class Condition> bool eventually(Condition condition, uint32_t timeoutMs = 2000) {
    for (uint32_t waited = 0; !condition(); ++waited) {
        if (waited >= timeoutMs) return false;
        aTime_MSSleep(1);
    }
    return true;
}

// A link over a fresh scripted stream; destroyed with the fixture.
struct ScriptedLink {
    ScriptedLink();
    ~ScriptedLink();
    std::shared_ptr<ScriptedStream> stream;
    uint32 ref = 0;
};

// Packets the link hands to callers, taken until none arrives within waitMs.
std::vector<Bytes> takeReceived(uint32 ref, uint32 waitMs = 50);

} // namespace LinkTest
