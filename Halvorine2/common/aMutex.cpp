#include "aMutex.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

namespace {
constexpr uint32 kMutexCheck = 0x5EED;
constexpr size_t kMaxName = 255;
} // namespace

// A recursive mutex that knows its owner, so another thread's hold can be told
// apart from the caller's own (TryLock and Destroy answer aErrBusy for it).
struct aMutex {
    uint32 check = kMutexCheck;
    std::recursive_mutex mutex;
    std::atomic<std::thread::id> owner{};
    uint32 depth = 0; // touched only by the owner
    char name[kMaxName + 1] = {};
};

namespace {

bool isValid(const aMutex* m) { return m && m->check == kMutexCheck; }

void taken(aMutex* m) {
    if (m->depth++ == 0) m->owner.store(std::this_thread::get_id());
}

bool heldByAnother(const aMutex* m) {
    std::thread::id owner = m->owner.load();
    return owner != std::thread::id() && owner != std::this_thread::get_id();
}

} // namespace

extern "C" {

aMutex* aMutex_Create(const char* name) {
    if (name && std::strlen(name) > kMaxName) return nullptr;
    aMutex* m = new (std::nothrow) aMutex;
    if (!m) return nullptr;
    if (name) std::strcpy(m->name, name);
    return m;
}

const char* aMutex_Identifier(aMutex* mutex) { return isValid(mutex) ? mutex->name : nullptr; }

aErr aMutex_Lock(aMutex* mutex) {
    if (!isValid(mutex)) return aErrParam;
    mutex->mutex.lock();
    taken(mutex);
    return aErrNone;
}

aErr aMutex_TryLock(aMutex* mutex) {
    if (!isValid(mutex)) return aErrParam;
    if (!mutex->mutex.try_lock()) return aErrBusy;
    taken(mutex);
    return aErrNone;
}

aErr aMutex_Unlock(aMutex* mutex) {
    if (!isValid(mutex)) return aErrParam;
    // Only the owner releases; unlocking a mutex one does not hold is a caller error.
    if (mutex->owner.load() != std::this_thread::get_id() || mutex->depth == 0) return aErrParam;
    if (--mutex->depth == 0) mutex->owner.store(std::thread::id());
    mutex->mutex.unlock();
    return aErrNone;
}

aErr aMutex_Destroy(aMutex** mutex) {
    if (!mutex || !isValid(*mutex)) return aErrParam;
    aMutex* m = *mutex;
    if (heldByAnother(m)) return aErrBusy;
    while (m->depth > 0) aMutex_Unlock(m);
    m->check = 0;
    delete m;
    *mutex = nullptr;
    return aErrNone;
}

} // extern "C"
