// -B: the builds the update server offers, and the listing both -B and -L print.
#include "ServerCommClass.h"
#include "UpdaterApp.h"

bool UpdaterApp::Get_BuildList(uint32_t serialNumber, BuildList& builds) {
    ServerCommClass server;
    const char* url = m_serverEndpoint.c_str();
    builds.clear();
    if (!server.ping(url)) {
        displayPrintf(m_display, 1, "Server request failed for %s", url);
        return false;
    }
    if (!server.GetBuildList(serialNumber, builds, url)) {
        displayPrintf(m_display, 1, "Failed to retrieve builds for %08X", serialNumber);
        return false;
    }
    return true;
}

void printBuildList(UpdaterDisplayInterface* display, const BuildList& list, uint32_t serialNumber) {
    if (list.empty()) {
        displayPrintf(display, 0, "No builds found for device [%08X]", serialNumber);
        return;
    }
    displayPrintf(display, 0, "Build List for device [%08X]:\n", serialNumber);
    displayPrintf(display, 0, "%-15.15s\t%-15.15s", "Build", "Version");
    for (const auto& entry : ServerCommClass::sortedBuildList(list))
        displayPrintf(display, 0, "%-15.15s\t%-15.15s", entry.first.c_str(), entry.second.c_str());
}
