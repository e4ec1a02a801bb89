// -G: download of a build into the store.
#include "UpdaterApp.h"

uint32_t UpdaterApp::Download_Firmware(uint32_t, const std::string&, bool, bool) {
    throw CommandUnavailable("Firmware download (-G) is not available yet in this build of Updater");
}
