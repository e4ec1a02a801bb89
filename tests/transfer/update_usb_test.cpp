// The whole -U operation over USB, in-process through the virtual USB bus: the
// module found on USB, its loader restarting out of reach and found again, the
// reboot taking it off the bus and its return with the new firmware.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "../updater/RecordingDisplay.h"
#include "BirdWriter.h"
#include "FirmwareImageTag.h"
#include "ModuleUsbBus.h"
#include "TempDir.h"
#include "UpdaterApp.h"
#include "VirtualModule.h"
#include "aVersion.h"

namespace {

using namespace Veltrano::Sim;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSerial = 0x5A17C3C8;

Bytes pattern(size_t n, uint8_t seed) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 13);
    return bytes;
}

TEST(UpdateOverUsb, TheWholeUpdateReachesTheModuleAndItRunsTheNewFirmware) {
    ModuleIdentity id;
    id.serialNumber = kSerial;
    id.model = 4;
    id.address = 4;
    VirtualModule module(id);
    UpgradeArea::Settings settings;
    settings.load = UpgradeArea::LoadBehaviour::DropAndReturn;
    settings.loadAwayMs = 300;
    settings.rebootAwayMs = 300;
    module.upgrade().configure(settings);
    ModuleUsbBus bus;
    bus.attach(module);

    TempDir dir;
    const Bytes loader = pattern(60, 1);
    const Bytes first = pattern(2500, 2);
    FirmwareImageTag tag;
    tag.version = aVersion_Pack(3, 5, 0);
    tag.build = 6001;
    const Bytes second = tag.appendTo(pattern(100, 3));
    BirdWriter writer;
    writer.addIdentity("3.5.0", kSerial, "VT-CoreUSB");
    writer.addLoaderImage(0x20000000, loader);
    writer.addFirmwareImage(0x4000, first);
    writer.addFirmwareImage(0x9000, second);
    const std::string path = dir / "usb.bird";
    writer.writeFile(path);

    RecordingDisplay display;
    UpdaterApp app("http://127.0.0.1:9/cgi/u", dir / "store", &display);
    ASSERT_TRUE(app.Update_Firmware(kSerial, 0, path, 0, 0, false));

    const std::vector<std::string> expected = {
        "Updating from Birdfile: " + path,
        "Transferring loader to device",
        "Transferring loader block 1 of 1, 64 bytes",
        "Transferred 1 blocks, 64 total bytes",
        "Starting Load on Device",
        "Transferring firmware block 1 of 2, 2504 bytes",
        "Transferring firmware block 2 of 2, 120 bytes",
        "Transferred 2 blocks, 2624 total bytes",
    };
    ASSERT_EQ(display.messages.size(), expected.size() + 1);
    EXPECT_EQ(std::vector<std::string>(display.messages.begin(), display.messages.end() - 1), expected);
    EXPECT_EQ(display.messages.back().rfind("Update time: ", 0), 0u);
    EXPECT_TRUE(display.errors.empty());

    EXPECT_EQ(module.upgrade().loaderImage().at(0x20000000), loader);
    EXPECT_EQ(module.upgrade().flashBytes(0x4000, first.size()), first);
    EXPECT_EQ(module.upgrade().flashBytes(0x9000, second.size()), second);
    EXPECT_EQ(module.departures(), 2u) << "away once for the loader, once for the reboot";
    EXPECT_FALSE(module.away()) << "the update ends once the module runs again";
    EXPECT_EQ(module.currentIdentity().version, tag.version);
    EXPECT_EQ(module.currentIdentity().build, 6001u);
    EXPECT_NE(TempDir::read(dir / "store/5A17C3C8/.settings").find("LATEST_TRANSFER=" + path + "\n"),
              std::string::npos);
}

// A module address given with a router that nobody finds: the router is looked for
// on USB, then on TCP/IP, and the update ends before anything is sent.
TEST(UpdateOverUsb, ARouterThatCannotBeReachedIsSaidSo) {
    TempDir dir;
    BirdWriter writer;
    writer.addIdentity("3.5.0", kSerial, "VT-CoreUSB");
    writer.addFirmwareImage(0x4000, pattern(100, 5));
    const std::string path = dir / "routed.bird";
    writer.writeFile(path);
    ModuleUsbBus bus; // nothing attached

    RecordingDisplay display;
    UpdaterApp app("http://127.0.0.1:9/cgi/u", dir / "store", &display);
    EXPECT_FALSE(app.Update_Firmware(kSerial, 0, path, 6, 0x5A17C3EE, false));
    EXPECT_EQ(display.messages, std::vector<std::string>{"Updating from Birdfile: " + path});
    EXPECT_EQ(display.errors, std::vector<std::string>{"Failed to connect to link module [5A17C3EE]"});
    EXPECT_EQ(TempDir::read(dir / "store/5A17C3C8/.settings"), "") << "no transfer recorded";
}

} // namespace
