// -D: discovery of modules, directly and behind a router.
#include "UpdaterApp.h"

namespace {
const char kUnavailable[] = "Device discovery (-D) is not available yet in this build of Updater";
}

DiscoveredDeviceList UpdaterApp::Discover_Devices(uint32_t) {
    throw CommandUnavailable(kUnavailable);
}

DiscoveredDeviceList UpdaterApp::Discover_NetworkDevices(uint32_t, uint32_t) {
    throw CommandUnavailable(kUnavailable);
}

void printDiscoveredDevices(UpdaterDisplayInterface*, const DiscoveredDeviceList&, uint32_t) {
    throw CommandUnavailable(kUnavailable);
}
