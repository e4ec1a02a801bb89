// Recovery of a serial ISP chip: identification by its unique id, and programming
// of its flash through the boot ROM's RAM buffer.
#include <algorithm>
#include <vector>

#include "NXPSerial.h"
#include "Recovery.h"
#include "UpdaterLog.h"

namespace {

// The flash the sector map covers; a copy must start on a 256-byte boundary.
constexpr uint32_t kFlashEnd = 0x80000;
constexpr uint32_t kCopyAlignment = 0x100;
constexpr uint32_t kPieceBytes = 4096;
constexpr uint32_t kLastSector = 29;
// A firmware block whose image is exactly this long ends the firmware.
constexpr uint32_t kEndMarkerBytes = 4;

// The firmware blocks to write: type-1 blocks up to the end marker.
std::vector<BirdBlock> writableBlocks(const BirdFile& file) {
    std::vector<BirdBlock> blocks;
    for (const BirdBlock& block : file.blocksOfType(birdFirmwareImage)) {
        if (block.imageLength() == kEndMarkerBytes) break;
        blocks.push_back(block);
    }
    return blocks;
}

// Whether every piece of the block lands where the chip can copy it.
bool fitsFlash(const BirdBlock& block) {
    if (block.address % kCopyAlignment != 0 || block.address >= kFlashEnd) return false;
    uint32_t last = block.imageLength() == 0 ? 0 : block.imageLength() - 1;
    uint32_t lastPiece = last - last % kPieceBytes;
    uint32_t tail = block.imageLength() - lastPiece;
    return uint64_t(block.address) + lastPiece + NXPSerial::copyLength(tail) <= kFlashEnd;
}

// Whether two blocks claim the same flash bytes: programming only clears bits, so
// the flash would hold neither image.
bool overlapping(std::vector<BirdBlock> blocks) {
    std::sort(blocks.begin(), blocks.end(),
              [](const BirdBlock& a, const BirdBlock& b) { return a.address < b.address; });
    for (size_t i = 1; i < blocks.size(); ++i) {
        if (uint64_t(blocks[i - 1].address) + blocks[i - 1].imageLength() > blocks[i].address) {
            updaterLog(DEBUG_Updater, "Firmware blocks at 0x%08X and 0x%08X overlap\n", blocks[i - 1].address,
                       blocks[i].address);
            return true;
        }
    }
    return false;
}

// The file must hold firmware the chip can take before anything is erased: a chip
// left blank is worse off than one with broken firmware.
bool hasWritableFirmware(const BirdFile& file) {
    std::vector<BirdBlock> blocks;
    for (const BirdBlock& block : writableBlocks(file)) {
        if (block.imageLength() == 0) continue;
        if (!fitsFlash(block)) {
            updaterLog(DEBUG_Updater, "Firmware block at 0x%08X does not fit the chip's flash\n",
                       block.address);
            return false;
        }
        blocks.push_back(block);
    }
    return !blocks.empty() && !overlapping(blocks);
}

bool eraseChip(NXPSerial& chip) {
    updaterLog(DEBUG_Updater, "\n\tUnlock Memory:\n");
    if (chip.Unlock() != aErrNone) {
        updaterLog(DEBUG_Network, "Could not unlock\n");
        return false;
    }
    updaterLog(DEBUG_Updater, "\n\tPrepare ALL memory for update:\n");
    if (chip.Prepare(0, kLastSector) != aErrNone) {
        updaterLog(DEBUG_Network, "Could not prepare\n");
        return false;
    }
    updaterLog(DEBUG_Updater, "\n\tErase all memory before update:\n");
    if (chip.Erase(0, kLastSector) != aErrNone) {
        updaterLog(DEBUG_Network, "Could not erase\n");
        return false;
    }
    return true;
}

// One piece of at most 4096 bytes: into the RAM buffer, then copied to flash. The
// whole copied range goes through RAM, padded with the erased value, so the flash
// never takes stale RAM bytes past the image.
bool writePiece(NXPSerial& chip, uint32_t address, const uint8_t* bytes, uint32_t size) {
    const uint32_t ram = kNXPChip.ramBuffer;
    const uint32_t copied = NXPSerial::copyLength(size);
    std::vector<uint8_t> padded(bytes, bytes + size);
    padded.resize(copied, 0xFF);
    updaterLog(DEBUG_Updater, "Transferring firmware %d bytes to address 0x%08X\n", size, address);
    updaterLog(DEBUG_Updater, "\t Write %d bytes to address 0x%08X\n", size, ram);
    if (chip.Write(ram, copied, padded.data()) != aErrNone) {
        updaterLog(DEBUG_Updater, "\t Write to RAM failed\n");
        return false;
    }
    const uint32_t first = NXPSerial::sectorOf(address), last = NXPSerial::sectorOf(address + copied - 1);
    updaterLog(DEBUG_Updater, "\t Prepare to copy to sector(s) %d to %d\n", first, last);
    if (chip.Prepare(first, last) != aErrNone) {
        updaterLog(DEBUG_Updater, "\t Prepare failed\n");
        return false;
    }
    updaterLog(DEBUG_Updater, "\t Copy %d bytes from %08X to %08X\n", copied, ram, address);
    if (chip.Copy(address, ram, copied) != aErrNone) {
        updaterLog(DEBUG_Updater, "\t Transfer to flash failed\n");
        return false;
    }
    return true;
}

bool writeBlock(UpdaterDisplayInterface* display, NXPSerial& chip, const BirdBlock& block, int number,
                int shown) {
    const uint32_t size = block.imageLength();
    displayPrintf(display, 0, "Transferring firmware block %d of %d, %d bytes", number, shown, size);
    display->clearLine(true);
    updaterLog(DEBUG_Updater, "Transferring firmware block: %d bytes to address 0x%08X\n", size,
               block.address);
    for (uint32_t done = 0; done < size;) {
        const uint32_t piece = std::min(kPieceBytes, size - done);
        if (!writePiece(chip, block.address + done, block.image() + done, piece)) return false;
        done += piece;
        display->showProgress(static_cast<double>(done) / size, nullptr);
    }
    display->clearLine(false);
    return true;
}

} // namespace

