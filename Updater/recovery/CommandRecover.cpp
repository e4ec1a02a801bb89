// -U -t RECOVER and -N: identification of a chip through its boot ROM, the server's
// answer for it, and the recovery of its firmware.
#include <memory>
#include <stdexcept>

#include "DirectNetworkConfig.h"
#include "Module.h"
#include "NXPSerial.h"
#include "Recovery.h"
#include "ServerCommClass.h"
#include "SystemClass.h"
#include "UpdaterApp.h"
#include "UpdaterLog.h"
#include "UpdaterStore.h"
#include "aTime.h"

using Veltrano::Halvorine::Module;
using Veltrano::Halvorine::SystemClass;

namespace {

// The chip identifier a liveloader reports, one word per subindex.
constexpr unsigned char kFingerprintOption = 39;

// Keeps the display quiet while it lives.
class QuietDisplay {
  public:
    explicit QuietDisplay(UpdaterDisplayInterface* display) : display_(display) { display_->setQuiet(true); }
    ~QuietDisplay() { display_->setQuiet(false); }
    QuietDisplay(const QuietDisplay&) = delete;
    QuietDisplay& operator=(const QuietDisplay&) = delete;

  private:
    UpdaterDisplayInterface* display_;
};

// The liveloader reports the chip identifier last word first.
bool readFingerprint(Module& module, uint32_t fingerprint[4]) {
    SystemClass system;
    system.init(&module, 0);
    for (unsigned char subindex = 0; subindex < 4; ++subindex) {
        unsigned int word = 0;
        if (system.getUEI32(kFingerprintOption, subindex, &word) != aErrNone) {
            updaterLog(DEBUG_APP, "Error getting Identifier %d.\n", subindex);
            return false;
        }
        fingerprint[3 - subindex] = word;
    }
    return true;
}

} // namespace

bool UpdaterApp::Get_Fingerprint(uint32_t fingerprint[4], const std::string& port, uint32_t serialNumber,
                                 const std::string& birdFilePath, uint32_t baudRate, bool resetAfter) {
    m_portProblem.clear();
    // "USB" names the i.MX boot ROM on USB; it is no serial port to try first.
    if (port != kUsbPortName && !NXPSerial::isSupportedRate(baudRate)) {
        displayPrintf(m_display, 1, "Unsupported baud rate %u: use one of %s", baudRate,
                      NXPSerial::supportedRates().c_str());
        return false;
    }
    if (port != kUsbPortName && _get_fingerprint_serial(port, baudRate, fingerprint, &m_portProblem)) {
        m_recoveryDeviceKind = kRecoverySerialIsp;
        return true;
    }
    m_recoveryDeviceKind = kRecoveryImx;
    return _get_fingerprint_imx(port, serialNumber, birdFilePath, resetAfter, fingerprint);
}

BirdFile UpdaterApp::liveloaderFile(UpdaterStore& store, uint32_t serialNumber,
                                    const std::string& birdFilePath) {
    if (!birdFilePath.empty()) return BirdFile(birdFilePath);
    DeviceRecord record;
    // A record without a download (one that failed) holds no liveloader.
    if (store.FindDevice(serialNumber, &record) && !record.attributes.getText("LATEST_DOWNLOAD", "").empty())
        return store.loadBird(record, record.attributes.getText("LATEST_DOWNLOAD", ""));
    uint32_t build;
    {
        QuietDisplay quiet(m_display);
        updaterLog(DEBUG_APP, "Existing loader device not found. Downloading.\n");
        build = Download_Firmware(serialNumber, "", false, false);
    }
    if (build == 0 || !store.FindDevice(serialNumber, &record))
        throw std::runtime_error("No liveloader could be downloaded");
    return store.loadBird(record, std::to_string(build) + ".bird");
}

