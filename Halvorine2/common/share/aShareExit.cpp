/* Stopping the sharing tasks at exit, before czmq closes their sockets. */
#include "aShareExit.h"

#include <czmq.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <new>

#include "aCzmqSetup.h"

namespace {

struct ExitList {
    std::mutex mutex;
    std::map<void*, aShareExitStop> objects;
};

/* Never destroyed: owners of static storage leave it after the program's statics went. */
ExitList& sList() {
    static ExitList* list = new ExitList;
    return *list;
}

void sStopAll() {
    ExitList& list = sList();
    std::lock_guard<std::mutex> lock(list.mutex);
    for (auto& object : list.objects)
        object.second(object.first);
    list.objects.clear();
}

/* Exit handlers run in the reverse order of their installation: czmq's is installed
 * when czmq initialises, so ours, installed after that, runs first. */
void sInstall() {
    static std::once_flag once;
    std::call_once(once, [] {
        aCzmq_Setup();
        zsys_init();
        std::atexit(sStopAll);
    });
}

} // namespace

bool aShareExit_Add(void* object, aShareExitStop stop) {
    if (!object || !stop) return false;
    sInstall();
    ExitList& list = sList();
    std::lock_guard<std::mutex> lock(list.mutex);
    try {
        list.objects[object] = stop;
    } catch (...) {
        return false;
    }
    return true;
}

void aShareExit_Remove(void* object) {
    ExitList& list = sList();
    std::lock_guard<std::mutex> lock(list.mutex);
    list.objects.erase(object);
}