bool _get_fingerprint_serial(const std::string& port, uint32_t baud, uint32_t fingerprint[4]) {
    NXPSerial chip;
    aErr err = chip.Open(port, baud);
    if (err != aErrNone) {
        updaterLog(DEBUG_APP, "ERROR %d ==> Could not open serial port\n", err);
        return false;
    }
    updaterLog(DEBUG_APP, "\n\tSync to Device:\n");
    // A chip an earlier run identified is still synchronised: it takes "?" for the
    // start of a command, and is taken up as it is.
    if ((err = chip.Sync()) != aErrNone && chip.Resume() != aErrNone) {
        updaterLog(DEBUG_APP, "ERROR %d ==> Could not communicate with device over serial port\n", err);
        return false;
    }
    updaterLog(DEBUG_APP, "\n\tGet Info from Device:\n");
    if (chip.ReadUID() != aErrNone) {
        updaterLog(DEBUG_APP, "\tERROR ==> Got no response from chip\n");
        return false;
    }
    std::copy(chip.uid(), chip.uid() + 4, fingerprint);
    return true;
}

namespace {

// Erases the chip and writes the firmware blocks into its flash; the chip is
// still in its ROM afterwards, echo off.
bool programFlash(UpdaterDisplayInterface* display, NXPSerial& chip, const BirdFile& file,
                  const std::string& port, uint32_t baud) {
    if (chip.Open(port, baud) != aErrNone) {
        updaterLog(DEBUG_Network, "Could not connect to %s\n", port.c_str());
        return false;
    }
    if (!eraseChip(chip)) return false;
    chip.SetEcho(false);
    updaterLog(DEBUG_Updater, "Updating device firmware: \n");
    updaterLog(DEBUG_Updater, "Transferring firmware to device from [%s]\n", file.filename().c_str());

    // The blocks written: those before the end marker (a file need not have one).
    const std::vector<BirdBlock> blocks = writableBlocks(file);
    const int shown = static_cast<int>(blocks.size());
    uint32_t total = 0;
    int number = 1;
    for (const BirdBlock& block : blocks) {
        if (!writeBlock(display, chip, block, number++, shown)) return false;
        total += block.imageLength();
    }
    displayPrintf(display, 0, "Transferred %d blocks, %d total bytes", shown, total);
    return true;
}

} // namespace

bool _recover_serial(UpdaterDisplayInterface* display, const BirdFile& file, const std::string& port,
                     uint32_t baud) {
    if (!hasWritableFirmware(file)) {
        displayPrintf(display, 1, "The recovery file holds no firmware the chip can take");
        return false;
    }
    NXPSerial chip;
    // The log says which step failed; the user learns that the transfer did.
    if (!programFlash(display, chip, file, port, baud)) {
        displayPrintf(display, 1, "Failed to transfer firmware");
        return false;
    }
    aErr err = chip.SetEcho(true);
    if (err != aErrNone) {
        displayPrintf(display, 1, "Recovery Error transfering data to device ==> [%d, %s]", err,
                      aError_GetErrorText(err));
        return false;
    }
    displayPrintf(display, 0, "Rebooting Device");
    chip.Go(0);
    return true;
}
