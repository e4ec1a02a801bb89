// One typed block of a loaded BIRD file.
#ifndef UPDATERLIB_BIRDBLOCK_H
#define UPDATERLIB_BIRDBLOCK_H

#include "BirdFormat.h"
#include "aDefs.h"

// Block types the updater understands. Other types are kept but otherwise ignored.
enum BirdBlockType : uint8 {
    birdLoaderImage = 0,     // load address + image, sent before the firmware
    birdFirmwareImage = 1,   // load address + image
    birdSerialLocations = 2, // where the module's serial number lives in the image
    birdIdentity = 4,        // version, target serial number and model name
    birdStartAddress = 5     // execution address for the i.MX recovery loader
};

// A view of one block inside its file's inflated body. It owns nothing: it stays
// valid while the BirdFile it came from lives and is neither reloaded nor moved from.
struct BirdBlock {
    uint8 type = 0;
    uint8 flags = 0;
    // Payload length, including the four address bytes of image blocks.
    uint32 length = 0;
    // Load address of image blocks (their first four payload bytes); 0 otherwise.
    uint32 address = 0;
    // First payload byte.
    const uint8* payload = nullptr;

    bool isImage() const { return type == birdLoaderImage || type == birdFirmwareImage; }
    // The image bytes of a loader or firmware block (the payload after its address).
    const uint8* image() const {
        return isImage() && length >= birdFormat::addressSize ? payload + birdFormat::addressSize : nullptr;
    }
    uint32 imageLength() const {
        return isImage() && length >= birdFormat::addressSize ? length - uint32(birdFormat::addressSize) : 0;
    }
};

#endif
