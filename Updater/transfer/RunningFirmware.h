// What a module runs once an update has rebooted it, read back and compared with
// what was sent: the version of the file's identity record and, where the build
// being transferred is known, its build number. A module that comes back on its
// old firmware (the image not taken) must not pass for updated.
#ifndef UPDATER_RUNNINGFIRMWARE_H
#define UPDATER_RUNNINGFIRMWARE_H

#include <cstdint>
#include <string>

#include "BirdFile.h"
#include "Module.h"

struct RunningFirmware {
    uint32_t version = 0;  // packed (aVersion)
    uint32_t build = 0;    // 0 when the module did not say
    aErr error = aErrNone; // of the version read
};

// Reads the version (system entity) and the build (module information).
RunningFirmware readRunningFirmware(Veltrano::Halvorine::Module* module);

// "M.m.p (build B)", the build left out when it is 0.
std::string describeRunning(const RunningFirmware& running);
// The file's version text, with " (build B)" when build is not 0.
std::string describeSent(const BirdFile& file, uint32_t build);

// True when the module's version could be read and it runs the file's version
// and, when build is not 0, that build. A version text not of the form M.m.p
// cannot be compared and leaves the build to decide.
bool runsSentFirmware(const RunningFirmware& running, const BirdFile& file, uint32_t build);
// Whether runsSentFirmware can tell the sent firmware from another: the build is
// known (not 0) or the file's version has the form M.m.p.
bool canConfirmFirmware(const BirdFile& file, uint32_t build);

#endif
