// -U: firmware transfer into a running module.
#include <chrono>
#include <memory>
#include <stdexcept>

#include "DirectNetworkConfig.h"
#include "DiscoveryLock.h"
#include "Module.h"
#include "RunningFirmware.h"
#include "ServerCommClass.h"
#include "SystemClass.h"
#include "Timestamp.h"
#include "TransferDriver.h"
#include "UpdaterApp.h"
#include "UpdaterLog.h"
#include "UpdateResult.h"
#include "UpdaterStore.h"
#include "aDefs.h"
#include "aTime.h"

using Veltrano::Halvorine::Module;
using Veltrano::Halvorine::SystemClass;

namespace {

// Times the module is looked for after its loader starts, one second apart, and
// how long that may take: one look over TCP/IP waits out a whole discovery, so the
// attempts alone would not bound the wait.
constexpr int kLoaderReturnAttempts = 15;
constexpr uint32_t kLoaderReturnPauseMs = 1000;
constexpr uint32_t kLoaderReturnMs = kLoaderReturnAttempts * kLoaderReturnPauseMs;
// How long a module may take to come back from its reboot into the new firmware.
constexpr uint32_t kRebootReturnMs = 15000;
// How long a routed module is watched for a sign of its restart, and how often.
constexpr uint32_t kRestartEvidenceMs = 3000;
constexpr uint32_t kRoutedPollMs = 100;

constexpr const char* kRetryAdvice =
    "Run the same -U command again to retry; if the module no longer starts, recover it with -t RECOVER.";
constexpr const char* kFinishInLoader =
    "Running the same -U command again will finish the update; if the module no longer starts, recover it "
    "with -t RECOVER.";

bool failTransfer(aErr error) {
    updaterLog(DEBUG_Updater, "Failed _transfer_firmware(): %d\n", error);
    return false;
}

// Bytes of the first count blocks.
uint64_t blockBytes(const std::vector<BirdBlock>& blocks, unsigned count) {
    uint64_t total = 0;
    for (size_t i = 0; i < blocks.size() && i < count; ++i)
        total += blocks[i].length;
    return total;
}

std::string birdName(uint32_t build) {
    return std::to_string(build) + ".bird";
}

// The build to use when none was named: the server's latest when it is stored,
// else the latest download, else the latest transfer; 0 when there is none.
uint32_t chooseBuild(UpdaterDisplayInterface* display, const std::string& url, UpdaterStore& store,
                     DeviceRecord& record, uint32_t serialNumber) {
    ServerCommClass server;
    std::string latest, firmwareId;
    server.QueryBuild(serialNumber, latest, firmwareId, url.c_str());
    uint32_t build = 0;
    if (!readBuildNumber(latest, build)) {
        updaterLog(DEBUG_Updater, "Error: Could not convert %s to int.\n", latest.c_str());
        build = 0;
    }
    if (build != 0) {
        try {
            store.loadBird(record, birdName(build));
            return build;
        } catch (const std::runtime_error&) {
            displayPrintf(display, 0,
                          "New firmware is available.  Updater will proceed if valid firmware is found locally.");
        }
    }
    int stored = record.attributes.getInt("LATEST_DOWNLOAD", 0);
    if (stored != 0) {
        displayPrintf(display, 0, "Updating with the Latest Download");
        return static_cast<uint32_t>(stored);
    }
    stored = record.attributes.getInt("LATEST_TRANSFER", 0);
    if (stored != 0) {
        displayPrintf(display, 0, "Updating with the Latest Transfer");
        return static_cast<uint32_t>(stored);
    }
    displayPrintf(display, 1, "Could not find valid build for this device.");
    return 0;
}

// Writes the module's serial number into the file's images when the file has
// places for it; false when it has them and none could be written.
bool patchSerial(BirdFile& file, uint32_t serialNumber) {
    if (!file.hasSerialLocations()) return true;
    updaterLog(DEBUG_Updater, "Setting serial number into firmware... ");
    if (!file.patchSerialNumber(serialNumber)) {
        updaterLog(DEBUG_Updater, "Error: Unable to modify serial number in bird.\n");
        return false;
    }
    updaterLog(DEBUG_Updater, " Serial Number inserted into firmware.\n");
    return true;
}

// Connects over USB, then over TCP/IP when no USB module has the serial number.
aErr connectDirect(Module& module, uint32_t serialNumber) {
    std::lock_guard<TurnLock> turn(discoveryLock());
    aErr err = module.connect(USB, serialNumber);
    if (err == aErrNotFound) err = module.connect(TCPIP, serialNumber);
    return err;
}

aErr rediscover(Module& module, linkType reachedOn, uint32_t serialNumber, ReturnWindow& window) {
    std::unique_lock<TurnLock> turn = window.takeTurn();
    if (!turn.owns_lock()) return aErrTimeout;
    return module.discoverAndConnect(reachedOn, serialNumber);
}

// A module whose link dropped when its loader started is looked for again where
// it was reached: on the same transport, or through the same router. True once it
// is connected again.
bool awaitLoader(Module& target, linkType reachedOn, bool routed, uint32_t serialNumber) {
    if (target.isConnected()) return true;
    target.disconnect();
    ReturnWindow window{std::chrono::milliseconds(kLoaderReturnMs)};
    for (int attempt = 0; attempt < kLoaderReturnAttempts && window.open(); ++attempt) {
        aErr err = routed ? target.reconnect() : rediscover(target, reachedOn, serialNumber, window);
        if (err == aErrNone && target.isConnected()) return true;
        // A link opened whose address query went unanswered would refuse every
        // later attempt.
        target.disconnect();
        aTime_MSSleep(kLoaderReturnPauseMs);
    }
    return false;
}

aErr routeToMe(Module& router, unsigned char on) {
    SystemClass system;
    system.init(&router, 0);
    return system.routeToMe(on);
}

// Switches the router's routing to this host off again when the update ends.
class RoutingGuard {
  public:
    explicit RoutingGuard(Module& router) : router_(router) {}
    ~RoutingGuard() {
        if (router_.isConnected()) routeToMe(router_, 0);
    }
    RoutingGuard(const RoutingGuard&) = delete;
    RoutingGuard& operator=(const RoutingGuard&) = delete;

