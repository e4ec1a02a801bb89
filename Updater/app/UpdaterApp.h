// The object every command runs on: the update server endpoint, the store root and
// the display. Each command operation reports to the user itself.
#ifndef UPDATER_APP_H
#define UPDATER_APP_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "BirdFile.h"
#include "BuildList.h"
#include "DiscoveredDevice.h"
#include "SignaturePolicy.h"
#include "UpdaterDisplayInterface.h"

class UpdaterStore;
struct DeviceRecord;
struct UpdateResult;
namespace Veltrano::Halvorine {
class Module;
}

class UpdaterApp {
  public:
    UpdaterApp(const std::string& serverEndpoint, const std::string& storeRoot,
               UpdaterDisplayInterface* display);

    // The same application reporting to another display: each module of a fleet
    // update runs on its own copy, so nothing of one run is shared with another.
    UpdaterApp withDisplay(UpdaterDisplayInterface* display) const {
        UpdaterApp copy(m_serverEndpoint, m_storeRoot, display);
        copy.m_signatures = m_signatures.fresh();
        copy.m_useUEIData = m_useUEIData;
        return copy;
    }

    const std::string& serverEndpoint() const { return m_serverEndpoint; }
    const std::string& storeRoot() const { return m_storeRoot; }
    UpdaterDisplayInterface* display() const { return m_display; }
    uint8_t recoveryDeviceKind() const { return m_recoveryDeviceKind; }
    void setRecoveryDeviceKind(uint8_t kind) { m_recoveryDeviceKind = kind; }
    // -m: firmware image data goes as UEI byte values where the module takes
    // them (faster), else as DATA packets.
    void setUseUEIData(bool use) { m_useUEIData = use; }
    // Where Update_Firmware reports how it went (null: nowhere); not owned.
    void setUpdateResult(UpdateResult* result) { m_updateResult = result; }
    // The run's rule for firmware signatures (none required until one is set).
    void setSignaturePolicy(SignaturePolicy policy) { m_signatures = std::move(policy); }

    // -G: downloads a build into the store; the build number stored, or 0.
    uint32_t Download_Firmware(uint32_t serialNumber, const std::string& build, bool override, bool noCal);

    // -D: modules reachable over transport (1 USB, 2 TCP/IP, 0 both).
    DiscoveredDeviceList Discover_Devices(uint32_t transport);
    // -D -r: modules on a router's I2C bus.
    DiscoveredDeviceList Discover_NetworkDevices(uint32_t routerSerialNumber, uint32_t transport);

    // -U: transfers firmware into a running module.
    bool Update_Firmware(uint32_t serialNumber, uint32_t buildNumber, const std::string& birdFilePath,
                         uint8_t moduleAddress, uint32_t routerSerialNumber, bool override);
    // The BIRD file for an update or a recovery (label is the word its messages
    // show): the file at path, else the build stored for the device, downloaded
    // first when downloadIfMissing. Throws std::runtime_error when there is none.
    BirdFile load_bird(const char* label, const std::string& path, uint32_t serialNumber,
                       uint32_t buildNumber, bool downloadIfMissing);
    // -U -t RECOVER: brings a module back through its boot ROM.
    bool Recover_Firmware(const std::string& serialPort, uint32_t buildNumber, uint32_t baudRate,
                          uint32_t serialNumber, const std::string& birdFilePath);
    // -N: the four-word chip fingerprint; whether the chip answered. A serial ISP
    // chip is tried first (not on the port "USB"), then an i.MX chip through its
    // liveloader; the kind found is kept for a recovery that follows.
    // A rate the port cannot run at exactly is refused (said, with the rates it
    // can) before anything is sent.
    bool Get_Fingerprint(uint32_t result[4], const std::string& serialPort, uint32_t serialNumber,
                         const std::string& birdFilePath, uint32_t baudRate, bool resetAfter);
    // Why the last Get_Fingerprint could not open its serial port, as a line for
    // the user naming the port and the system's reason; empty when it could.
    const std::string& portProblem() const { return m_portProblem; }

