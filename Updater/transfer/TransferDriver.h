// The transfer driver: checks that a BIRD file fits the connected module, sends
// its loader images and starts the loader, then sends its firmware images (each
// block tried up to five times) and reboots the module into them. Messages go to
// the display; diagnostics to the log under DEBUG_Updater.
#ifndef UPDATER_TRANSFERDRIVER_H
#define UPDATER_TRANSFERDRIVER_H

#include <cstdint>

#include "BirdFile.h"
#include "Module.h"
#include "UpdaterDisplayInterface.h"

// Attempts per firmware block before the transfer is given up.
constexpr int kFirmwareBlockAttempts = 5;

// True when the file may go into the module: it has blocks, it is made for any
// module or for serialNumber, and the module reports serialNumber and a model
// whose name the file's model name starts with. Nothing is sent to the loader.
bool UpdateFirmware(UpdaterDisplayInterface* display, const BirdFile& birdFile,
                    Veltrano::Halvorine::Module* module, uint32_t serialNumber);

// Sends the loader blocks (type 0) and starts the loader. A loader with a block
// that failed is never started: the first block error is the result. A LOAD left
// unanswered (a module that restarts into its loader in silence) is success.
aErr TransferLoaderBlocks(UpdaterDisplayInterface* display, Veltrano::Halvorine::Module* module,
                          const BirdFile& birdFile);

// How a firmware transfer went, for the caller's account of a failure.
struct FirmwareTransferReport {
    unsigned int blocks = 0;      // firmware blocks in the file
    unsigned int done = 0;        // blocks transferred
    unsigned int failedBlock = 0; // the block given up (from 1); 0: none
    bool rebootFailed = false;    // every block went, the reboot request did not
    bool linkDropped = false;     // the link dropped after the reboot request
    bool ueiData = false;         // image data went as UEI values
};

// Sends the firmware blocks (type 1), then asks the module to reboot into them.
// Each block is tried up to kFirmwareBlockAttempts times, PREPARE included;
// before another attempt a link that dropped is opened again where it was
// reached, one that resynchronises is waited for (both bounded), and late
// replies are dropped. skipLinkDropWait: the link does not drop at the reboot (a
// module behind a router). useUEIData: send image data as UEI values where the
// module can take them. report, when given, says how far it went.
aErr TransferFirmwareBlocks(UpdaterDisplayInterface* display, Veltrano::Halvorine::Module* module,
                            const BirdFile& birdFile, bool skipLinkDropWait, bool useUEIData,
                            FirmwareTransferReport* report = nullptr);

#endif