  private:
    Module& router_;
};

// Whether the module answers with its serial number.
bool answersAs(Module& target, uint32_t serialNumber) {
    SystemClass system;
    system.init(&target, 0);
    uint32_t reported = 0;
    return system.getSerialNumber(&reported) == aErrNone && reported == serialNumber;
}

// Whether the module runs again after rebooting into its new firmware: reached
// again where it was reached and reporting its serial number, within
// kRebootReturnMs. A routed module keeps its router's link, so an answer counts
// as a return only after the module fell silent on the bus; one that never fell
// silent within kRestartEvidenceMs is taken as it is, and the version check that
// follows decides. *fellSilent tells whether the module was seen silent meanwhile.
bool awaitReturn(Module& target, linkType reachedOn, bool routed, uint32_t serialNumber, bool* fellSilentOut) {
    const uint32_t start = aTime_GetMSTicks();
    ReturnWindow window{std::chrono::milliseconds(kRebootReturnMs)};
    bool& fellSilent = *fellSilentOut;
    fellSilent = false;
    if (!routed) target.disconnect();
    do {
        bool answered = false;
        if (routed) {
            answered = answersAs(target, serialNumber);
        } else if (rediscover(target, reachedOn, serialNumber, window) == aErrNone) {
            answered = answersAs(target, serialNumber);
        }
        if (answered && (!routed || fellSilent)) return true;
        if (answered && aTime_GetMSTicks() - start >= kRestartEvidenceMs) {
            updaterLog(DEBUG_Updater, "No sign of a restart behind the router; the version decides.\n");
            return true;
        }
        if (!answered) fellSilent = true;
        // A half-made connection would refuse every later attempt.
        if (!routed) target.disconnect();
        aTime_MSSleep(routed ? kRoutedPollMs : kLoaderReturnPauseMs);
    } while (window.open());
    return false;
}

// What the user reads when the firmware phase fails: the module now runs its
// loader, which a new -U finishes.
void reportFirmwareFailure(UpdaterDisplayInterface* display, uint32_t serialNumber,
                           const FirmwareTransferReport& report, aErr err) {
    if (report.failedBlock != 0)
        displayPrintf(display, 1,
                      "Module [%08X] is left in its loader: firmware block %u of %u failed [%d, %s].",
                      serialNumber, report.failedBlock, report.blocks, err, aError_GetErrorText(err));
    else
        displayPrintf(display, 1, "Module [%08X] is left in its loader: the reboot request failed [%d, %s].",
                      serialNumber, err, aError_GetErrorText(err));
    displayPrintf(display, 1, "%s", kFinishInLoader);
}

// The module came back, but not with what was sent (or would not say what it runs).
void reportWrongFirmware(UpdaterDisplayInterface* display, uint32_t serialNumber,
                         const RunningFirmware& running, const BirdFile& file, uint32_t build) {
    if (running.error != aErrNone)
        displayPrintf(
            display, 1,
            "Module [%08X] came back after its reboot but did not say which firmware it runs [%d, %s]; "
            "the update is not confirmed.",
            serialNumber, running.error, aError_GetErrorText(running.error));
    else
        displayPrintf(display, 1,
                      "Module [%08X] runs firmware %s after its reboot, not the %s that was sent: the new "
                      "firmware did not take.",
                      serialNumber, describeRunning(running).c_str(), describeSent(file, build).c_str());
    displayPrintf(display, 1, "%s", kRetryAdvice);
}

} // namespace

