// The firmware loader (command 0x5F): what a running module does when the host
// puts new firmware into it.
//   INIT     [5F 00]                 -> [5F 00 base32]
//   PREPARE  [5F 03 flags addr32]    -> [5F 07 status size16]: a block begins at addr
//   DATA     [5F 01 1-26 bytes]      -> [5F 01 count]: bytes staged
//   SUM      [5F 04]                 -> [5F 07 status sum32]: byte sum since the last
//                                       SUM or PREPARE
//   WRITE    [5F 05 n16]             -> [5F 07 status]: the first n staged bytes go
//                                       into the flash image at the block's address
//   LOAD     [5F 02]                 -> [5F 02]: the loader images received start
//   REBOOT   [5F 06]                 no reply: the module restarts into its flash image
// Image data may also come as a streamed UEI set of option 10 (the module says so
// to the UEI support query); it is staged as DATA bytes are.
//
// The loader keeps its order as a module's does: nothing before INIT (until the
// next reboot), no DATA, SUM or WRITE before a PREPARE on this connection, and
// once the loader runs no more staged than PREPARE granted. What breaks the order
// is refused: DATA with a count of 0 (also an empty DATA), SUM and WRITE with a
// refused status, PREPARE before INIT with a refused status.
//
// Loader blocks (before LOAD) are staged without WRITE and kept apart from the
// flash image. A reboot ends the connection and keeps the module away for a while
// (see Settings); it comes back reporting the version and build of the image tag
// (FirmwareImageTag.h) found in its flash image, or its old ones without a tag,
// and the serial number written at serialLocation of its flash, if any. With
// imageTaken false it comes back on its old firmware, whatever its flash holds.
//
// Reply faults: "upgrade.init", "upgrade.prepare" (error: a refused status),
// "upgrade.data" (corrupt: a wrong count), "upgrade.sum" (error: a bad status;
// corrupt: a wrong sum), "upgrade.write" (error: a refused status), "upgrade.load"
// (none: silent, as an i.MX module restarting into its loader), "upgrade.uei" (the
// reply to a streamed option-10 set).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "ModuleArea.h"

namespace Veltrano::Sim {

class UpgradeArea : public ModuleArea {
  public:
    static constexpr uint8_t kCommand = 0x5F;
    static constexpr uint8_t kDataOption = 10;

    enum class LoadBehaviour {
        Answer,        // answers LOAD on the same connection
        DropAndReturn, // drops the connection unanswered, is away loadAwayMs, then
                       // answers LOAD on the first connection after it returns
        Silent,        // never answers LOAD, keeps the connection
    };

    struct Settings {
        uint32_t loadBase = 0x10000000;
        // Block size granted by PREPARE (0 is a fault a host must survive).
        uint16_t blockSize = 1024;
        LoadBehaviour load = LoadBehaviour::Answer;
        uint32_t loadAwayMs = 300;
        // Time away after REBOOT; rebootReturns false: never comes back.
        uint32_t rebootAwayMs = 500;
        bool rebootReturns = true;
        // REBOOT is lost: the module keeps running and answering as before.
        bool rebootIgnored = false;
        // Implements UEI option 10 (image data as byte values).
        bool ueiData = true;
        // A DATA packet after this many (counted over the transfer) ends the
        // connection in the middle of a block; -1 never. The module is back at
        // once, or after disconnectAwayMs (gone from every carrier meanwhile).
        int64_t disconnectAtData = -1;
        uint32_t disconnectAwayMs = 0;
        // A module that runs only its loader (a recovery loader): ready for
        // PREPARE without an INIT.
        bool loaderResident = false;
        // Whether a reboot starts the firmware in flash (false: the old one runs on).
        bool imageTaken = true;
        // Flash address of the module's serial number (u32 little-endian, as the
        // BIRD serial-number patch writes it); 0: none.
        uint32_t serialLocation = 0;
    };

    using Regions = std::map<uint32_t, std::vector<uint8_t>>;

    bool handle(VirtualModule& module, const ModuleFrame& frame) override;
    void tick(VirtualModule& module, uint64_t nowMs) override;
    uint64_t dueMs() const override;
    void reset() override;

    // Any thread.
    void configure(const Settings& settings);
    Settings settings() const;
    // The flash image: written bytes by address, merged where they touch.
    Regions flash() const;
    // The n bytes at address (bytes never written read as 0xFF).
    std::vector<uint8_t> flashBytes(uint32_t address, size_t n) const;
    // Loader images received, by address.
    Regions loaderImage() const;

    struct Counts {
        uint64_t inits = 0, prepares = 0, dataPackets = 0, ueiDataSets = 0, sums = 0, writes = 0, loads = 0,
                 reboots = 0;
    };
    Counts counts() const;

    // Called after each WRITE, before its reply, with the whole flash image
    // (under the module's lock: keep it short, do not call back into the module).
    void onFlashWritten(std::function<void(const Regions& flash)> observer);

  private:
    bool handleStep(VirtualModule& module, const ModuleFrame& frame);
    bool handleUeiData(VirtualModule& module, const ModuleFrame& frame);
    void init(VirtualModule& module, const ModuleFrame& frame);
    void prepare(VirtualModule& module, const ModuleFrame& frame);
    void data(VirtualModule& module, const ModuleFrame& frame);
    void sum(VirtualModule& module, const ModuleFrame& frame);
    void write(VirtualModule& module, const ModuleFrame& frame);
    void load(VirtualModule& module, const ModuleFrame& frame);
    void reboot(VirtualModule& module);
    // True when this data packet is the one that is to cut the connection.
    bool cutsConnection(VirtualModule& module);
    // Whether n more bytes may be staged now (a block prepared, room in it).
    bool mayStage(size_t n) const;
    // The firmware and serial number the module comes back with (under mutex_).
    void bootFromFlash(VirtualModule& module);
    void stage(const uint8_t* bytes, size_t n);
    // A block sent before LOAD and never written is a loader image.
    void closeLoaderBlock();

    mutable std::mutex mutex_;
    Settings settings_;
    Regions flash_;
    Regions loader_;
    Counts counts_;
    std::function<void(const Regions&)> flashObserver_;
    // The block in progress on this connection.
    uint32_t blockStart_ = 0;
    uint32_t blockAddress_ = 0; // where the next WRITE lands
    std::vector<uint8_t> staged_;
    std::vector<uint8_t> blockBytes_; // all bytes of the block, for a loader image
    bool blockWritten_ = false;
    uint32_t sum_ = 0;
    uint8_t ueiSequence_ = 0;
    bool prepared_ = false; // a PREPARE on this connection
    uint16_t granted_ = 0;  // the block size it granted
    // Module state that outlives a connection.
    bool initialised_ = false;   // INIT came since the last reboot
    bool loaderRunning_ = false; // LOAD came since the last reboot
    uint64_t dataPacketsSeen_ = 0;
    bool loadReplyOwed_ = false;
    uint64_t loadReplyDueMs_ = 0; // 0: from the host's first packet on
};

// The bytes of the regions from the lowest address to the end of the highest
// region, gaps as 0xFF; empty without regions.
std::vector<uint8_t> contiguousImage(const UpgradeArea::Regions& regions);

} // namespace Veltrano::Sim
