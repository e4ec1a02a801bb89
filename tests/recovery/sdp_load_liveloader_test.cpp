// Loading the liveloader from a BIRD file through the ROM's HID device: the start
// address must lie in a block the file loads, or the ROM is never addressed.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "BirdFile.h"
#include "BirdWriter.h"
#include "ImageVectorTable.h"
#include "Recovery.h"
#include "SdpRom.h"
#include "SdpRomHid.h"
#include "TempDir.h"
#include "sdp_fixtures.h"

namespace {

using namespace Veltrano::Sim;

constexpr uint32_t kLoader = 0x20000000;

TEST(SdpLoadLiveloader, TheStartAddressMustLieInALoadedBlock) {
    struct Case {
        const char* name;
        std::vector<uint32_t> loaderSizes; // blocks back to back from kLoader
        std::optional<uint32_t> start;     // none: the default start
        bool loads;
    } cases[] = {
        {"default start inside the loader", {0x800}, std::nullopt, true},
        {"start in the second block", {0x100, 0x100}, kLoader + 0x180, true},
        {"no loader block", {}, std::nullopt, false},
        {"default start past the loader", {0x400}, std::nullopt, false},
        {"start just past the last byte", {0x100}, kLoader + 0x100, false},
        {"an empty loader block at the start", {0}, kLoader, false},
    };
    TempDir dir;
    for (const Case& c : cases) {
        BirdWriter writer;
        writer.addIdentity("1.0.0", 0x5E1A0C01, "VT-Acquire");
        // Where the ROM is sent, the loader starts with its vector table.
        const uint32_t start = c.start.value_or(0x20000400);
        uint32_t address = kLoader;
        for (uint32_t size : c.loaderSizes) {
            std::vector<uint8_t> image = sdpPattern(size);
            if (start >= address && start - address + kImageVectorTableBytes <= size)
                putImageVectorTable(image, start - address, start);
            writer.addLoaderImage(address, image);
            address += size;
        }
        writer.addFirmwareImage(0x1000, sdpPattern(64));
        if (c.start) writer.addStartAddress(*c.start);
        writer.writeFile(dir / "loader.bird");
        BirdFile file(dir / "loader.bird");

        SdpRom rom;
        SdpRomHid hid(rom);
        EXPECT_EQ(_load_liveloader(file, kUsbPortName), c.loads ? aErrNone : aErrNotFound) << c.name;
        EXPECT_EQ(rom.left(), c.loads) << c.name;
        if (!c.loads) {
            EXPECT_EQ(hid.opens(), 0u) << c.name << ": the ROM is not addressed";
        }
    }
}

} // namespace
