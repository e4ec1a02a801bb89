#include "aPacketFifo.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <algorithm>

namespace {

/* A waiter polls this long before it sleeps: a reply to a request usually comes
 * within it, and taking it without a sleep saves a wake-up per exchange. */
constexpr auto kSpinBeforeSleep = std::chrono::microseconds(50);

// Packets are queued by value: a hand-over costs one allocation, on the way out.
struct Entry {
    aPacket packet;
    uint32 sequence;
};

struct packetFifo {
    std::deque<Entry> queue;
    std::condition_variable condition;
    std::mutex mutex;
    bool alive = true;
    // Readable without the lock; changed only under it.
    std::atomic<uint32> frontSequence{0};
    std::atomic<uint32> nextSequence{0};
    // Bumped, under the lock, by every change a waiter wakes for: a put or the end.
    std::atomic<uint32> generation{0};

    void updateFront() { frontSequence = queue.empty() ? nextSequence.load() : queue.front().sequence; }
};

typedef std::shared_ptr<packetFifo> FifoRef;
typedef std::deque<Entry>::iterator EntryIt;

struct Registry {
    std::mutex mutex;
    std::map<uint64, FifoRef> fifos;
    std::atomic<uint64> nextId{1};
};

// Never destroyed: a thread still running at exit may look an id up.
Registry& sRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

// The registry lock is held only for the lookup; the caller then works on its own
// reference, so a FIFO outlives its destruction until the last operation ends.
FifoRef sLookup(uint64 fifoId) {
    if (fifoId == 0) return FifoRef();
    Registry& registry = sRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = registry.fifos.find(fifoId);
    return found == registry.fifos.end() ? FifoRef() : found->second;
}

// Nothing may throw across the C boundary.
template <typename Result, typename Operation> Result sGuarded(Result failure, Operation operation) {
    try {
        return operation();
    } catch (...) {
        return failure;
    }
}

// Hands the entry's packet out as a fresh record; on allocation failure the entry stays.
aPacket* sTake(packetFifo& fifo, EntryIt entry) {
    aPacket* packet = aPacket_CreateWithData(entry->packet.address, entry->packet.dataSize, entry->packet.data);
    if (packet == nullptr) return nullptr;
    fifo.queue.erase(entry);
    fifo.updateFront();
    return packet;
}

// Offers each entry to the filter at most once across all scans of one call:
// only entries queued after the last one tested are looked at.
class FirstMatch {
  public:
    FirstMatch(const packetFifo& fifo, aPacketFilter filter, void* ref)
        : filter_(filter), ref_(ref), lastTested_(fifo.frontSequence.load() - 1) {}

    EntryIt operator()(packetFifo& fifo) {
        EntryIt entry = fifo.queue.end();
        // Sequences grow along the queue, so the untested entries form its tail.
        while (entry != fifo.queue.begin() && sIsAfter(std::prev(entry)->sequence, lastTested_)) --entry;
        for (; entry != fifo.queue.end(); ++entry) {
            lastTested_ = entry->sequence;
            if (filter_(&entry->packet, ref_)) return entry;
        }
        return entry;
    }

  private:
    // Signed difference, so the counters may wrap.
    static bool sIsAfter(uint32 sequence, uint32 reference) { return int32(sequence - reference) > 0; }

