// What -D reads from a connected module for its row.
#ifndef UPDATER_MODULEINFO_H
#define UPDATER_MODULEINFO_H

#include <cstdint>

#include "DiscoveredDevice.h"
#include "Module.h"

// The firmware build number (module information request 0x49, 0xFF); 0 on any failure.
uint32_t readBuildNumber(Veltrano::Halvorine::Module* module);

// Firmware version into the device's major, minor and patch, then the module's and
// its router's addresses into the specifier. Stops at the first request that fails
// and answers its result.
aErr readModuleInfo(Veltrano::Halvorine::Module* module, DiscoveredDevice* device);

#endif