BirdFile UpdaterApp::load_bird(const char* label, const std::string& path, uint32_t serialNumber,
                               uint32_t buildNumber, bool downloadIfMissing) {
    std::unique_ptr<UpdaterStore> store = openStore(m_display, m_storeRoot, "load_bird");
    // The store has said why; an empty file here would let a transfer send nothing.
    if (!store) throw std::runtime_error("Error opening the store");
    if (!path.empty()) {
        displayPrintf(m_display, 0, "%s from Birdfile: %s", label, path.c_str());
        return BirdFile(path);
    }
    DeviceRecord record = store->makeDevice(serialNumber);
    displayPrintf(m_display, 0, "%s firmware with build: %u", label, buildNumber);
    try {
        return store->loadBird(record, birdName(buildNumber));
    } catch (const std::runtime_error&) {
        if (!downloadIfMissing) throw std::runtime_error("Error reading birdfile");
    }
    displayPrintf(m_display, 0, "Downloading firmware build %u", buildNumber);
    Download_Firmware(serialNumber, std::to_string(buildNumber), false, false);
    return store->loadBird(record, birdName(buildNumber));
}

bool UpdaterApp::connectThroughRouter(Module& router, Module& target, uint32_t serialNumber,
                                      uint32_t routerSerialNumber) {
    UpdaterDisplayInterface* display = m_display;
    if (target.getModuleAddress() == 0) {
        DiscoveredDeviceList devices = Discover_NetworkDevices(routerSerialNumber, 0);
        if (devices.empty()) {
            displayPrintf(display, 1, "Unable to find modules on Network");
            return false;
        }
        uint16_t busAddress = 0;
        for (const DiscoveredDevice& device : devices)
            if (device.specifier.serialNumber == serialNumber) busAddress = device.busAddress;
        if (busAddress == 0) {
            displayPrintf(display, 1,
                          "Module address required for indirect firmware update, could not find serial "
                          "number [0x%08X] on network",
                          serialNumber);
            return false;
        }
        target.setModuleAddress(static_cast<unsigned char>(busAddress));
    }
    aErr err = setDirectNetworkConfig(&router, display);
    if (err != aErrNone) return failTransfer(err);
    if (connectDirect(router, routerSerialNumber) != aErrNone) {
        displayPrintf(display, 1, "Failed to connect to link module [%08X]", routerSerialNumber);
        return false;
    }
    // The bus search switched the router's routing off when it ended; without it the
    // target's replies would never reach this host.
    err = routeToMe(router, 1);
    if (err != aErrNone) {
        displayPrintf(display, 1, "Error %d on route to me", err);
        return failTransfer(err);
    }
    err = target.connectThroughLinkModule(&router);
    if (err != aErrNone) {
        displayPrintf(display, 1, "Failed to connect to module [%08X]", serialNumber);
        return failTransfer(err);
    }
    return true;
}

