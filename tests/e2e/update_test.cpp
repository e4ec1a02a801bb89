// -U through the built Updater against virtual modules with their own Ethernet
// interface, found by multicast discovery in a namespace of the test's own: the
// file chosen, what the run prints, what lands in the module's flash and what
// the store records; and each way an update fails.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BirdWriter.h"
#include "FirmwareImageTag.h"
#include "KeptModules.h"
#include "TempDir.h"
#include "ModuleNetwork.h"
#include "UpdaterProcess.h"
#include "UpdateTime.h"
#include "VirtualModule.h"
#include "aVersion.h"
#include "Required.h"

namespace {

using namespace Veltrano::Sim;
using Bytes = std::vector<uint8_t>;

const std::string kBanner = "Updater (Version: 2.11.2 Apr 29 2025)\n";
const std::string kServer = "http://127.0.0.1:9/cgi/u";
constexpr uint32_t kSerial = 0x5A17C3C4;
constexpr uint32_t kRouterSerial = 0x5A17C3A0;
constexpr uint32_t kNewVersion = 0x30040002; // packed by aVersion_Pack in the fixture
constexpr uint32_t kNewBuild = 5120;

Bytes pattern(size_t n, uint8_t seed) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return bytes;
}

// A firmware file: one loader image and two firmware images, the second ending in
// the tag of the firmware the module reports once it runs them.
struct Firmware {
    uint32_t version = 0;
    Bytes loader = pattern(40, 3);
    std::map<uint32_t, Bytes> images;

    Firmware(const std::string& model, uint32_t targetSerial) {
        version = aVersion_Pack(3, 4, 2);
        images[0x1000] = pattern(3000, 11);
        FirmwareImageTag tag;
        tag.version = version;
        tag.build = kNewBuild;
        images[0x8000] = tag.appendTo(pattern(600, 91));
        writer.addIdentity("3.4.2", targetSerial, model);
        writer.addLoaderImage(0x20000000, loader);
        for (const auto& [address, image] : images)
            writer.addFirmwareImage(address, image);
    }
    std::string write(const TempDir& dir, const std::string& name) const {
        const std::string path = dir / name;
        writer.writeFile(path);
        return path;
    }
    // The lines the transfer prints when every block goes through at once.
    std::string transferLines() const {
        return "Transferring loader to device\n"
               "Transferring loader block 1 of 1, 44 bytes\n"
               "Transferred 1 blocks, 44 total bytes\n"
               "Starting Load on Device\n"
               "Transferring firmware block 1 of 2, 3004 bytes\n"
               "Transferring firmware block 2 of 2, 620 bytes\n"
               "Transferred 2 blocks, 3624 total bytes\n";
    }
    BirdWriter writer;
};

// Modules in the far namespace of a testbed, served over TCP and announced by
// multicast discovery while they are there; the Updater runs on the near side.
class UpdateNetwork : public ::testing::Test {
  protected:
    void SetUp() override {
        VELTRANO_REQUIRE(ModuleNetwork::unavailableReason());
        network = std::make_unique<ModuleNetwork>();
        UpgradeArea::Settings settings;
        settings.rebootAwayMs = 300;
        module.upgrade().configure(settings);
    }
    // The servers' threads use their modules: they stop before any module goes.
    void TearDown() override {
        network.reset();
        kept.clear();
    }

    void serve(VirtualModule& served, uint16_t port) { network->serve(served, port); }
    void startResponder() { network->startResponder(); }

