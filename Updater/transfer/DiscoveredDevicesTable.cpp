// The -D table.
#include <cstring>

#include "UpdaterApp.h"
#include "aDefs.h"
#include "aLinkSpecifier.h"

namespace {

const char* transportName(uint32_t transport) {
    if (transport == USB) return "USB";
    if (transport == TCPIP) return "TCPIP";
    return "Unknown";
}

void printRow(UpdaterDisplayInterface* display, const DiscoveredDevice& device) {
    const linkSpec& spec = device.specifier;
    const char* model = aDefs_GetModelName(spec.model);
    if (spec.type == TCPIP) {
        // The record holds the address in network byte order: first byte first.
        unsigned char ip[4];
        std::memcpy(ip, &spec.ipAddress, sizeof ip);
        char address[20];
        std::snprintf(address, sizeof address, "[%d.%d.%d.%d]", ip[0], ip[1], ip[2], ip[3]);
        displayPrintf(display, 0, "    %08X  %02X       %02X      %-12s %3d.%d.%d (%u) %s", spec.serialNumber,
                      spec.moduleAddress, spec.routerAddress, model, device.major, device.minor,
                      static_cast<int>(device.patch), device.buildNumber, address);
    } else if (device.error != aErrNone) {
        displayPrintf(display, 0, "    %08X  [Error (%d): Is someone else connected to this device?]",
                      spec.serialNumber, static_cast<int>(device.error));
    } else {
        displayPrintf(display, 0, "    %08X  %02X       %02X      %-12s %3d.%d.%d (%u)", spec.serialNumber,
                      spec.moduleAddress, spec.routerAddress, model, device.major, device.minor,
                      static_cast<int>(device.patch), device.buildNumber);
    }
}

} // namespace

void printDiscoveredDevices(UpdaterDisplayInterface* display, const DiscoveredDeviceList& list,
                            uint32_t transport) {
    displayPrintf(display, 0, "Discovered Devices: (%s)", transportName(transport));
    if (list.empty()) {
        displayPrintf(display, 0, "    No devices found.");
        return;
    }
    if (transport == USB)
        displayPrintf(display, 0, "    Device    Module   Router  Model          Firmware Version (Build)");
    else
        displayPrintf(
            display, 0,
            "    Device    Module   Router  Model          Firmware Version (Build)   [IP address]");
    for (const DiscoveredDevice& device : list)
        printRow(display, device);
}
