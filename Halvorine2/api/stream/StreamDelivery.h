// The delivery of stream samples to user callbacks: a ring of 500 slots fed by
// the engine's reader thread (the link's stream filter, the only producer) and
// emptied by a delivery thread (the only consumer) that calls the callbacks.
// Not part of the public API.
//
// The delivery thread sleeps on a condition variable while the ring is empty
// and is woken by each queued sample. A full ring drops the sample and counts
// it. Stopping only flags the thread; the thread that stops it joins it later,
// once it holds no lock a callback may want (a callback may subscribe or
// unsubscribe on its own Link, and so may stop its own thread).
//
// A callback may also destroy the last copy of its Link: the thread shares the
// ring and its locks with the StreamDelivery, so it ends after that callback on
// its own, and a later start or destruction of any delivery (at the latest the
// end of the program) joins it.
#ifndef HALVORINE_STREAMDELIVERY_H
#define HALVORINE_STREAMDELIVERY_H

#include <atomic>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "LinkStreamTypes.h"
#include "LocklessQueue_SPSC.h"

namespace Veltrano::Halvorine {

// One queued delivery: the callback, its reference and a copy of the sample
// (owned by the entry while it is queued).
struct asyncPacket {
    streamCallback callback;
    void* reference = nullptr;
    aPacket* packet = nullptr;
};

constexpr uint16_t kStreamRingSlots = 500;

class StreamDelivery {
  public:
    StreamDelivery() = default;
    StreamDelivery(const StreamDelivery&) = delete;
    StreamDelivery& operator=(const StreamDelivery&) = delete;
    // Stops and joins every delivery thread but the calling one; leftovers are
    // freed undelivered.
    ~StreamDelivery();

    // Producer side. Copies the packet onto the ring for the callback; a full
    // ring (or no memory for the copy) drops it and counts the drop.
    void queue(const streamCallback& callback, void* reference, const aPacket* packet);

    // Control side, serialised by the caller. start is a no-op while a thread
    // runs. stop flags the running thread and hands it back for the caller to
    // join once it holds no lock a callback may want; called on the delivery
    // thread itself it hands back nothing (the thread ends after its callback).
    void start();
    std::thread stop();
    bool running() const;

    // Samples dropped because the ring was full, since the Link was made.
    uint64_t drops() const { return core_->drops.load(); }

  private:
    // What a delivery thread works with, shared with it so that it can finish
    // a callback that destroyed this StreamDelivery.
    struct Core {
        // Leftovers are freed undelivered.
        ~Core();
        LocklessQueue_SPSC<asyncPacket, kStreamRingSlots> ring;
        std::atomic<uint64_t> drops{0};
        // Held by a delivery thread for its whole life: two never consume at once.
        std::mutex consumer;
        std::mutex wakeMutex;
        std::condition_variable wakeup;

        void wake();
        void deliverAvailable(const std::atomic<bool>& stop);
        void discardPending();
    };

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> stop;
        std::shared_ptr<std::atomic<bool>> done;
    };

    static void run(std::shared_ptr<Core> core, std::shared_ptr<std::atomic<bool>> stop,
                    std::shared_ptr<std::atomic<bool>> done);
    void reapFinished();
    // A thread whose callback destroys this StreamDelivery outlives it: it is
    // handed to the process, which joins it once it has finished.
    static void adoptOrphan(Worker worker);
    static void reapOrphans();

    std::shared_ptr<Core> core_ = std::make_shared<Core>();
    Worker current_;
    // Threads that stopped themselves from a callback, joined once finished.
    std::list<Worker> retired_;
};

} // namespace Veltrano::Halvorine

#endif