    SubprocessResult updater(std::vector<std::string> args) {
        std::vector<std::string> all = {"-u", kServer, "-i", dir / "store"};
        all.insert(all.begin(), args.begin(), args.end());
        SubprocessResult r = runUpdater(all, dir / "home");
        EXPECT_TRUE(r.started);
        EXPECT_FALSE(r.timedOut);
        return r;
    }
    std::string deviceDir(uint32_t serialNumber) const {
        char name[9];
        snprintf(name, sizeof name, "%08X", serialNumber);
        return dir / ("store/updater/" + std::string(name));
    }
    // Waits (bounded) until the module runs again after its reboot.
    static bool cameBack(const VirtualModule& served) {
        for (int i = 0; i < 100 && served.away(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return !served.away();
    }
    static void expectFlashHolds(const VirtualModule& served, const Firmware& firmware) {
        VirtualModule& m = const_cast<VirtualModule&>(served);
        for (const auto& [address, image] : firmware.images)
            EXPECT_EQ(m.upgrade().flashBytes(address, image.size()), image) << std::hex << address;
        EXPECT_EQ(m.upgrade().loaderImage().at(0x20000000), firmware.loader);
    }

    TempDir dir;
    VirtualModule module{moduleIdentity(kSerial, 4, 4)};
    KeptModules kept;
    std::unique_ptr<ModuleNetwork> network;
};

TEST_F(UpdateNetwork, UpdatesFromAFileAndTheModuleRunsTheNewFirmware) {
    serve(module, 7011);
    startResponder();
    Firmware firmware("VT-CoreUSB", kSerial);
    const std::string path = firmware.write(dir, "new.bird");

    SubprocessResult r = updater({"-U", "-d", "5A17C3C4", "-f", path});
    EXPECT_EQ(withoutUpdateTime(r.out),
              kBanner + "Updating from Birdfile: " + path + "\n" + firmware.transferLines());
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 0);
    expectFlashHolds(module, firmware);

    // The device the store did not hold gets its record, with the file as given.
    std::map<std::string, std::string> values = TempDir::readAttributes(deviceDir(kSerial) + "/.settings");
    EXPECT_EQ(values["LATEST_TRANSFER"], path);
    EXPECT_FALSE(values["LAST_TRANSFER_DATE"].empty());

    // The module came back with the firmware's version and build, and -D shows them.
    ASSERT_TRUE(cameBack(module));
    SubprocessResult d = updater({"-D", "-t", "TCPIP"});
    EXPECT_EQ(d.out, kBanner +
                         "Searching for Halvorine devices\nDiscovered Devices: (TCPIP)\n"
                         "    Device    Module   Router  Model          Firmware Version (Build)   "
                         "[IP address]\n"
                         "    5A17C3C4  04       00      VT-CoreUSB     3.4.2 (5120) [" +
                         network->farAddress() + "]\n");
    EXPECT_EQ(d.exitStatus, 0);
}

TEST_F(UpdateNetwork, UpdatesFromTheLatestDownloadThenFromANamedBuild) {
    // Its loader starts as a real module's does: the link drops, and the module is
    // found again over TCP/IP where it was reached.
    UpgradeArea::Settings settings;
    settings.load = UpgradeArea::LoadBehaviour::DropAndReturn;
    settings.loadAwayMs = 300;
    settings.rebootAwayMs = 300;
    module.upgrade().configure(settings);
    serve(module, 7012);
    startResponder();
    Firmware firmware("VT-CoreUSB", kSerial);
    TempDir::makeDirectories(deviceDir(kSerial));
    firmware.write(dir, "store/updater/5A17C3C4/77.bird");
    dir.write("store/updater/5A17C3C4/.settings", "LATEST_DOWNLOAD=77.bird\n");

    // No build named: the server (not reachable here) names none, so the latest
    // download is used.
    SubprocessResult r = updater({"-U", "-d", "5A17C3C4"});
    EXPECT_EQ(withoutUpdateTime(r.out), kBanner +
                                            "Updating with the Latest Download\n"
                                            "Updating firmware with build: 77\n" +
                                            firmware.transferLines());
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 0);
    expectFlashHolds(module, firmware);
    std::map<std::string, std::string> values = TempDir::readAttributes(deviceDir(kSerial) + "/.settings");
    EXPECT_EQ(values["LATEST_DOWNLOAD"], "77.bird");
    EXPECT_EQ(values["LATEST_TRANSFER"], "77.bird");
    const std::string firstDate = values["LAST_TRANSFER_DATE"];
    EXPECT_FALSE(firstDate.empty());

    ASSERT_TRUE(cameBack(module));
    SubprocessResult b = updater({"-U", "-d", "5A17C3C4", "-b", "77"});
    EXPECT_EQ(withoutUpdateTime(b.out),
              kBanner + "Updating firmware with build: 77\n" + firmware.transferLines());
    EXPECT_EQ(b.err, "");
    EXPECT_EQ(b.exitStatus, 0);
    EXPECT_EQ(module.upgrade().counts().reboots, 2u);
    EXPECT_EQ(module.departures(), 4u) << "away at each loader start and each reboot";
}

