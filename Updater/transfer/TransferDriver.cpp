// The transfer driver: the UPGRADE steps in the order an update needs them.
#include "TransferDriver.h"

#include <string>
#include <vector>

#include "SystemClass.h"
#include "UpdaterEntity.h"
#include "UpdaterLog.h"
#include "aDefs.h"
#include "aTime.h"

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

// How long a link that dropped during the firmware phase is tried again where
// it was reached, and how long a link that resynchronises is waited for.
constexpr uint32_t kLinkReturnMs = 15000;
constexpr uint32_t kLinkReturnPauseMs = 250;
constexpr uint32_t kLinkRunningMs = 3000;
constexpr uint32_t kLinkPollMs = 10;

// Opens the module's link again from its stored specifier (the transport it was
// reached on) within kLinkReturnMs.
aErr sReconnect(Module* module) {
    const uint32_t start = aTime_GetMSTicks();
    aErr err = aErrConnection;
    do {
        // A half-made connection would make every later attempt fail.
        module->disconnect();
        err = module->reconnect();
        if (err == aErrNone && module->isConnected()) {
            updaterLog(DEBUG_Updater, "Reconnected to the module's loader.\n");
            return aErrNone;
        }
        if (err == aErrNone) err = aErrConnection;
        aTime_MSSleep(kLinkReturnPauseMs);
    } while (aTime_GetMSTicks() - start < kLinkReturnMs);
    module->disconnect();
    return err;
}

// Makes the module's link ready for another attempt at a block: opened again when
// it dropped, running again when it resynchronises (both bounded), and without the
// replies that came too late for the failed attempt.
aErr sReadyForRetry(Module* module) {
    aErr err = module->isConnected() ? aErrNone : sReconnect(module);
    if (err != aErrNone) {
        updaterLog(DEBUG_Updater, "Error reaching the module again [%d, %s].\n", err,
                   aError_GetErrorText(err));
        return err;
    }
    const uint32_t start = aTime_GetMSTicks();
    while (module->getStatus() != RUNNING && aTime_GetMSTicks() - start < kLinkRunningMs)
        aTime_MSSleep(kLinkPollMs);
    if (Veltrano::Halvorine::Link* link = module->getLink()) {
        const unsigned char upgrade[1] = {UpdaterEntity::cmdUPGRADE};
        link->dropMatchingPackets(module->getModuleAddress(), upgrade, sizeof upgrade);
    }
    return aErrNone;
}

// One firmware block, tried up to kFirmwareBlockAttempts times, its PREPARE
// included: a reply lost or late once (a module busy erasing) costs one attempt.
aErr sTransferFirmwareBlock(UpdaterDisplayInterface* display, Module* module, UpdaterEntity& entity,
                            const BirdBlock& block, unsigned int k, unsigned int blockCount) {
    for (int attempt = 0;; ++attempt) {
        displayPrintf(display, 0, "Transferring firmware block %u of %u, %d bytes", k, blockCount,
                      static_cast<int>(block.length));
        if (attempt > 0) displayPrintf(display, 0, "  Retry %d", attempt);
        unsigned short blockSize = 0;
        aErr err = entity.TransferPrepare(block.payload, block.length, block.flags, &blockSize);
        if (err != aErrNone) {
            updaterLog(DEBUG_Updater, "Error firmware transfer init: [%d, %s].\n", err,
                       aError_GetErrorText(err));
        } else {
            err = entity.FirmwareTransfer(block.payload, block.length, blockSize, display);
            if (err == aErrNone) return aErrNone;
            updaterLog(DEBUG_Updater, "Error firmware transfer [%d, %s].\n", err, aError_GetErrorText(err));
        }
        // A block too short for its address never gets better.
        if (err == aErrSize || attempt + 1 >= kFirmwareBlockAttempts) {
            updaterLog(DEBUG_Updater, "Error firmware transfer block failed.\n");
            return err;
        }
        aErr ready = sReadyForRetry(module);
        if (ready != aErrNone) {
            updaterLog(DEBUG_Updater, "Error firmware transfer block failed.\n");
            return ready;
        }
    }
}

} // namespace

aErr TransferFirmwareBlocks(UpdaterDisplayInterface* display, Module* module, const BirdFile& birdFile,
                            bool skipLinkDropWait, bool useUEIData, FirmwareTransferReport* report) {
    FirmwareTransferReport local;
    if (!report) report = &local;
    *report = FirmwareTransferReport();
    UpdaterEntity entity(module, 0, true, skipLinkDropWait);
    // Without UEI support the data simply goes in DATA packets.
    if (useUEIData && entity.CheckUEIDataSupport() == aErrNone) entity.CheckProtocolFeatures();
    report->ueiData = entity.useUEIData();

    updaterLog(DEBUG_Updater, "Transferring firmware to device %s\n", birdFile.filename().c_str());
    const std::vector<BirdBlock> blocks = birdFile.blocksOfType(birdFirmwareImage);
    const unsigned int count = static_cast<unsigned int>(blocks.size());
    report->blocks = count;

    aErr err = aErrNone;
    unsigned int done = 0;
    unsigned int total = 0;
    for (const BirdBlock& block : blocks) {
        err = sTransferFirmwareBlock(display, module, entity, block, done + 1, count);
        if (err != aErrNone) {
            report->failedBlock = done + 1;
            break;
        }
        total += block.length;
        ++done;
    }
    report->done = done;
    displayPrintf(display, 0, "Transferred %d blocks, %d total bytes", static_cast<int>(done),
                  static_cast<int>(total));
    if (err == aErrNone) {
        err = entity.LoaderReboot(display);
        report->rebootFailed = err != aErrNone;
        report->linkDropped = entity.linkDroppedAtReboot();
    }
    return err;
}
