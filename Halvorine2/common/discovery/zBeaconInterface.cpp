#include "zBeaconInterface.h"

#include <arpa/inet.h>
#include <czmq.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "aCzmqSetup.h"

namespace {

const size_t kBackupCapacity = 100;

std::mutex sMutex;
std::atomic<std::thread::id> sOwner{};

bool sHeldHere() {
    return sOwner.load() == std::this_thread::get_id();
}

// A holder asking again keeps the lock it has instead of waiting for itself for ever.
void sLock() {
    if (sHeldHere()) return;
    sMutex.lock();
    sOwner.store(std::this_thread::get_id());
}

// Only the holder can release: a stray unlock is ignored.
void sUnlock() {
    if (!sHeldHere()) return;
    sOwner.store(std::thread::id());
    sMutex.unlock();
}

// Written only under the lock.
std::string& sBackup() {
    static std::string backup = [] {
        std::string text;
        text.reserve(kBackupCapacity);
        return text;
    }();
    return backup;
}

bool sSetAndLock(const char* interface, bool backup) {
    if (!zBeaconInterface_isValid(interface) || sHeldHere()) return false;
    aCzmq_Setup();
    sLock();
    if (backup) sBackup() = zsys_interface();
    zsys_set_interface(interface);
    return true;
}

} // namespace

extern "C" {

bool zBeaconInterface_isValid(const char* interface) {
    if (!interface) return false;
    in_addr address;
    return interface[0] == '\0' || std::strcmp(interface, "*") == 0 ||
           inet_pton(AF_INET, interface, &address) == 1;
}

bool zBeaconInterface_setAndLock(const char* interface) {
    return sSetAndLock(interface, false);
}

void zBeaconInterface_unlock(void) {
    sUnlock();
}

bool zBeaconInterface_backupSetAndLock(const char* interface) {
    return sSetAndLock(interface, true);
}

void zBeaconInterface_restoreAndUnlock(void) {
    if (!sHeldHere()) return;
    zsys_set_interface(sBackup().c_str());
    sUnlock();
}

const char* zBeaconInterface_get(void) {
    aCzmq_Setup();
    return zsys_interface();
}

const char* zBeaconInterface_getAndLock(void) {
    sLock();
    return zsys_interface();
}

const char* zBeaconInterface_getBackup(void) {
    return sBackup().c_str();
}

const char* zBeaconInterface_getBackupAndLock(void) {
    const char* backup = sBackup().c_str();
    sLock();
    return backup;
}

} // extern "C"