TEST_F(UpdateNetwork, UpdatesAModuleBehindARouter) {
    VirtualModule& router = kept.make(moduleIdentity(kRouterSerial, 27, 2));
    VirtualModule& behind = kept.make(moduleIdentity(kSerial, 17, 6));
    VirtualModule& other = kept.make(moduleIdentity(0x5A17C3D2, 18, 0x20));
    router.attachToBus(behind);
    router.attachToBus(other);
    UpgradeArea::Settings settings;
    settings.rebootAwayMs = 200;
    behind.upgrade().configure(settings);
    serve(router, 7013);
    startResponder();
    Firmware firmware("VT-Acquire", kSerial);
    const std::string path = firmware.write(dir, "behind.bird");

    SubprocessResult r = updater({"-U", "-d", "5A17C3C4", "-r", "5A17C3A0", "-f", path});
    EXPECT_EQ(withoutUpdateTime(r.out),
              kBanner + "Updating from Birdfile: " + path + "\n" + firmware.transferLines());
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 0);
    expectFlashHolds(behind, firmware);
    EXPECT_EQ(other.upgrade().counts().inits, 0u);
    EXPECT_EQ(router.upgrade().counts().inits, 0u);
    EXPECT_EQ(behind.currentIdentity().build, kNewBuild);
    EXPECT_FALSE(router.system().routing()) << "the walk switched routing off again";
}

// Each way -U refuses or fails before anything reaches the module: the message,
// the exit status, and a store left as it was.
TEST_F(UpdateNetwork, RefusesWhatCannotBeUpdated) {
    VirtualModule& router = kept.make(moduleIdentity(kRouterSerial, 27, 2));
    VirtualModule& emptyRouter = kept.make(moduleIdentity(0x5A17C3E0, 27, 2));
    VirtualModule& other = kept.make(moduleIdentity(0x5A17C3D2, 18, 0x20));
    router.attachToBus(other);
    serve(module, 7014);
    serve(router, 7015);
    serve(emptyRouter, 7016);
    startResponder();
    const std::string forModule = Firmware("VT-CoreUSB", kSerial).write(dir, "module.bird");
    const std::string otherModel = Firmware("VT-Relay", kSerial).write(dir, "relay.bird");
    const std::string missing = dir / "missing.bird";
    // Places for the serial number that no image covers: the file cannot be made
    // this module's, and nothing is sent (the reason goes to the log only).
    Firmware unpatchable("VT-CoreUSB", kSerial);
    unpatchable.writer.addSerialLocations(0x00F00000, 0);
    const std::string noSerialPlace = unpatchable.write(dir, "noplace.bird");
    struct Case {
        std::vector<std::string> args;
        std::string out, err;
    } cases[] = {
        {{"-U", "-d", "5A17C3C4"}, kBanner, "Could not find valid build for this device.\n"},
        {{"-U", "-d", "5A17C3C4", "-b", "42"},
         kBanner + "Updating firmware with build: 42\n",
         "Failed to load bird file\n"},
        {{"-U", "-d", "5A17C3C4", "-f", missing},
         kBanner + "Updating from Birdfile: " + missing + "\n",
         "Failed to load bird file\n"},
        {{"-U", "-d", "5A17C3C4", "-f", noSerialPlace},
         kBanner + "Updating from Birdfile: " + noSerialPlace + "\n",
         ""},
        {{"-U", "-d", "5A17C3F9", "-f", forModule},
         kBanner + "Updating from Birdfile: " + forModule + "\n",
         "Failed to connect to module [5A17C3F9]\n"},
        {{"-U", "-d", "5A17C3C4", "-f", otherModel},
         kBanner + "Updating from Birdfile: " + otherModel + "\n",
         "Connected device model and Bird file model do not match [VT-CoreUSB] (0)\n"
         "Birdfile failed validation\n"},
        {{"-U", "-d", "5A17C3C4", "-r", "5A17C3E0", "-f", forModule},
         kBanner + "Updating from Birdfile: " + forModule + "\n",
         "Unable to find modules on Network\n"},
        {{"-U", "-d", "5A17C3C4", "-r", "5A17C3A0", "-f", forModule},
         kBanner + "Updating from Birdfile: " + forModule + "\n",
         "Module address required for indirect firmware update, could not find serial number "
         "[0x5A17C3C4] on network\n"},
    };
    for (const Case& c : cases) {
        SubprocessResult r = updater(c.args);
        EXPECT_EQ(r.out, c.out) << c.args.back();
        EXPECT_EQ(r.err, c.err) << c.args.back();
        EXPECT_EQ(r.exitStatus, 1) << c.args.back();
    }
    EXPECT_EQ(module.upgrade().counts().inits, 0u) << "nothing reached the loader";
    // The -b run made the device's directory; no transfer was recorded in it.
    EXPECT_EQ(TempDir::readAttributes(deviceDir(kSerial) + "/.settings").count("LATEST_TRANSFER"), 0u);
}

