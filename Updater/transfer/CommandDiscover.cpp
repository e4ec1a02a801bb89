// -D: the modules reachable over USB or TCP/IP, each asked for its firmware.
#include "DirectNetworkConfig.h"
#include "ModuleInfo.h"
#include "UpdaterApp.h"
#include "aDefs.h"
#include "aDiscovery.h"

using Veltrano::Halvorine::kLoopbackInterface;
using Veltrano::Halvorine::Module;

namespace {

bool appendFound(const linkSpec* spec, bool* found, void* ref) {
    DiscoveredDevice device;
    device.specifier = *spec;
    static_cast<DiscoveredDeviceList*>(ref)->push_back(device);
    *found = true;
    return true;
}

// Connects the module the device names and reads its firmware into the device. The
// module is disconnected on every path: a link left open would hold the module.
void readDevice(DiscoveredDevice& device, UpdaterDisplayInterface* display) {
    device.modelName = aDefs_GetModelName(device.specifier.model);
    Module module(2, 0);
    if (setDirectNetworkConfig(&module, display) != aErrNone) return;
    aErr err = module.connectFromSpec(device.specifier);
    if (err == aErrNone) {
        device.buildNumber = readBuildNumber(&module);
        device.error = readModuleInfo(&module, &device);
    } else {
        device.error = err;
    }
    module.disconnect();
}

} // namespace

DiscoveredDeviceList UpdaterApp::Discover_Devices(uint32_t transport) {
    DiscoveredDeviceList list;
    const linkType both[] = {USB, TCPIP};
    for (linkType type : both) {
        if (transport == 0 || transport == static_cast<uint32_t>(type))
            aDiscovery_EnumerateModules(type, appendFound, &list, kLoopbackInterface);
    }
    for (DiscoveredDevice& device : list)
        readDevice(device, display());
    return list;
}
