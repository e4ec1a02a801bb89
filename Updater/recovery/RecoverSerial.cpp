// Recovery of a serial ISP chip: identification by its unique id, and programming
// of its flash through the boot ROM's RAM buffer.
#include <algorithm>
#include <vector>

#include "ISPReply.h"
#include "NXPSerial.h"
#include "Recovery.h"
#include "UpdaterLog.h"
#include "VectorChecksum.h"

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
    // Without a vector table at 0 the ROM would never start what was written. One cut
    // short would get a valid checksum over the erased words after it: the ROM would
    // then jump to 0xFFFFFFFF at every reset instead of staying in ISP.
    const bool hasVectors = std::any_of(blocks.begin(), blocks.end(), [](const BirdBlock& b) {
        return b.address == 0 && b.imageLength() >= kVectorTableBytes;
    });
    if (!hasVectors)
        updaterLog(DEBUG_Updater, "No firmware block holds the whole vector table at address 0\n");
    return hasVectors && !overlapping(blocks);
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

// One piece of at most 4096 bytes as it goes to the chip: the whole copied range,
// padded with the erased value, so the flash never takes stale RAM bytes past the
// image.
struct Piece {
    uint32_t address;
    uint32_t size; // image bytes in it
    std::vector<uint8_t> bytes;
};

// The padding takes the bytes of any other block it reaches over: programming
// only clears bits, so erased-value padding copied after that block was written
// would not match the RAM it came from, and the comparison would fail with the
// chip already erased (the vector table's piece always goes last).
Piece makePiece(uint32_t address, const uint8_t* image, uint32_t size, const std::vector<BirdBlock>& blocks) {
    Piece piece{address, size, std::vector<uint8_t>(image, image + size)};
    piece.bytes.resize(NXPSerial::copyLength(size), 0xFF);
    const uint64_t padStart = uint64_t(address) + size, padEnd = uint64_t(address) + piece.bytes.size();
    for (const BirdBlock& other : blocks) {
        const uint64_t start = std::max<uint64_t>(other.address, padStart);
        const uint64_t end = std::min<uint64_t>(uint64_t(other.address) + other.imageLength(), padEnd);
        for (uint64_t at = start; at < end; ++at)
            piece.bytes[at - address] = other.image()[at - other.address];
    }
    return piece;
}

// Into the RAM buffer, copied to flash, and the flash compared with the RAM it
// came from.
bool writePiece(NXPSerial& chip, const Piece& piece) {
    const uint32_t ram = kNXPChip.ramBuffer;
    const uint32_t address = piece.address, copied = static_cast<uint32_t>(piece.bytes.size());
    updaterLog(DEBUG_Updater, "Transferring firmware %d bytes to address 0x%08X\n", piece.size, address);
    updaterLog(DEBUG_Updater, "\t Write %d bytes to address 0x%08X\n", piece.size, ram);
    if (chip.Write(ram, copied, piece.bytes.data()) != aErrNone) {
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
    if (chip.Compare(address, ram, copied) != aErrNone) {
        updaterLog(DEBUG_Updater, "\t Flash at 0x%08X does not hold what was copied\n", address);
        return false;
    }
    return true;
}

// The piece that holds the vector table, kept back until everything else is in
// flash: until it is written the table is blank, so the ROM keeps the chip in ISP
// rather than start half-written firmware. Its checksum word is set in the copy
// sent, as the ROM wants it (the file is left as it is).
class VectorPiece {
  public:
    bool held() const { return held_; }
    const Piece& piece() const { return piece_; }

    void hold(UpdaterDisplayInterface* display, Piece piece) {
        const uint32_t stored = storedVectorChecksum(piece.bytes.data());
        setVectorChecksum(piece.bytes.data());
        const uint32_t valid = storedVectorChecksum(piece.bytes.data());
        if (stored != valid)
            displayPrintf(display, 1,
                          "Setting the vector table checksum at 0x1C to 0x%08X (the file holds 0x%08X)",
                          valid, stored);
        piece_ = std::move(piece);
        held_ = true;
    }

  private:
    bool held_ = false;
    Piece piece_{0, 0, {}};
};

bool writeBlock(UpdaterDisplayInterface* display, NXPSerial& chip, const BirdBlock& block,
                const std::vector<BirdBlock>& blocks, int number, int shown, VectorPiece& vectors) {
    const uint32_t size = block.imageLength();
    displayPrintf(display, 0, "Transferring firmware block %d of %d, %d bytes", number, shown, size);
    display->clearLine(true);
    updaterLog(DEBUG_Updater, "Transferring firmware block: %d bytes to address 0x%08X\n", size,
               block.address);
    for (uint32_t done = 0; done < size;) {
        const uint32_t n = std::min(kPieceBytes, size - done);
        Piece piece = makePiece(block.address + done, block.image() + done, n, blocks);
        if (piece.address == 0)
            vectors.hold(display, std::move(piece));
        else if (!writePiece(chip, piece))
            return false;
        done += n;
        display->showProgress(static_cast<double>(done) / size, nullptr);
    }
    display->clearLine(false);
    return true;
}

// Erases the sector of the vector table again after a failure that may have
// written it, so the chip stays in its ROM at the next reset.
void blankVectorTable(NXPSerial& chip) {
    if (chip.Prepare(0, 0) != aErrNone || chip.Erase(0, 0) != aErrNone)
        updaterLog(DEBUG_Updater, "\t Could not erase the vector table again\n");
}

} // namespace

bool _get_fingerprint_serial(const std::string& port, uint32_t baud, uint32_t fingerprint[4],
                             std::string* portProblem) {
    NXPSerial chip;
    aErr err = chip.Open(port, baud);
    if (err != aErrNone) {
        updaterLog(DEBUG_APP, "ERROR %d ==> Could not open serial port\n", err);
        if (portProblem) *portProblem = "Could not open serial port " + port + ": " + chip.openFailure();
        return false;
    }
    updaterLog(DEBUG_APP, "\n\tSync to Device:\n");
    // A chip an earlier run identified is still synchronised: it echoes "?" as the
    // start of a command, and is taken up as it is. A chip that answered nothing
    // may still be auto-bauding: it is sent nothing but "?".
    if ((err = chip.Sync()) != aErrNone && (!chip.answeredAsSynchronised() || chip.Resume() != aErrNone)) {
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
    VectorPiece vectors;
    for (const BirdBlock& block : blocks) {
        if (!writeBlock(display, chip, block, blocks, number++, shown, vectors)) return false;
        total += block.imageLength();
    }
    if (!vectors.held() || !writePiece(chip, vectors.piece())) {
        blankVectorTable(chip);
        return false;
    }
    displayPrintf(display, 0, "Transferred %d blocks, %d total bytes", shown, total);
    // Every piece was compared with what was sent before the next one went.
    displayPrintf(display, 0, "Verified %d bytes", total);
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
        // Left as found: echo on, so the next run can take the chip up.
        if (!chip.echo()) chip.SetEcho(true);
        return false;
    }
    aErr err = chip.SetEcho(true);
    if (err != aErrNone) {
        displayPrintf(display, 1, "Recovery Error transfering data to device ==> [%d, %s]", err,
                      aError_GetErrorText(err));
        return false;
    }
    displayPrintf(display, 0, "Rebooting Device");
    if (chip.Go(0) != aErrNone) {
        displayPrintf(display, 1, "The chip did not start the firmware ==> [%s]",
                      ISPReply::returnCodeName(chip.returnCode()));
        return false;
    }
    return true;
}
