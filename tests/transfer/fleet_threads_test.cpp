// A fleet update inside this process, so the thread sanitizer build sees every
// thread it starts: three virtual modules over TCP/IP, found by multicast
// discovery in the test's namespace, updated at once, one refusing its firmware
// writes. Nothing the modules' threads share may race, and one module's failure
// may not reach the others.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "BirdWriter.h"
#include "BufferedDisplay.h"
#include "FirmwareImageTag.h"
#include "FleetModules.h"
#include "FleetUpdate.h"
#include "KeptModules.h"
#include "ModuleNetwork.h"
#include "Required.h"
#include "TempDir.h"
#include "VirtualModule.h"
#include "aVersion.h"

namespace {

using namespace Veltrano::Sim;

constexpr uint32_t kFirst = 0x5A17F100;
constexpr size_t kFaulty = 1;

TEST(FleetInProcess, ModulesUpdatedAtOnceKeepToThemselves) {
    VELTRANO_REQUIRE(ModuleNetwork::unavailableReason());
    TempDir dir;
    KeptModules kept;
    auto network = std::make_unique<ModuleNetwork>();
    std::vector<VirtualModule*> modules = serveFleet(kept, *network, kFirst, 7601, 3, kFaulty);

    BirdWriter writer;
    writer.addIdentity("3.4.2", 0, "VT-CoreUSB");
    writer.addSerialLocations(0x1010, 0);
    writer.addLoaderImage(0x20000000, std::vector<uint8_t>(40, 3));
    const std::vector<uint8_t> image(3000, 0xA5);
    writer.addFirmwareImage(0x1000, image);
    FirmwareImageTag tag;
    tag.version = aVersion_Pack(3, 4, 2);
    tag.build = 5120;
    writer.addFirmwareImage(0x8000, tag.appendTo(std::vector<uint8_t>(64, 0)));
    const std::string path = dir / "fleet.bird";
    writer.writeFile(path);

    BufferedDisplay display;
    UpdaterApp app("http://127.0.0.1:9/cgi/u", dir / "store", &display);
    FleetRequest request;
    for (VirtualModule* m : modules)
        request.serialNumbers.push_back(m->identity().serialNumber);
    request.birdFilePath = path;
    Json doc;
    EXPECT_EQ(runFleet(app, request, &doc), 1);

    ASSERT_EQ(doc["updates"].size(), modules.size());
    for (size_t i = 0; i < modules.size(); ++i) {
        SCOPED_TRACE(i);
        const Json& u = doc["updates"][i];
        EXPECT_EQ(u["ok"], i != kFaulty);
        if (i == kFaulty) {
            EXPECT_EQ(u["failed_step"], "firmware");
            continue;
        }
        std::vector<uint8_t> flashed = modules[i]->upgrade().flashBytes(0x1000, image.size());
        // The serial number patched in at 0x1010 is the module's own.
        for (int b = 0; b < 4; ++b)
            EXPECT_EQ(flashed[0x10 + b], static_cast<uint8_t>((kFirst + i) >> (8 * b)));
        flashed.erase(flashed.begin() + 0x10, flashed.begin() + 0x14);
        std::vector<uint8_t> expected = image;
        expected.erase(expected.begin() + 0x10, expected.begin() + 0x14);
        EXPECT_EQ(flashed, expected);
        EXPECT_EQ(u["after"]["build"], 5120);
    }
    EXPECT_EQ(doc["fleet"]["succeeded"], 2);
    network.reset();
    kept.clear();
}

} // namespace
