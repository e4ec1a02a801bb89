// -U -t RECOVER and -N: recovery and identification through a processor's boot ROM.
#include "UpdaterApp.h"

bool UpdaterApp::Recover_Firmware(const std::string&, uint32_t, uint32_t, uint32_t, const std::string&) {
    throw CommandUnavailable(
        "Firmware recovery (-U -t RECOVER) is not available yet in this build of Updater");
}

bool UpdaterApp::Get_Fingerprint(uint32_t[4], const std::string&, uint32_t, const std::string&, uint32_t,
                                 bool) {
    throw CommandUnavailable("Chip fingerprint (-N) is not available yet in this build of Updater");
}
