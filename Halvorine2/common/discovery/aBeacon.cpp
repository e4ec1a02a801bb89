// Choosing the beacon that can serve czmq's interface setting.
#include "aBeacon.h"

#include "aCzmqSetup.h"

#include <cstring>
#include <string>

extern "C" {

bool aBeacon_ZbeaconServes(const char* interfaceSetting) {
    if (!interfaceSetting) return false;
    const bool any = interfaceSetting[0] == '\0' || std::strcmp(interfaceSetting, "*") == 0;
    ziflist_t* list = ziflist_new();
    if (!list) return false;
    bool serves = false;
    for (const char* name = ziflist_first(list); name && !serves; name = ziflist_next(list))
        serves = any || std::strcmp(interfaceSetting, name) == 0 ||
                 std::strcmp(interfaceSetting, ziflist_address(list)) == 0;
    ziflist_destroy(&list);
    return serves;
}

zactor_t* aBeacon_New(void) {
    aCzmq_Setup();
    const std::string setting = zsys_interface();
    if (aBeacon_ZbeaconServes(setting.c_str())) return zactor_new(zbeacon, nullptr);
    // Our actor takes a copy of its own and frees it: nothing of this thread's is read
    // by it once this returns.
    char* copy = strdup(setting.c_str());
    if (!copy) return nullptr;
    return zactor_new(aBeacon_Actor, copy);
}

} // extern "C"
