// The network configuration every Module of the tool gets before it connects: no
// link-sharing server and no fallback, so a USB module is opened directly by this
// process and nothing else can join its link.
#ifndef UPDATER_DIRECTNETWORKCONFIG_H
#define UPDATER_DIRECTNETWORKCONFIG_H

#include "Link.h"
#include "Module.h"
#include "UpdaterDisplayInterface.h"

// shareThroughServer 0, allowFallback 0, loopbackOnly 1, serverPort 0, interface 127.0.0.1.
Veltrano::Halvorine::aSolvanConfig directNetworkConfig();

// Gives the module the direct configuration (before it connects). On failure shows
// "Failed to SET network configuration" on the display's error line and answers the
// module's result.
aErr setDirectNetworkConfig(Veltrano::Halvorine::Module* module, UpdaterDisplayInterface* display);

#endif
