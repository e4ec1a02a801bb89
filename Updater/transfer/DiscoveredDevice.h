// One module found by discovery, as the -D table shows it.
#ifndef UPDATER_DISCOVEREDDEVICE_H
#define UPDATER_DISCOVEREDDEVICE_H

#include <cstdint>
#include <string>
#include <vector>

#include "aError.h"
#include "aLinkSpecifier.h"

struct DiscoveredDevice {
    // As discovery gave it; behind a router, the router's way in with the module's
    // serial number, addresses and model.
    linkSpec specifier{};
    uint16_t busAddress = 0; // I2C address behind a router; 0 otherwise
    uint32_t buildNumber = 0;
    uint8_t major = 0;
    uint8_t minor = 0;
    uint32_t patch = 0;
    std::string modelName;
    aErr error = aErrNone; // a request that failed while reading the module
};

using DiscoveredDeviceList = std::vector<DiscoveredDevice>;

#endif
