#include "RunningFirmware.h"

#include <cstdio>

#include "ModuleInfo.h"
#include "SystemClass.h"
#include "aVersion.h"

using Veltrano::Halvorine::Module;
using Veltrano::Halvorine::SystemClass;

namespace {

struct VersionParts {
    unsigned int major = 0, minor = 0, patch = 0;
};

// M.m.p and nothing else.
bool sParseVersion(const std::string& text, VersionParts* parts) {
    int used = 0;
    return std::sscanf(text.c_str(), "%u.%u.%u%n", &parts->major, &parts->minor, &parts->patch, &used) == 3 &&
           static_cast<size_t>(used) == text.size();
}

std::string sWithBuild(std::string text, uint32_t build) {
    if (build != 0) text += " (build " + std::to_string(build) + ")";
    return text;
}

} // namespace

RunningFirmware readRunningFirmware(Module* module) {
    RunningFirmware running;
    SystemClass system;
    system.init(module, 0);
    unsigned int version = 0;
    running.error = system.getVersion(&version);
    if (running.error == aErrNone) running.version = version;
    running.build = readBuildNumber(module);
    return running;
}

std::string describeRunning(const RunningFirmware& running) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u", aVersion_ParseMajor(running.version),
                  aVersion_ParseMinor(running.version), aVersion_ParsePatch(running.version));
    return sWithBuild(text, running.build);
}

std::string describeSent(const BirdFile& file, uint32_t build) {
    return sWithBuild(file.version(), build);
}

bool canConfirmFirmware(const BirdFile& file, uint32_t build) {
    VersionParts sent;
    return build != 0 || sParseVersion(file.version(), &sent);
}

bool runsSentFirmware(const RunningFirmware& running, const BirdFile& file, uint32_t build) {
    if (running.error != aErrNone) return false;
    if (build != 0 && running.build != build) return false;
    VersionParts sent;
    // A file that names no version in this form leaves the build to decide.
    if (!sParseVersion(file.version(), &sent)) return true;
    return aVersion_ParseMajor(running.version) == sent.major &&
           aVersion_ParseMinor(running.version) == sent.minor &&
           aVersion_ParsePatch(running.version) == sent.patch;
}