    aPacketFilter filter_;
    void* ref_;
    uint32 lastTested_;
};

struct FrontEntry {
    EntryIt operator()(packetFifo& fifo) const { return fifo.queue.begin(); }
};

// Polls, without the lock, until the FIFO changes or the time is up. Yielding lets
// the threads that produce the packet run when they share the waiter's CPU.
void sSpinForChange(packetFifo& fifo, std::unique_lock<std::mutex>& lock,
                    std::chrono::steady_clock::time_point until) {
    const uint32 seen = fifo.generation.load();
    lock.unlock();
    while (fifo.generation.load() == seen && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    lock.lock();
}

// Scans, then waits for insertions until the scan finds an entry, the FIFO dies or
// the deadline (fixed at the call, monotonic) passes. Timeout 0 scans just once.
// The first moments of the wait poll, the rest sleeps.
template <typename Scan> aPacket* sAwait(uint64 fifoId, uint32 timeoutMs, Scan makeScan) {
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    const auto spinEnd = std::min(deadline, start + kSpinBeforeSleep);
    FifoRef fifo = sLookup(fifoId);
    if (!fifo) return nullptr;
    std::unique_lock<std::mutex> lock(fifo->mutex);
    auto scan = makeScan(*fifo);
    for (;;) {
        EntryIt entry = scan(*fifo);
        if (entry != fifo->queue.end()) return sTake(*fifo, entry);
        const auto now = std::chrono::steady_clock::now();
        if (!fifo->alive || now >= deadline) return nullptr;
        if (now < spinEnd)
            sSpinForChange(*fifo, lock, spinEnd);
        else
            fifo->condition.wait_until(lock, deadline);
    }
}

aPacket* sAwaitFront(uint64 fifoId, uint32 timeoutMs) {
    return sGuarded<aPacket*>(nullptr, [&] {
        return sAwait(fifoId, timeoutMs, [](packetFifo&) { return FrontEntry(); });
    });
}

aPacket* sAwaitFirst(uint64 fifoId, aPacketFilter filter, void* ref, uint32 timeoutMs) {
    if (filter == nullptr) return nullptr;
    return sGuarded<aPacket*>(nullptr, [&] {
        return sAwait(fifoId, timeoutMs, [&](packetFifo& fifo) { return FirstMatch(fifo, filter, ref); });
    });
}

void sCopyForQueue(const aPacket* packet, aPacket* copy) {
    std::memset(copy, 0, sizeof *copy);
    copy->check = aPACKET_CHECK;
    copy->address = packet->address;
    copy->dataSize = packet->dataSize;
    copy->curSize = uint8(packet->dataSize + 2);
    std::memcpy(copy->data, packet->data, packet->dataSize);
}

} // namespace

extern "C" {

uint64 aPacketFifo_Create(void) {
    return sGuarded<uint64>(0, [] {
        FifoRef fifo = std::make_shared<packetFifo>();
        Registry& registry = sRegistry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        uint64 id = registry.nextId++;
        if (id == 0) id = registry.nextId++; // 0 always means "no FIFO"
        return registry.fifos.emplace(id, fifo).second ? id : uint64(0);
    });
}

aErr aPacketFifo_Destroy(uint64* fifoId) {
    if (fifoId == nullptr) return aErrParam;
    return sGuarded<aErr>(aErrUnknown, [&] {
        FifoRef fifo;
        {
            Registry& registry = sRegistry();
            std::lock_guard<std::mutex> lock(registry.mutex);
            auto found = registry.fifos.find(*fifoId);
            if (found == registry.fifos.end()) return aErr(aErrNotFound);
            fifo = std::move(found->second);
            registry.fifos.erase(found);
        }
        {
            std::lock_guard<std::mutex> lock(fifo->mutex);
            fifo->queue.clear();
            fifo->alive = false;
            fifo->updateFront();
            ++fifo->generation;
        }
        fifo->condition.notify_all();
        *fifoId = 0;
        return aErr(aErrNone);
    });
}

uint32 aPacketFifo_GetLength(uint64 fifoId) {
    return sGuarded<uint32>(0, [&] {
        FifoRef fifo = sLookup(fifoId);
        if (!fifo) return uint32(0);
        std::lock_guard<std::mutex> lock(fifo->mutex);
        return uint32(fifo->queue.size());
    });
}

aErr aPacketFifo_Put(uint64 fifoId, const aPacket* packet) {
    if (!aVALIDPACKET(packet) || packet->dataSize > aPACKET_MAX_DATA) return aErrParam;
    return sGuarded<aErr>(aErrParam, [&] {
        FifoRef fifo = sLookup(fifoId);
        if (!fifo) return aErr(aErrParam);
        {
            std::lock_guard<std::mutex> lock(fifo->mutex);
            if (!fifo->alive) return aErr(aErrParam); // destroyed since the lookup
            Entry entry;
            sCopyForQueue(packet, &entry.packet);
            entry.sequence = fifo->nextSequence++;
            ++fifo->generation;
            fifo->queue.push_back(entry);
            if (fifo->queue.size() > aPACKETFIFO_CAPACITY) {
                fifo->queue.clear();
                fifo->updateFront();
                return aErr(aErrNone);
            }
            fifo->updateFront();
        }
        fifo->condition.notify_all();
        return aErr(aErrNone);
    });
}

aPacket* aPacketFifo_Get(uint64 fifoId) { return sAwaitFront(fifoId, 0); }

aPacket* aPacketFifo_Await(uint64 fifoId, uint32 timeoutMs) { return sAwaitFront(fifoId, timeoutMs); }

aPacket* aPacketFifo_GetFirst(uint64 fifoId, aPacketFilter filter, void* ref) {
    return sAwaitFirst(fifoId, filter, ref, 0);
}

aPacket* aPacketFifo_AwaitFirst(uint64 fifoId, aPacketFilter filter, void* ref, uint32 timeoutMs) {
    return sAwaitFirst(fifoId, filter, ref, timeoutMs);
}

uint32 aPacketFifo_DrainPackets(uint64 fifoId, aPacketFilter filter, void* ref) {
    if (filter == nullptr) return 0;
    return sGuarded<uint32>(0, [&] {
        FifoRef fifo = sLookup(fifoId);
        if (!fifo) return uint32(0);
        std::lock_guard<std::mutex> lock(fifo->mutex);
        // remove_if keeps the survivors in order and tests each entry once.
        auto kept = std::remove_if(fifo->queue.begin(), fifo->queue.end(),
                                   [&](const Entry& entry) { return filter(&entry.packet, ref); });
        uint32 removed = uint32(fifo->queue.end() - kept);
        fifo->queue.erase(kept, fifo->queue.end());
        fifo->updateFront();
        return removed;
    });
}

} // extern "C"
