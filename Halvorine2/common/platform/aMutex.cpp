#include "aMutex.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

namespace {
constexpr uint32 kMutexCheck = 0x5EED;
constexpr size_t kMaxName = 255;
} // namespace

// A recursive mutex that knows its owner and the threads waiting to take it. One
// internal lock guards all of it, so Destroy checks that nobody else holds or is taking
// the mutex and retires it in one step that no Lock can slip into.
struct aMutex {
    uint32 check = kMutexCheck;
    std::mutex state;
    std::condition_variable released;
    std::thread::id owner{};
    uint32 depth = 0;
    uint32 takers = 0; // threads blocked in aMutex_Lock
    char name[kMaxName + 1] = {};
};

namespace {

bool isValid(const aMutex* m) {
    return m && m->check == kMutexCheck;
}

// Called with state held.
bool freeFor(const aMutex* m, std::thread::id self) {
    return m->depth == 0 || m->owner == self;
}

// Called with state held.
void take(aMutex* m, std::thread::id self) {
    m->owner = self;
    ++m->depth;
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

const char* aMutex_Identifier(aMutex* mutex) {
    return isValid(mutex) ? mutex->name : nullptr;
}

aErr aMutex_Lock(aMutex* mutex) {
    if (!isValid(mutex)) return aErrParam;
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(mutex->state);
    ++mutex->takers;
    mutex->released.wait(lock, [&] { return freeFor(mutex, self); });
    --mutex->takers;
    take(mutex, self);
    return aErrNone;
}

aErr aMutex_TryLock(aMutex* mutex) {
    if (!isValid(mutex)) return aErrParam;
    const std::thread::id self = std::this_thread::get_id();
    std::lock_guard<std::mutex> lock(mutex->state);
    if (!freeFor(mutex, self)) return aErrBusy;
    take(mutex, self);
    return aErrNone;
}

aErr aMutex_Unlock(aMutex* mutex) {
    if (!isValid(mutex)) return aErrParam;
    std::lock_guard<std::mutex> lock(mutex->state);
    // Only the owner releases; unlocking a mutex one does not hold is a caller error.
    if (mutex->depth == 0 || mutex->owner != std::this_thread::get_id()) return aErrParam;
    if (--mutex->depth == 0) {
        mutex->owner = std::thread::id();
        // Under the lock: once it is released a Destroy may free the record.
        mutex->released.notify_one();
    }
    return aErrNone;
}

aErr aMutex_Destroy(aMutex** mutex) {
    if (!mutex || !isValid(*mutex)) return aErrParam;
    aMutex* m = *mutex;
    {
        std::lock_guard<std::mutex> lock(m->state);
        if (!freeFor(m, std::this_thread::get_id()) || m->takers > 0) return aErrBusy;
        m->check = 0;
    }
    delete m;
    *mutex = nullptr;
    return aErrNone;
}

} // extern "C"