bool UpdaterApp::Update_Firmware(uint32_t serialNumber, uint32_t buildNumber, const std::string& path,
                                 uint8_t moduleAddress, uint32_t routerSerialNumber, bool override) {
    UpdaterDisplayInterface* display = m_display;
    const uint32_t start = aTime_GetMSTicks();
    UpdateResult scratch;
    UpdateResult& result = m_updateResult ? *m_updateResult : scratch;
    result = UpdateResult();
    result.serialNumber = serialNumber;
    // Every return says where the update stopped and how long it had run.
    auto stop = [&](const char* step, aErr error = aErrNone) {
        result.step = step;
        result.error = error;
        result.seconds = (aTime_GetMSTicks() - start) / 1000.0;
        return false;
    };
    if (serialNumber == 0) {
        displayPrintf(display, 1, "Update command must specify the specific device");
        return stop("options");
    }
    std::unique_ptr<UpdaterStore> store = openStore(display, m_storeRoot, "Update_Firmware");
    if (!store) return stop("store");
    DeviceRecord record;
    const bool stored = store->FindDevice(serialNumber, &record);

    if (path.empty() && buildNumber == 0) {
        buildNumber = chooseBuild(display, m_serverEndpoint, *store, record, serialNumber);
        if (buildNumber == 0) return stop("build");
    }
    BirdFile file;
    try {
        file = load_bird("Updating", path, serialNumber, buildNumber, false);
    } catch (const std::runtime_error&) {
        displayPrintf(display, 1, "Failed to load bird file");
        return stop("file");
    }
    if (!admitFirmware(file)) return stop("file");
    if (!patchSerial(file, serialNumber)) {
        displayPrintf(display, 1,
                      "The serial number [%08X] cannot be written into %s; nothing was sent to the module.",
                      serialNumber, file.filename().c_str());
        return stop("file");
    }
    // A loader alone would leave the module in it, with nothing to finish the update.
    if (file.blocksOfType(birdFirmwareImage).empty()) {
        displayPrintf(display, 1, "%s holds no firmware blocks; nothing was sent to module [%08X].",
                      file.filename().c_str(), serialNumber);
        return stop("file");
    }

    // The router outlives the target's use of its link: it routes until the end.
    Module router(0, 0);
    RoutingGuard routing(router);
    Module target(moduleAddress, 0);
    aErr err = setDirectNetworkConfig(&target, display);
    if (err != aErrNone) return stop("connect", err) || failTransfer(err);
    const bool routed = routerSerialNumber != 0;
    if (routed) {
        if (!connectThroughRouter(router, target, serialNumber, routerSerialNumber)) return stop("connect");
    } else if ((err = connectDirect(target, serialNumber)) != aErrNone) {
        displayPrintf(display, 1, "Failed to connect to module [%08X]", serialNumber);
        return stop("connect", err) || failTransfer(err);
    }
    linkSpec reached = {};
    target.getLinkSpecifier(&reached);
    const linkType reachedOn = reached.type == TCPIP ? TCPIP : USB;
    result.reachedOn = reachedOn == TCPIP ? "TCPIP" : "USB";
    result.model = aDefs_GetModelName(reached.model);
    // Only a caller that reports the outcome pays for asking what ran before.
    if (m_updateResult) {
        result.before = readRunningFirmware(&target);
        result.beforeRead = result.before.error == aErrNone;
    }

    if (!override && !UpdateFirmware(display, file, &target, serialNumber)) {
        displayPrintf(display, 1, "Birdfile failed validation");
        return stop("validate");
    }
    err = TransferLoaderBlocks(display, &target, file);
    if (err != aErrNone) {
        displayPrintf(display, 1, "Update of module [%08X] failed while sending its loader [%d, %s].",
                      serialNumber, err, aError_GetErrorText(err));
        displayPrintf(display, 1, "%s", kRetryAdvice);
        return stop("loader", err) || failTransfer(err);
    }
    result.bytesSent = blockBytes(file.blocksOfType(birdLoaderImage), ~0u);
    if (!awaitLoader(target, reachedOn, routed, serialNumber)) {
        displayPrintf(display, 1, "Module [%08X] was not found again after its loader started.",
                      serialNumber);
        displayPrintf(display, 1, "%s", kFinishInLoader);
        return stop("loader-return", aErrTimeout) || failTransfer(aErrTimeout);
    }
    FirmwareTransferReport report;
    err = TransferFirmwareBlocks(display, &target, file, routed, m_useUEIData, &report);
    result.bytesSent += blockBytes(file.blocksOfType(birdFirmwareImage), report.done);
    if (err != aErrNone) {
        reportFirmwareFailure(display, serialNumber, report, err);
        return stop("firmware", err) || failTransfer(err);
    }
    // The transfer counts only once the module runs again, and runs what was sent.
    bool fellSilent = false;
    if (!awaitReturn(target, reachedOn, routed, serialNumber, &fellSilent)) {
        displayPrintf(display, 1, "Module [%08X] did not come back after its reboot", serialNumber);
        displayPrintf(display, 1, "%s", kRetryAdvice);
        return stop("reboot", aErrTimeout) || failTransfer(aErrTimeout);
    }
    const uint32_t sentBuild = path.empty() ? buildNumber : 0;
    // A module that never restarted answers as before; with nothing to compare its
    // firmware with, only a sign of the restart can confirm the update.
    if (!report.linkDropped && !fellSilent && !canConfirmFirmware(file, sentBuild)) {
        displayPrintf(display, 1,
                      "Module [%08X] showed no sign of a restart after the reboot request, and %s names no "
                      "version to compare with what it runs: the update is not confirmed.",
                      serialNumber, file.filename().c_str());
        displayPrintf(display, 1, "%s", kRetryAdvice);
        return stop("verify", aErrVersion) || failTransfer(aErrVersion);
    }
    const RunningFirmware running = readRunningFirmware(&target);
    result.after = running;
    result.afterRead = running.error == aErrNone;
    if (!runsSentFirmware(running, file, sentBuild)) {
        reportWrongFirmware(display, serialNumber, running, file, sentBuild);
        return stop("verify", aErrVersion) || failTransfer(aErrVersion);
    }

    recordTransfer(*store, stored ? &record : nullptr, serialNumber,
                   path.empty() ? birdName(buildNumber) : path);
    updaterLog(DEBUG_Updater, "Updating device firmware: \n");
    result.ok = true;
    result.seconds = (aTime_GetMSTicks() - start) / 1000.0;
    displayPrintf(display, 0, "Update time: %.4f sec", result.seconds);
    return true;
}

void UpdaterApp::recordTransfer(UpdaterStore& store, DeviceRecord* found, uint32_t serialNumber,
                                const std::string& transferred) {
    DeviceRecord made;
    DeviceRecord* record = found;
    if (!record) {
        // A device the store did not hold gets its record now, rather than the
        // transfer landing in a stray file of the working directory.
        try {
            made = store.makeDevice(serialNumber);
            record = &made;
        } catch (const std::runtime_error& error) {
            displayPrintf(m_display, 1, "Could not record the transfer in the store: %s", error.what());
            return;
        }
    }
    record->attributes.setText("LATEST_TRANSFER", transferred);
    record->attributes.setText("LAST_TRANSFER_DATE", currentTimestamp());
    // The module runs the new firmware either way; a record lost unseen would leave a
    // later -U choosing from stale attributes.
    if (record->attributes.write() != aErrNone)
        displayPrintf(m_display, 1, "Could not record the transfer in the store: %s",
                      record->attributes.fileName().c_str());
}
