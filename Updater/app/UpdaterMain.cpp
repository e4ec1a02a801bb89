#include "UpdaterMain.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "CLI_Display.h"
#include "FleetUpdate.h"
#include "JsonViews.h"
#include "RecordingDisplay.h"
#include "StoredBuilds.h"
#include "UpdaterStore.h"
#include "PathJoin.h"
#include "UpdaterApp.h"
#include "UpdaterLog.h"
#include "UpdaterOptions.h"
#include "TrustedKeys.h"
#include "Usage.h"
#include "BirdLog.h"
#include "aDirectory.h"
#include "aTime.h"

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

int runFingerprint(UpdaterApp& app, const UpdaterOptions& options, Json* doc) {
    UpdaterDisplayInterface* display = app.display();
    if (options.serialPort.empty()) {
        displayPrintf(display, 1, "Must specify the serial port used for connecting");
        return kStopRun;
    }
    uint32_t words[4] = {0, 0, 0, 0};
    if (app.Get_Fingerprint(words, options.serialPort, kFingerprintPlaceholderSerial, options.birdFilePath,
                            options.baudRate, true)) {
        displayPrintf(display, 0, "[ %08X %08X %08X %08X ]", words[0], words[1], words[2], words[3]);
        if (doc) (*doc)["fingerprint"] = jsonFingerprint(words);
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

int runGet(UpdaterApp& app, UpdaterOptions& options, Json* doc) {
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
    if (doc)
        (*doc)["download"] = {{"serial", serialText(options.serialNumber)},
                              {"ok", stored != 0},
                              {"build", stored != 0 ? Json(std::to_string(stored)) : Json(nullptr)}};
    if (stored == 0) return 1;
    options.build = std::to_string(stored);
    return 0;
}

void addDevices(Json* doc, const DiscoveredDeviceList& list) {
    if (!doc) return;
    Json devices = Json::array();
    for (const DiscoveredDevice& device : list)
        devices.push_back(jsonDevice(device));
    (*doc)["devices"] = devices;
}

int runDiscover(UpdaterApp& app, const UpdaterOptions& options, Json* doc) {
    UpdaterDisplayInterface* display = app.display();
    uint32_t transport =
        options.transportGiven && options.transport != TRANSPORT_RECOVER ? options.transport : 0;
    if (options.routerSerialNumber != 0) {
        displayPrintf(display, 0, "Searching for Halvorine Network devices connected to %08X",
                      options.routerSerialNumber);
        DiscoveredDeviceList list = app.Discover_NetworkDevices(options.routerSerialNumber, transport);
        printDiscoveredDevices(display, list, transport);
        addDevices(doc, list);
    } else {
        displayPrintf(display, 0, "Searching for Halvorine devices");
        if (transport == 0) transport = TRANSPORT_USB;
        DiscoveredDeviceList list = app.Discover_Devices(transport);
        printDiscoveredDevices(display, list, transport);
        addDevices(doc, list);
    }
    return 0;
}

int runUpdate(UpdaterApp& app, const UpdaterOptions& options, Json* doc) {
    uint32_t buildNumber = buildNumberOf(options.build);
    // Without -m the data goes as DATA packets, as it always has.
    app.setUseUEIData(options.useUEIBytesGiven && options.useUEIBytes);
    bool done;
    if (options.transport == TRANSPORT_RECOVER) {
        const uint32_t start = aTime_GetMSTicks();
        done = app.Recover_Firmware(options.serialPort, buildNumber, options.baudRate, options.serialNumber,
                                    options.birdFilePath);
        if (doc)
            (*doc)["recovery"] = {{"ok", done},
                                  {"serial_port", options.serialPort},
                                  {"seconds", (aTime_GetMSTicks() - start) / 1000.0}};
    } else {
        if (options.serialNumber == 0) {
            displayPrintf(app.display(), 1, "Must specify the specific device to be updated");
            return 1;
        }
        UpdateResult result;
        if (doc) app.setUpdateResult(&result);
        done = app.Update_Firmware(options.serialNumber, buildNumber, options.birdFilePath,
                                   options.moduleAddress, options.routerSerialNumber, options.override);
        app.setUpdateResult(nullptr);
        if (doc) {
            const RecordingDisplay* recorded = dynamic_cast<const RecordingDisplay*>(app.display());
            if (!done && result.errorText.empty() && recorded && !recorded->errors().empty())
                result.errorText = recorded->errors().front();
            (*doc)["updates"] = Json::array({jsonUpdate(result)});
            if (!done) (*doc)["error_code"] = result.error;
        }
    }
    return done ? 0 : 1;
}

int runListing(UpdaterApp& app, const UpdaterOptions& options, bool local, Json* doc) {
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
    if (doc) {
        (*doc)["serial"] = serialText(options.serialNumber);
        (*doc)["builds"] = jsonBuilds(list);
    }
    return 0;
}

// -I's facts for the document, read again once the text has shown them.
Json storedRecord(UpdaterApp& app, uint32_t serialNumber) {
    std::unique_ptr<UpdaterStore> store = openStore(app.display(), app.storeRoot(), "Show_DeviceInfo");
    DeviceRecord record;
    if (!store || !store->FindDevice(serialNumber, &record)) return nullptr;
    return {{"serial", serialText(serialNumber)},
            {"directory", pathJoin(record.directory, record.name)},
            {"attributes", jsonAttributes(record.attributes.values())},
            {"builds", jsonBuilds(storedBuilds(*store, serialNumber))}};
}

int runInfo(UpdaterApp& app, const UpdaterOptions& options, Json* doc) {
    if (options.serialNumber == 0) {
        printMissingOption(app.display(), "-I must specify a specific device via -d");
        return 1;
    }
    if (!app.Show_DeviceInfo(options.serialNumber)) return 1;
    if (doc) (*doc)["record"] = storedRecord(app, options.serialNumber);
    return 0;
}

int runCheck(UpdaterApp& app, const UpdaterOptions& options, Json* doc) {
    if (options.birdFilePath.empty()) {
        printMissingOption(app.display(), "-C must specify a BIRD file via -f");
        return 1;
    }
    if (!app.Check_BirdFile(options.birdFilePath)) return 1;
    if (doc) (*doc)["bird"] = jsonBird(BirdFile(options.birdFilePath), options.birdFilePath);
    return 0;
}

// Several -d with -G or -U (not a recovery, nor under -D, which wins over both):
// the modules are served at once.
bool isFleet(const UpdaterOptions& options) {
    return options.serialNumbers.size() > 1 && (options.has(CMD_GET) || options.has(CMD_UPDATE)) &&
           !options.has(CMD_DISCOVER) && !(options.has(CMD_UPDATE) && options.transport == TRANSPORT_RECOVER);
}

FleetRequest fleetRequest(const UpdaterOptions& options) {
    FleetRequest request;
    request.serialNumbers = options.serialNumbers;
    request.routerSerialNumber = options.routerSerialNumber;
    request.download = options.has(CMD_GET);
    request.update = options.has(CMD_UPDATE);
    request.build = options.build;
    request.birdFilePath = options.birdFilePath;
    request.override = options.override;
    request.jobs = options.jobs;
    return request;
}

// -N, then -G, then the first of -D, -U, -B, -L, -I, -C. -Z does nothing.
int runCommands(UpdaterApp& app, UpdaterOptions& options, Json* doc) {
    int status = 0;
    if (options.has(CMD_FINGERPRINT)) {
        status = runFingerprint(app, options, doc);
        if (status == kStopRun) return 1;
    }
    if (isFleet(options)) {
        app.setUseUEIData(options.useUEIBytesGiven && options.useUEIBytes);
        return runFleet(app, fleetRequest(options), doc);
    }
    if (options.has(CMD_GET)) {
        status = runGet(app, options, doc);
        if (status == kStopRun) return 1;
    }
    if (options.has(CMD_DISCOVER)) return runDiscover(app, options, doc);
    if (options.has(CMD_UPDATE)) return runUpdate(app, options, doc);
    if (options.has(CMD_BUILDS)) return runListing(app, options, false, doc);
    if (options.has(CMD_LOCAL_BUILDS)) return runListing(app, options, true, doc);
    if (options.has(CMD_INFO)) return runInfo(app, options, doc);
    if (options.has(CMD_CHECK)) return runCheck(app, options, doc);
    return status;
}

// The commands a run asked for, by name, in the order they run.
Json commandNames(const UpdaterOptions& options) {
    static const std::pair<UpdaterCommand, const char*> kNames[] = {
        {CMD_FINGERPRINT, "fingerprint"}, {CMD_GET, "get"},     {CMD_DISCOVER, "discover"},
        {CMD_UPDATE, "update"},           {CMD_BUILDS, "builds"}, {CMD_LOCAL_BUILDS, "local-builds"},
        {CMD_INFO, "info"},               {CMD_CHECK, "check"}};
    Json names = Json::array();
    for (const auto& [flag, name] : kNames)
        if (options.has(flag)) names.push_back(flag == CMD_UPDATE && options.transport == TRANSPORT_RECOVER
                                                   ? "recover"
                                                   : name);
    return names;
}

// The one document of a --json run, on standard output: its members, then
// whether it succeeded and, when not, why.
void writeDocument(int out, Json doc, int status, const std::vector<std::string>& errors) {
    doc["ok"] = status == 0;
    doc["exit_status"] = status;
    if (status != 0) {
        int code = 0;
        if (doc.contains("error_code")) {
            code = doc["error_code"].get<int>();
            doc.erase("error_code");
        }
        const std::string text = errors.empty() ? "the command failed" : errors.front();
        doc["error"] = jsonError(code, text, errors);
    } else {
        doc.erase("error_code");
    }
    const std::string text =
        doc.dump(2, ' ', false, nlohmann::detail::error_handler_t::replace) + "\n";
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(out, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
}


// The run itself; doc is null without --json.
int runUpdater(UpdaterOptions& options, UpdaterDisplayInterface& display, Json* doc) {
    std::string storeBase, storeRoot;
    if (!ensureStoreRoot(&display, options, storeBase, storeRoot)) return 1;
    UpdaterApp app(options.serverEndpoint, storeRoot, &display);
    app.setSignaturePolicy(SignaturePolicy(trustedKeyDirectories(storeBase), options.allowUnsigned));
    try {
        return runCommands(app, options, doc);
    } catch (const std::exception& error) {
        // A command not available in this build, or a failure no command caught:
        // its text, and the run fails.
        displayPrintf(&display, 1, "%s", error.what());
        return 1;
    }
}

// Standard output carries the document alone: what the user would read there
// goes to standard error with the diagnostics.
int jsonMain(UpdaterOptions& options, bool parsed, const std::vector<std::string>& parseErrors) {
    // Whatever still writes to standard output during the run (a library, a
    // loader's own message) lands on standard error instead.
    // It stays so until the process ends: a library thread may still write after
    // the document, which goes out on a descriptor of its own.
    fflush(stdout);
    int documentOut = dup(STDOUT_FILENO);
    if (documentOut >= 0) dup2(STDERR_FILENO, STDOUT_FILENO);
    else documentOut = STDOUT_FILENO;
    CLI_Display console(stderr, stderr);
    RecordingDisplay display(&console);
    Json doc = {{"schema", kJsonSchemaVersion}, {"commands", commandNames(options)}};
    printBanner(&display);
    int status;
    if (!parsed) {
        printNotice(&display);
        printUsage(options.extendedUsage, false);
        status = 1;
    } else if (options.help || options.commands == 0) {
        printNotice(&display);
        printUsage(options.extendedUsage, options.help);
        status = 0;
    } else {
        status = runUpdater(options, display, &doc);
    }
    fflush(stdout);
    std::vector<std::string> errors = parseErrors;
    errors.insert(errors.end(), display.errors().begin(), display.errors().end());
    writeDocument(documentOut, std::move(doc), status, errors);
    if (documentOut != STDOUT_FILENO) close(documentOut);
    return status;
}

} // namespace

int updaterMain(int argc, const char* const* argv) {
    UpdaterOptions options;
    // The parse's own messages are errors: with --json they are kept for the document.
    CLI_Display parseConsole(stdout, stderr);
    RecordingDisplay parseDisplay(&parseConsole);
    updaterLog_SetStream(stderr);
    setBirdLogSink([](uint32 mask, const char* line) { updaterLog(mask, "%s", line); });
    char home[2048];
    if (aDirectory_GetHomeDirectory(home, sizeof home) == aErrNone) options.homeDirectory = home;

    const bool parsed = parseUpdaterOptions(&parseDisplay, argc, argv, options) == 0;
    if (options.json) return jsonMain(options, parsed, parseDisplay.errors());
    CLI_Display display;
    if (!parsed) {
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

    return runUpdater(options, display, nullptr);
}
