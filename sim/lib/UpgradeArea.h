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
// Loader blocks (before LOAD) are staged without WRITE and kept apart from the
// flash image. A reboot ends the connection and keeps the module away for a while
// (see Settings); it comes back reporting the version and build of the image tag
// (FirmwareImageTag.h) found in its flash image, or its old ones without a tag.
//
// Reply faults: "upgrade.init", "upgrade.prepare" (error: a refused status),
// "upgrade.data" (corrupt: a wrong count), "upgrade.sum" (error: a bad status;
// corrupt: a wrong sum), "upgrade.write" (error: a refused status), "upgrade.load"
// (none: silent, as an i.MX module restarting into its loader).
#pragma once

#include <cstdint>
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
        // Implements UEI option 10 (image data as byte values).
        bool ueiData = true;
        // A DATA packet after this many (counted over the transfer) ends the
        // connection in the middle of a block; -1 never.
        int64_t disconnectAtData = -1;
    };

    bool handle(VirtualModule& module, const ModuleFrame& frame) override;
    void reset() override;

    // Any thread.
    void configure(const Settings& settings);
    Settings settings() const;
    // The flash image: written bytes by address, merged where they touch.
    std::map<uint32_t, std::vector<uint8_t>> flash() const;
    // The n bytes at address (bytes never written read as 0xFF).
    std::vector<uint8_t> flashBytes(uint32_t address, size_t n) const;
    // Loader images received, by address.
    std::map<uint32_t, std::vector<uint8_t>> loaderImage() const;

    struct Counts {
        uint64_t inits = 0, prepares = 0, dataPackets = 0, ueiDataSets = 0, sums = 0, writes = 0,
                 loads = 0, reboots = 0;
    };
    Counts counts() const;
};

} // namespace Veltrano::Sim
