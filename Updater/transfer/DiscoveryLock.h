// Discovery over TCP/IP listens for replies on one fixed port, and a reply goes to
// one socket bound there only: two discoveries at once in this process would steal
// each other's replies. Modules updated at once therefore take turns to discover
// (briefly, while connecting); their transfers still overlap.
#ifndef UPDATER_DISCOVERYLOCK_H
#define UPDATER_DISCOVERYLOCK_H

#include <mutex>

inline std::mutex& discoveryLock() {
    static std::mutex lock;
    return lock;
}

#endif
