#include "UpdaterMain.h"

#include <cstdlib>
#include <string>

#include "CLI_Display.h"
#include "PathJoin.h"
#include "UpdaterApp.h"
#include "UpdaterLog.h"
#include "UpdaterOptions.h"
#include "TrustedKeys.h"
#include "Usage.h"
#include "BirdLog.h"
#include "aDirectory.h"

namespace {

const char kProgramWord[] = "Updater";
const char kVersionText[] = "Version: 2.11.2 Apr 29 2025";
const char kBuildYear[] = "2025";
const uint32_t kFingerprintPlaceholderSerial = 0xDEADDEAD;
// Returned by -N and -G when a required option is missing: the run ends with 1
// before any later command.
const int kStopRun = -1;

void printBanner(UpdaterDisplayInterface* display) {
    displayPrintf(display, 0, "%s (%s)", kProgramWord, kVersionText);
}

void printNotice(UpdaterDisplayInterface* display) {
    displayPrintf(display, 0, "Copyright (c) %s Veltrano. All rights reserved.", kBuildYear);
}

// The -i directory, or the home directory's ".veltrano" (as base); then "updater"
// inside it, created when missing.
bool ensureStoreRoot(UpdaterDisplayInterface* display, const UpdaterOptions& options, std::string& base,
                     std::string& root) {
    if (!options.storeBase.empty()) {
        root = options.storeBase;
    } else {
        char home[2048];
        aErr e = aDirectory_GetHomeDirectory(home, sizeof home);
        if (e != aErrNone) {
            updaterLog(DEBUG_APP, "Updater: FailedaDirectory_GetHomeDirectory()==> %d\n", e);
            return false;
        }
        root = pathJoin(home, ".veltrano");
    }
    base = root;
    root = pathJoin(root, "updater");
    if (aDirectory_Ensure(root.c_str(), 0755) != aErrNone) {
        displayPrintf(display, 1, "Could not find updater directory at %s", root.c_str());
        return false;
    }
    return true;
}

uint32_t buildNumberOf(const std::string& build) {
    unsigned long long n = strtoull(build.c_str(), nullptr, 10);
    return n > 0xFFFFFFFFull ? 0 : static_cast<uint32_t>(n);
}

int runFingerprint(UpdaterApp& app, const UpdaterOptions& options) {
    UpdaterDisplayInterface* display = app.display();
    if (options.serialPort.empty()) {
        displayPrintf(display, 1, "Must specify the serial port used for connecting");
        return kStopRun;
    }
    uint32_t words[4] = {0, 0, 0, 0};
    if (app.Get_Fingerprint(words, options.serialPort, kFingerprintPlaceholderSerial, options.birdFilePath,
                            options.baudRate, true)) {
        displayPrintf(display, 0, "[ %08X %08X %08X %08X ]", words[0], words[1], words[2], words[3]);
        return 0;
    }
    displayPrintf(display, 1, "Got no response from chip");
    if (!app.portProblem().empty()) displayPrintf(display, 1, "%s", app.portProblem().c_str());
    return 1;
}

// A command without the option it needs: its message and where to read more.
void printMissingOption(UpdaterDisplayInterface* display, const char* message) {
    displayPrintf(display, 1, "%s", message);
    displayPrintf(display, 1, "--help for usage information");
}

int runGet(UpdaterApp& app, UpdaterOptions& options) {
    UpdaterDisplayInterface* display = app.display();
    if (options.serialNumber == 0) {
        printMissingOption(display, "-G must specify a specific device via -d");
        return kStopRun;
    }
    displayPrintf(display, 0, "Retrieving firmware for device with serial number %08X", options.serialNumber);
    if (options.build.empty()) {
        displayPrintf(display, 0, "No build specified");
        displayPrintf(display, 0, "Using Latest build");
    } else {
        displayPrintf(display, 0, "Retrieving firmware build %s", options.build.c_str());
    }
    uint32_t stored = app.Download_Firmware(options.serialNumber, options.build, options.override, false);
    if (stored == 0) return 1;
    options.build = std::to_string(stored);
    return 0;
}

int runDiscover(UpdaterApp& app, const UpdaterOptions& options) {
    UpdaterDisplayInterface* display = app.display();
    uint32_t transport =
        options.transportGiven && options.transport != TRANSPORT_RECOVER ? options.transport : 0;
    if (options.routerSerialNumber != 0) {
        displayPrintf(display, 0, "Searching for Halvorine Network devices connected to %08X",
                      options.routerSerialNumber);
        DiscoveredDeviceList list = app.Discover_NetworkDevices(options.routerSerialNumber, transport);
        printDiscoveredDevices(display, list, transport);
    } else {
        displayPrintf(display, 0, "Searching for Halvorine devices");
        if (transport == 0) transport = TRANSPORT_USB;
        DiscoveredDeviceList list = app.Discover_Devices(transport);
        printDiscoveredDevices(display, list, transport);
    }
    return 0;
}

int runUpdate(UpdaterApp& app, const UpdaterOptions& options) {
    uint32_t buildNumber = buildNumberOf(options.build);
    // Without -m the data goes as DATA packets, as it always has.
    app.setUseUEIData(options.useUEIBytesGiven && options.useUEIBytes);
    bool done;
    if (options.transport == TRANSPORT_RECOVER) {
        done = app.Recover_Firmware(options.serialPort, buildNumber, options.baudRate, options.serialNumber,
                                    options.birdFilePath);
    } else {
        if (options.serialNumber == 0) {
            displayPrintf(app.display(), 1, "Must specify the specific device to be updated");
            return 1;
        }
        done = app.Update_Firmware(options.serialNumber, buildNumber, options.birdFilePath,
                                   options.moduleAddress, options.routerSerialNumber, options.override);
    }
    return done ? 0 : 1;
}

int runListing(UpdaterApp& app, const UpdaterOptions& options, bool local) {
    UpdaterDisplayInterface* display = app.display();
    if (options.serialNumber == 0) {
        displayPrintf(display, 1,
                      local ? "Error must supply a serial number for the List Local Builds command"
                            : "Error must supply a serial number for the List Builds command");
        printUsage(options.extendedUsage, false);
        return 1;
    }
    BuildList list;
    if (local)
        list = app.Get_BuildListLocal(options.serialNumber);
    else if (!app.Get_BuildList(options.serialNumber, list))
        return 1; // an unreachable server is no empty list
    printBuildList(display, list, options.serialNumber);
    return 0;
}

int runInfo(UpdaterApp& app, const UpdaterOptions& options) {
    if (options.serialNumber == 0) {
        printMissingOption(app.display(), "-I must specify a specific device via -d");
        return 1;
    }
    return app.Show_DeviceInfo(options.serialNumber) ? 0 : 1;
}

int runCheck(UpdaterApp& app, const UpdaterOptions& options) {
    if (options.birdFilePath.empty()) {
        printMissingOption(app.display(), "-C must specify a BIRD file via -f");
        return 1;
    }
    return app.Check_BirdFile(options.birdFilePath) ? 0 : 1;
}

// -N, then -G, then the first of -D, -U, -B, -L, -I, -C. -Z does nothing.
int runCommands(UpdaterApp& app, UpdaterOptions& options) {
    int status = 0;
    if (options.has(CMD_FINGERPRINT)) {
        status = runFingerprint(app, options);
        if (status == kStopRun) return 1;
    }
    if (options.has(CMD_GET)) {
        status = runGet(app, options);
        if (status == kStopRun) return 1;
    }
    if (options.has(CMD_DISCOVER)) return runDiscover(app, options);
    if (options.has(CMD_UPDATE)) return runUpdate(app, options);
    if (options.has(CMD_BUILDS)) return runListing(app, options, false);
    if (options.has(CMD_LOCAL_BUILDS)) return runListing(app, options, true);
    if (options.has(CMD_INFO)) return runInfo(app, options);
    if (options.has(CMD_CHECK)) return runCheck(app, options);
    return status;
}

} // namespace