bool UpdaterApp::_get_fingerprint_imx(const std::string& port, uint32_t serialNumber,
                                      const std::string& birdFilePath, bool resetAfter,
                                      uint32_t fingerprint[4]) {
    std::unique_ptr<UpdaterStore> store = openStore(m_display, m_storeRoot, "_get_fingerprint_imx");
    if (!store) return false;
    if (serialNumber == 0) serialNumber = kPlaceholderSerialNumber;
    if (!birdFilePath.empty() && serialNumber == kPlaceholderSerialNumber) {
        displayPrintf(m_display, 1,
                      "Add serial number or remove the bird filename to use a default recovery image.");
        return false;
    }
    BirdFile file;
    try {
        file = liveloaderFile(*store, serialNumber, birdFilePath);
    } catch (const std::runtime_error& error) {
        updaterLog(DEBUG_APP, "%s\n", error.what());
        return false;
    }
    if (!admitFirmware(file)) return false;
    uint32_t refusal = 0;
    const aErr loaded = _load_liveloader(file, port, &refusal);
    if (loaded == aErrPermission)
        displayPrintf(m_display, 1, "The boot ROM refused to start the liveloader at 0x%08X ==> [0x%08X]",
                      liveloaderStartAddress(file), refusal);
    if (loaded != aErrNone) {
        updaterLog(DEBUG_APP, "Error loading liveloader.\n");
        return false;
    }
    Module module(0, 0);
    if (setDirectNetworkConfig(&module, m_display) != aErrNone) return false;
    if (!connectLiveloader(module, serialNumber)) {
        updaterLog(DEBUG_APP, "Could not connect to device.\n");
        return false;
    }
    if (!readFingerprint(module, fingerprint)) return false;
    if (resetAfter) {
        SystemClass system;
        system.init(&module, 0);
        system.reset();
    }
    return true;
}

bool UpdaterApp::Recover_Firmware(const std::string& port, uint32_t buildNumber, uint32_t baudRate,
                                  uint32_t serialNumber, const std::string& birdFilePath) {
    UpdaterDisplayInterface* display = m_display;
    const uint32_t start = aTime_GetMSTicks();
    // A file refused for its signature never reaches the chip, not even its identification.
    if (!birdFilePath.empty() && !admitFirmware(birdFilePath)) return false;
    uint32_t fingerprint[4] = {0, 0, 0, 0};
    // Identified at the rate the chip is then programmed at: an ISP chip locks onto
    // the rate of its synchronisation.
    if (!Get_Fingerprint(fingerprint, port, serialNumber, birdFilePath, baudRate, false)) {
        displayPrintf(display, 1, "Could not get Device Identifier");
        if (!m_portProblem.empty()) displayPrintf(display, 1, "%s", m_portProblem.c_str());
        return false;
    }
    if (birdFilePath.empty()) {
        ServerCommClass server;
        uint32_t serverSerial = serialNumber, serverBuild = 0;
        // An answer without a module or a build to load is no answer: loading would
        // fetch the newest build under another name, or make a record for serial 0.
        if (!server.GetRecoveryInfo(fingerprint, serverSerial, serverBuild, m_serverEndpoint.c_str()) ||
            serverSerial == 0 || (buildNumber == 0 && serverBuild == 0)) {
            displayPrintf(display, 1, "Failed to retrieve recovery information from Veltrano server");
            return false;
        }
        serialNumber = serverSerial;
        if (buildNumber == 0) buildNumber = serverBuild;
    }
    BirdFile file;
    try {
        file = load_bird("Recovering", birdFilePath, serialNumber, buildNumber, true);
    } catch (const std::runtime_error&) {
        displayPrintf(display, 1, "Failed to load bird file");
        return false;
    }
    if (!admitFirmware(file)) return false;
    if (file.hasSerialLocations()) {
        displayPrintf(display, 1, "Updater does not support offline recovery");
        return false;
    }
    bool done = false;
    switch (m_recoveryDeviceKind) {
    case kRecoveryImx:
        done = _recover_imx(display, file, serialNumber, m_useUEIData);
        break;
    case kRecoverySerialIsp:
        done = _recover_serial(display, file, port, baudRate);
        break;
    default:
        displayPrintf(display, 1, "Unknown device");
        break;
    }
    displayPrintf(display, 0, "Update time: %.4f sec", (aTime_GetMSTicks() - start) / 1000.0);
    return done;
}
