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
    // Our actor copies the setting before zactor_new returns.
    const std::string setting = zsys_interface();
    zactor_fn* actor = aBeacon_ZbeaconServes(setting.c_str()) ? zbeacon : aBeacon_Actor;
    return zactor_new(actor, const_cast<char*>(setting.c_str()));
}

} // extern "C"