int updaterMain(int argc, const char* const* argv) {
    UpdaterOptions options;
    CLI_Display display;
    updaterLog_SetStream(stderr);
    setBirdLogSink([](uint32 mask, const char* line) { updaterLog(mask, "%s", line); });
    char home[2048];
    if (aDirectory_GetHomeDirectory(home, sizeof home) == aErrNone) options.homeDirectory = home;

    if (parseUpdaterOptions(&display, argc, argv, options) != 0) {
        printBanner(&display);
        printNotice(&display);
        printUsage(options.extendedUsage, false);
        return 1;
    }
    printBanner(&display);
    if (options.help || options.commands == 0) {
        printNotice(&display);
        printUsage(options.extendedUsage, options.help);
        return 0;
    }

    std::string storeBase, storeRoot;
    if (!ensureStoreRoot(&display, options, storeBase, storeRoot)) return 1;
    UpdaterApp app(options.serverEndpoint, storeRoot, &display);
    app.setSignaturePolicy(SignaturePolicy(trustedKeyDirectories(storeBase), options.allowUnsigned));
    try {
        return runCommands(app, options);
    } catch (const std::exception& error) {
        // A command not available in this build, or a failure no command caught:
        // its text, and the run fails.
        displayPrintf(&display, 1, "%s", error.what());
        return 1;
    }
}
