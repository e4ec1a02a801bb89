// -L: the builds stored locally for a device.
#include "UpdaterApp.h"

BuildList UpdaterApp::Get_BuildListLocal(uint32_t) {
    throw CommandUnavailable("Listing local builds (-L) is not available yet in this build of Updater");
}
