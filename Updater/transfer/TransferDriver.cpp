// The transfer driver: the UPGRADE steps in the order an update needs them.
#include "TransferDriver.h"

#include <string>
#include <vector>

#include "SystemClass.h"
#include "UpdaterEntity.h"
#include "UpdaterLog.h"
#include "aDefs.h"

using Veltrano::Halvorine::Module;
using Veltrano::Halvorine::SystemClass;

bool UpdateFirmware(UpdaterDisplayInterface* display, const BirdFile& birdFile, Module* module,
                    uint32_t serialNumber) {
    if (birdFile.blockCount() == 0) return false;
    // A file without serial-number locations was built for one module only.
    if (!birdFile.hasSerialLocations() && !birdFile.matchesSerialNumber(serialNumber)) return false;
    updaterLog(DEBUG_Updater, "UpdateFirmware() Connecting to device\n");

    SystemClass system;
    system.init(module, 0);
    unsigned int moduleSerial = 0;
    aErr err = system.getSerialNumber(&moduleSerial);
    if (err != aErrNone) moduleSerial = 0;
    if (moduleSerial != serialNumber) {
        updaterLog(DEBUG_Updater, "Bird serial number and connected device don't match (%d).\n", err);
        return false;
    }

    unsigned char model = 0;
    err = system.getModel(&model);
    if (err != aErrNone) model = 0;
    const char* modelName = aDefs_GetModelName(model);
    if (!birdFile.matchesModelName(modelName)) {
        displayPrintf(display, 1, "Connected device model and Bird file model do not match [%s] (%d)",
                      modelName, err);
        return false;
    }
    return true;
}

aErr TransferLoaderBlocks(UpdaterDisplayInterface* display, Module* module, const BirdFile& birdFile) {
    UpdaterEntity entity(module, 0, true, false);
    aErr err = entity.LoaderInit();
    if (err != aErrNone) {
        updaterLog(DEBUG_Updater, "Error starting loader [%d, %s].\n", err, aError_GetErrorText(err));
        return err;
    }

    displayPrintf(display, 0, "Transferring loader to device");
    const std::vector<BirdBlock> blocks = birdFile.blocksOfType(birdLoaderImage);
    const int count = static_cast<int>(blocks.size());
    if (display) display->clearLine(true);

    int sent = 0;
    unsigned int total = 0;
    // A loader missing a block must never run: the first error is kept.
    aErr firstError = aErrNone;
    for (const BirdBlock& block : blocks) {
        displayPrintf(display, 0, "Transferring loader block %d of %d, %d bytes", sent + 1, count,
                      static_cast<int>(block.length));
        unsigned short blockSize = 0;
        err = entity.TransferPrepare(block.payload, block.length, block.flags, &blockSize);
        if (err != aErrNone && err != aErrTimeout) {
            updaterLog(DEBUG_Updater, "Error Preparing transfer [%d, %s].\n", err, aError_GetErrorText(err));
            if (firstError == aErrNone) firstError = err;
            break;
        }
        // An unanswered PREPARE is tolerated: the block is still sent.
        err = entity.LoaderTransfer(block.payload, block.length);
        if (err != aErrNone) {
            updaterLog(DEBUG_Updater, "Error loader transfer [%d, %s].\n", err, aError_GetErrorText(err));
            if (firstError == aErrNone) firstError = err;
            continue;
        }
        total += block.length;
        ++sent;
    }

    displayPrintf(display, 0, "Transferred %d blocks, %d total bytes", sent, static_cast<int>(total));
    if (display) display->clearLine(false);
    if (firstError != aErrNone) {
        updaterLog(DEBUG_Updater, "Loader not started: a loader block failed [%d, %s].\n", firstError,
                   aError_GetErrorText(firstError));
        return firstError;
    }

    displayPrintf(display, 0, "Starting Load on Device");
    err = entity.LoaderStart();
    if (err == aErrTimeout) {
        updaterLog(DEBUG_Updater,
                   "Timeout on LoaderStart. Usually indicates this is an iMX Load ignore err.\n");
        return aErrNone;
    }
    if (err != aErrNone)
        displayPrintf(display, 1, "Error starting loader [%d, %s]", err, aError_GetErrorText(err));
    return err;
}

namespace {

// One firmware block, tried up to kFirmwareBlockAttempts times. A refused or
// unanswered PREPARE ends the transfer at once.
aErr sTransferFirmwareBlock(UpdaterDisplayInterface* display, UpdaterEntity& entity, const BirdBlock& block,
                            unsigned int k, unsigned int blockCount) {
    for (int attempt = 0;; ++attempt) {
        displayPrintf(display, 0, "Transferring firmware block %u of %u, %d bytes", k, blockCount,
                      static_cast<int>(block.length));
        if (attempt > 0) displayPrintf(display, 0, "  Retry %d", attempt);
        unsigned short blockSize = 0;
        aErr err = entity.TransferPrepare(block.payload, block.length, block.flags, &blockSize);
        if (err != aErrNone) {
            updaterLog(DEBUG_Updater, "Error firmware transfer init: [%d, %s].\n", err,
                       aError_GetErrorText(err));
            updaterLog(DEBUG_Updater, "Error firmware transfer block failed.\n");
            return err;
        }
        err = entity.FirmwareTransfer(block.payload, block.length, blockSize, display);
        if (err == aErrNone) return aErrNone;
        updaterLog(DEBUG_Updater, "Error firmware transfer [%d, %s].\n", err, aError_GetErrorText(err));
        if (attempt + 1 >= kFirmwareBlockAttempts) {
            updaterLog(DEBUG_Updater, "Error firmware transfer block failed.\n");
            return err;
        }
    }
}

} // namespace

aErr TransferFirmwareBlocks(UpdaterDisplayInterface* display, Module* module, const BirdFile& birdFile,
                            bool skipLinkDropWait, bool useUEIData) {
    UpdaterEntity entity(module, 0, true, skipLinkDropWait);
    // Without UEI support the data simply goes in DATA packets.
    if (useUEIData && entity.CheckUEIDataSupport() == aErrNone) entity.CheckProtocolFeatures();

    updaterLog(DEBUG_Updater, "Transferring firmware to device %s\n", birdFile.filename().c_str());
    const std::vector<BirdBlock> blocks = birdFile.blocksOfType(birdFirmwareImage);
    const unsigned int count = static_cast<unsigned int>(blocks.size());

    aErr err = aErrNone;
    unsigned int done = 0;
    unsigned int total = 0;
    for (const BirdBlock& block : blocks) {
        err = sTransferFirmwareBlock(display, entity, block, done + 1, count);
        if (err != aErrNone) break;
        total += block.length;
        ++done;
    }
    displayPrintf(display, 0, "Transferred %d blocks, %d total bytes", static_cast<int>(done),
                  static_cast<int>(total));
    if (err == aErrNone) err = entity.LoaderReboot(display);
    return err;
}
