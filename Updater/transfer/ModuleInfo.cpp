#include "ModuleInfo.h"

#include "SystemClass.h"
#include "aVersion.h"

using Veltrano::Halvorine::Module;
using Veltrano::Halvorine::SystemClass;

uint32_t readBuildNumber(Module* module) {
    unsigned int build = 0;
    if (!module || module->getBuild(&build) != aErrNone) return 0;
    return build;
}

aErr readModuleInfo(Module* module, DiscoveredDevice* device) {
    if (!module || !device) return aErrParam;
    SystemClass system;
    system.init(module, 0);
    unsigned int version = 0;
    aErr err = system.getVersion(&version);
    if (err != aErrNone) return err;
    device->major = aVersion_ParseMajor(version);
    device->minor = aVersion_ParseMinor(version);
    device->patch = aVersion_ParsePatch(version);
    unsigned char address = 0;
    err = system.getModule(&address);
    if (err != aErrNone) return err;
    device->specifier.moduleAddress = address;
    err = system.getRouter(&address);
    if (err != aErrNone) return err;
    device->specifier.routerAddress = address;
    return aErrNone;
}
