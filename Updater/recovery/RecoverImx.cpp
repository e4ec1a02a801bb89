// Recovery of an i.MX chip: its boot ROM loads the liveloader from the file's
// loader blocks, and the liveloader, a module on USB, takes the firmware.
#include <memory>
#include <vector>

#include "DirectNetworkConfig.h"
#include "HID_SDPLoader.h"
#include "Module.h"
#include "Recovery.h"
#include "SDPProtocol.h"
#include "Serial_SDPLoader.h"
#include "TransferDriver.h"
#include "UpdaterLog.h"
#include "aTime.h"

using Veltrano::Halvorine::Module;

const char kUsbPortName[] = "USB";

namespace {

// The i.MX boot ROM on USB.
constexpr uint16_t kImxRomVendorId = 0x1FC9;
constexpr uint16_t kImxRomProductId = 0x0130;
constexpr int kConnectAttempts = 15;
constexpr uint32_t kConnectPauseMs = 1000;

std::unique_ptr<SDPLoader_Interface> romTransport(const std::string& port) {
    if (port == kUsbPortName) return std::make_unique<HID_SDPLoader>(kImxRomVendorId, kImxRomProductId);
    return std::make_unique<Serial_SDPLoader>(port);
}

} // namespace

bool connectLiveloader(Module& module, uint32_t serialNumber) {
    for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
        if (module.discoverAndConnect(USB, kPlaceholderSerialNumber) == aErrNone && module.isConnected())
            return true;
        if (serialNumber != kPlaceholderSerialNumber &&
            module.discoverAndConnect(USB, serialNumber) == aErrNone && module.isConnected())
            return true;
        aTime_MSSleep(kConnectPauseMs);
    }
    return false;
}

uint32_t liveloaderStartAddress(const BirdFile& file) {
    return file.startAddress().value_or(kDefaultImxStartAddress);
}

bool startsInLoader(const BirdFile& file) {
    const uint64_t start = liveloaderStartAddress(file);
    for (const BirdBlock& block : file.blocksOfType(birdLoaderImage))
        if (start >= block.address && start < uint64_t(block.address) + block.imageLength()) return true;
    return false;
}

aErr _load_liveloader(const BirdFile& file, const std::string& port, uint32_t* jumpRefusal) {
    updaterLog(DEBUG_Updater, "Transfer Loader via Serial Interface (iMX):\n");
    // A jump into RAM the file did not fill runs whatever is there: the chip is then
    // lost until it is powered off.
    if (!startsInLoader(file)) {
        updaterLog(DEBUG_Updater, "The start address 0x%08X lies in no loader block\n",
                   liveloaderStartAddress(file));
        return aErrNotFound;
    }
    SDPProtocol rom;
    rom.setLoader(romTransport(port));
    if (!rom.openLoader()) return aErrNotReady;
    int number = 0;
    for (const BirdBlock& block : file.blocksOfType(birdLoaderImage)) {
        std::vector<uint8_t> data(block.image(), block.image() + block.imageLength());
        updaterLog(DEBUG_Updater, "Writting Block: %d, size %zu, address: %d\b", number++, data.size(),
                   block.address);
        if (rom.sdpWriteFile(block.address, data) != 0) return aErrConnection;
    }
    // A ROM that will not start the loader says so at once; waiting for a module
    // that cannot come would only cost the user the discovery's time.
    if (!rom.sdpJumpAddress(liveloaderStartAddress(file), jumpRefusal)) return aErrPermission;
    return aErrNone;
}

bool _recover_imx(UpdaterDisplayInterface* display, const BirdFile& file, uint32_t serialNumber,
                  bool useUEIData) {
    Module module(0, 0);
    if (setDirectNetworkConfig(&module, display) != aErrNone) {
        displayPrintf(display, 1, "Failed to SET network configuration");
        displayPrintf(display, 1, "Failed to transfer firmware");
        return false;
    }
    if (!connectLiveloader(module, serialNumber)) {
        displayPrintf(display, 1, "Could not connect to device");
        return false;
    }
    if (TransferFirmwareBlocks(display, &module, file, false, useUEIData) != aErrNone) {
        displayPrintf(display, 1, "Failed to transfer firmware");
        return false;
    }
    return true;
}
