// -U: firmware transfer into a running module.
#include "UpdaterApp.h"

bool UpdaterApp::Update_Firmware(uint32_t, uint32_t, const std::string&, uint8_t, uint32_t, bool) {
    throw CommandUnavailable("Firmware update (-U) is not available yet in this build of Updater");
}
