// -B: the builds the update server offers, and the listing both -B and -L print.
#include "UpdaterApp.h"

BuildList UpdaterApp::Get_BuildList(uint32_t) {
    throw CommandUnavailable("Listing server builds (-B) is not available yet in this build of Updater");
}

void printBuildList(UpdaterDisplayInterface*, const BuildList&, uint32_t) {
    throw CommandUnavailable("Build listings are not available yet in this build of Updater");
}
