#include "DirectNetworkConfig.h"

using Veltrano::Halvorine::aSolvanConfig;
using Veltrano::Halvorine::kLoopbackInterface;

aSolvanConfig directNetworkConfig() {
    aSolvanConfig config;
    config.shareThroughServer = 0;
    config.allowFallback = 0;
    config.loopbackOnly = 1;
    config.serverPort = 0;
    config.interfaceAddress = kLoopbackInterface;
    return config;
}

aErr setDirectNetworkConfig(Veltrano::Halvorine::Module* module, UpdaterDisplayInterface* display) {
    aErr err = module ? module->setConfig(directNetworkConfig()) : aErrParam;
    if (err != aErrNone) displayPrintf(display, 1, "Failed to SET network configuration");
    return err;
}
