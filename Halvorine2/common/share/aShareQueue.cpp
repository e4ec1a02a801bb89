/* Frame queue between threads of link sharing. */
#include "aShareQueue.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <deque>
#include <mutex>
#include <new>

#include "aTime.h"

struct aShareQueue {
    std::mutex mutex;
    std::deque<zframe_t*> frames; /* guarded by mutex */
    uint32 capacity = 0;
    /* Non-zero exactly while frames wait, or after a wake until the next take. */
    int event = -1;
};

namespace {

void sSignal(aShareQueue* queue) {
    const uint64_t one = 1;
    /* Fails only when the counter would overflow: it is readable either way. */
    ssize_t written = write(queue->event, &one, sizeof one);
    (void)written;
}

void sClear(aShareQueue* queue) {
    uint64_t count = 0;
    ssize_t taken = read(queue->event, &count, sizeof count);
    (void)taken;
}

/* With the lock held: false when the frames do not all fit. */
bool sAppend(aShareQueue* queue, zframe_t** frames, size_t count) {
    if (queue->frames.size() + count > queue->capacity) return false;
    const bool wasEmpty = queue->frames.empty();
    try {
        queue->frames.insert(queue->frames.end(), frames, frames + count);
    } catch (...) {
        return false; /* an insertion at an end that throws leaves the deque as it was */
    }
    if (wasEmpty && count) sSignal(queue);
    return true;
}

void sDestroyAll(zframe_t** frames, size_t count) {
    for (size_t i = 0; i < count; ++i)
        zframe_destroy(&frames[i]);
}

} // namespace

aShareQueue* aShareQueue_Create(uint32 capacity) {
    aShareQueue* queue = new (std::nothrow) aShareQueue;
    if (!queue) return nullptr;
    queue->capacity = capacity;
    queue->event = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (queue->event < 0) aShareQueue_Destroy(&queue);
    return queue;
}

void aShareQueue_Destroy(aShareQueue** queue) {
    if (!queue || !*queue) return;
    aShareQueue* q = *queue;
    *queue = nullptr;
    for (zframe_t* frame : q->frames)
        zframe_destroy(&frame);
    if (q->event >= 0) close(q->event);
    delete q;
}

aErr aShareQueue_Put(aShareQueue* queue, const uint8* bytes, size_t size, int tries) {
    zframe_t* frame = zframe_new(bytes, size);
    return aShareQueue_PutFrames(queue, &frame, 1, tries);
}

aErr aShareQueue_PutFrames(aShareQueue* queue, zframe_t** frames, size_t count, int tries) {
    for (size_t i = 0; i < count; ++i) {
        if (!frames[i]) {
            sDestroyAll(frames, count);
            return aErrMemory;
        }
    }
    for (int attempt = 0; attempt <= tries; ++attempt) {
        if (attempt > 0) aTime_MSSleep(1);
        std::lock_guard<std::mutex> lock(queue->mutex);
        if (sAppend(queue, frames, count)) return aErrNone;
    }
    sDestroyAll(frames, count);
    return aErrBusy;
}

zframe_t* aShareQueue_Take(aShareQueue* queue) {
    std::lock_guard<std::mutex> lock(queue->mutex);
    zframe_t* frame = nullptr;
    if (!queue->frames.empty()) {
        frame = queue->frames.front();
        queue->frames.pop_front();
    }
    if (queue->frames.empty()) sClear(queue);
    return frame;
}

int aShareQueue_Descriptor(const aShareQueue* queue) {
    return queue->event;
}

bool aShareQueue_Await(aShareQueue* queue, uint32 timeoutMs) {
    pollfd item = {queue->event, POLLIN, 0};
    if (poll(&item, 1, int(timeoutMs)) <= 0) return false;
    std::lock_guard<std::mutex> lock(queue->mutex);
    return !queue->frames.empty();
}

void aShareQueue_Wake(aShareQueue* queue) {
    std::lock_guard<std::mutex> lock(queue->mutex);
    sSignal(queue);
}