    // -B: the builds the server offers for a device (none is an answer too); false,
    // with builds empty, when the server could not be asked.
    bool Get_BuildList(uint32_t serialNumber, BuildList& builds);
    // -L: the builds stored for a device.
    BuildList Get_BuildListLocal(uint32_t serialNumber);

    // -I: shows a device's stored record (its attributes and stored builds); false,
    // with the reason shown, when the store does not hold the device or its attributes
    // file cannot be read.
    bool Show_DeviceInfo(uint32_t serialNumber);
    // -C: loads a BIRD file and shows its identity and blocks; false, with the
    // reason shown, when it does not load.
    bool Check_BirdFile(const std::string& path);

  private:
    // Whether the firmware file at path may be stored or sent under the signature
    // policy; a refusal has been said on standard error.
    bool admitFirmware(const std::string& path);
    // The same for a loaded file, which is then replaced by the bytes that were
    // checked, so the file sent is the file verified.
    bool admitFirmware(BirdFile& file);
    // For a download: the build's signature asked of the server, checked against
    // the length bytes. True when the build may be stored; signature then holds the
    // signature file's text ("" when an unsigned build was allowed).
    bool admitDownload(uint32_t serialNumber, const std::string& firmwareId, const std::string& build,
                       bool noCal, const uint8_t* bytes, size_t length, std::string& signature);
    // Stores a download's signature beside its file (fileName + ".minisig"); with
    // signatures required and none given, removes one left from an earlier download.
    aErr storeSignature(UpdaterStore& store, DeviceRecord& record, const std::string& fileName,
                        const std::string& signature);
    // -I: the signature status of each stored build, when signatures are required.
    void showStoredSignatures(UpdaterStore& store, uint32_t serialNumber);
    // -C and -I: a firmware file's signature status, when signatures are required;
    // false when it is bad.
    bool showSignature(const std::string& label, const std::string& path);

    // i.MX identification: loads the liveloader through the chip's boot ROM, reads
    // the chip identifier from it and, when resetAfter, restarts the chip into its
    // ROM; otherwise the liveloader keeps running for the firmware transfer.
    bool _get_fingerprint_imx(const std::string& port, uint32_t serialNumber, const std::string& birdFilePath,
                              bool resetAfter, uint32_t fingerprint[4]);
    // The file that carries the liveloader: the one at birdFilePath, else the
    // device's latest download, downloaded first when the store has none. Throws
    // std::runtime_error when there is none.
    BirdFile liveloaderFile(UpdaterStore& store, uint32_t serialNumber, const std::string& birdFilePath);

    // Connects router (routing to this host) and target through it, finding the
    // target's bus address on the router's bus when it has none; false once the
    // failure is shown.
    bool connectThroughRouter(Veltrano::Halvorine::Module& router, Veltrano::Halvorine::Module& target,
                              uint32_t serialNumber, uint32_t routerSerialNumber);
    // Records a successful transfer in the device's attributes; found is the
    // record the store held before the update, or null.
    void recordTransfer(UpdaterStore& store, DeviceRecord* found, uint32_t serialNumber,
                        const std::string& transferred);

    std::string m_serverEndpoint;
    std::string m_storeRoot;
    UpdaterDisplayInterface* m_display; // not owned
    uint8_t m_recoveryDeviceKind = 0;
    std::string m_portProblem;
    SignaturePolicy m_signatures;
    // Image data as UEI values in a transfer (-m), where the module takes them.
    bool m_useUEIData = false;
    UpdateResult* m_updateResult = nullptr;
};

// Prints the -D table.
void printDiscoveredDevices(UpdaterDisplayInterface* display, const DiscoveredDeviceList& list,
                            uint32_t transport);
// Prints a -B or -L listing.
void printBuildList(UpdaterDisplayInterface* display, const BuildList& list, uint32_t serialNumber);

#endif