// A connection that fails in the middle of a block, a block the module never
// confirms, and a module that never returns from its reboot: each ends the run
// with an error within a bounded time, and the store records no transfer.
TEST_F(UpdateNetwork, FailsCleanlyWhenTheModuleLetsItDown) {
    serve(module, 7017);
    startResponder();
    Firmware firmware("VT-CoreUSB", kSerial);
    TempDir::makeDirectories(deviceDir(kSerial));
    const std::string path = firmware.write(dir, "store/updater/5A17C3C4/78.bird");
    const std::string settings = "LATEST_DOWNLOAD=78.bird\nLATEST_TRANSFER=12.bird\n";
    dir.write("store/updater/5A17C3C4/.settings", settings);

    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::string err;
    } cases[] = {
        {"connection lost in every block",
         [&] {
             ModuleFaults faults;
             faults.closeAfterPackets = 60;
             module.setFaults(faults);
         },
         ""},
        {"sum never right",
         [&] {
             ModuleFaults faults;
             faults.replies["upgrade.sum"] = ReplyFault{ReplyFaultKind::Corrupt};
             module.setFaults(faults);
         },
         ""},
        {"never back from the reboot",
         [&] {
             module.setFaults(ModuleFaults());
             UpgradeArea::Settings s;
             s.rebootReturns = false;
             module.upgrade().configure(s);
         },
         "Module [5A17C3C4] did not come back after its reboot\n"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(cameBack(module)) << c.name;
        c.arrange();
        auto start = std::chrono::steady_clock::now();
        SubprocessResult r = updater({"-U", "-d", "5A17C3C4", "-b", "78"});
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(r.exitStatus, 1) << c.name;
        EXPECT_LT(seconds, 28.0) << c.name;
        if (!c.err.empty()) {
            EXPECT_EQ(r.err, c.err) << c.name;
        }
        EXPECT_EQ(r.out.find("Update time"), std::string::npos) << c.name;
        EXPECT_EQ(TempDir::read(deviceDir(kSerial) + "/.settings"), settings) << c.name;
    }
    (void)path;
}

// A module reached over TCP/IP that drops its link when its loader starts and
// never comes back: the search for it is bounded by time, not only by attempts,
// since every attempt waits out a whole discovery.
TEST_F(UpdateNetwork, GivesUpInBoundedTimeOnAModuleLostWhenItsLoaderStarts) {
    UpgradeArea::Settings settings;
    settings.load = UpgradeArea::LoadBehaviour::DropAndReturn;
    settings.loadAwayMs = 120000;
    module.upgrade().configure(settings);
    serve(module, 7018);
    startResponder();
    const std::string path = Firmware("VT-CoreUSB", kSerial).write(dir, "new.bird");

    auto start = std::chrono::steady_clock::now();
    SubprocessResult r = updater({"-U", "-d", "5A17C3C4", "-f", path});
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_LT(seconds, 25.0);
    EXPECT_EQ(r.out.find("Update time"), std::string::npos);
    EXPECT_EQ(module.upgrade().counts().loads, 1u);
    EXPECT_FALSE(std::ifstream(deviceDir(kSerial) + "/.settings").good()) << "no transfer recorded";
}

// A transfer that went through but could not be recorded (the device's attributes
// file is a directory here) is said so on standard error; the module was updated,
// so the run still succeeds.
TEST_F(UpdateNetwork, SaysSoWhenTheTransferCannotBeRecorded) {
    serve(module, 7019);
    startResponder();
    Firmware firmware("VT-CoreUSB", kSerial);
    const std::string path = firmware.write(dir, "new.bird");
    TempDir::makeDirectories(deviceDir(kSerial) + "/.settings");

    SubprocessResult r = updater({"-U", "-d", "5A17C3C4", "-f", path});
    EXPECT_EQ(withoutUpdateTime(r.out),
              kBanner + "Updating from Birdfile: " + path + "\n" + firmware.transferLines());
    EXPECT_EQ(r.err, "Could not record the transfer in the store: " + deviceDir(kSerial) + "/.settings\n");
    EXPECT_EQ(r.exitStatus, 0);
    expectFlashHolds(module, firmware);
}

} // namespace
