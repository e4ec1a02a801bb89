#include "aStreamSerialGuard.h"

#include <atomic>
#include <csignal>
#include <mutex>

namespace {

const int kSlots = 16;

struct Slot {
    std::atomic<int> fd{-1};
    termios previous;
};

Slot sSlots[kSlots];
std::mutex sMutex;
bool sInstalled = false;
struct sigaction sPreviousInt, sPreviousTerm;

void sRestoreAll(int sig) {
    for (Slot& slot : sSlots) {
        int fd = slot.fd.load(std::memory_order_acquire);
        if (fd >= 0) tcsetattr(fd, TCSANOW, &slot.previous);
    }
    sigaction(sig, sig == SIGINT ? &sPreviousInt : &sPreviousTerm, nullptr);
    raise(sig);
}

void sInstall(int sig, struct sigaction* previous) {
    struct sigaction action = {};
    action.sa_handler = sRestoreAll;
    sigemptyset(&action.sa_mask);
    if (sigaction(sig, nullptr, previous) != 0 || previous->sa_handler == SIG_IGN) return;
    sigaction(sig, &action, nullptr);
}

} // namespace

bool aStreamSerialGuard_Register(int fd, const termios* previous) {
    std::lock_guard<std::mutex> lock(sMutex);
    if (!sInstalled) {
        sInstall(SIGINT, &sPreviousInt);
        sInstall(SIGTERM, &sPreviousTerm);
        sInstalled = true;
    }
    for (Slot& slot : sSlots) {
        if (slot.fd.load(std::memory_order_relaxed) >= 0) continue;
        slot.previous = *previous;
        slot.fd.store(fd, std::memory_order_release);
        return true;
    }
    return false;
}

void aStreamSerialGuard_Unregister(int fd) {
    std::lock_guard<std::mutex> lock(sMutex);
    for (Slot& slot : sSlots)
        if (slot.fd.load(std::memory_order_relaxed) == fd) slot.fd.store(-1, std::memory_order_release);
}
