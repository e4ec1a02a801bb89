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

#include "UpdateNetwork.h"
#include "UpdateTime.h"

namespace {

using namespace UpdateTest;

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
    // Build 77 is what the module reports once it runs it.
    Firmware firmware("VT-CoreUSB", kSerial, 77);
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
    VirtualModule& router = kept.make(liveIdentity(kRouterSerial, 27, 2));
    VirtualModule& behind = kept.make(liveIdentity(kSerial, 17, 6));
    VirtualModule& other = kept.make(liveIdentity(0x5A17C3D2, 18, 0x20));
    router.attachToBus(behind);
    router.attachToBus(other);
    UpgradeArea::Settings settings;
    settings.rebootAwayMs = 1000; // longer than the one pass of the reboot wait: silent on the bus
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
    VirtualModule& router = kept.make(liveIdentity(kRouterSerial, 27, 2));
    VirtualModule& emptyRouter = kept.make(liveIdentity(0x5A17C3E0, 27, 2));
    VirtualModule& other = kept.make(liveIdentity(0x5A17C3D2, 18, 0x20));
    router.attachToBus(other);
    serve(module, 7014);
    serve(router, 7015);
    serve(emptyRouter, 7016);
    startResponder();
    const std::string forModule = Firmware("VT-CoreUSB", kSerial).write(dir, "module.bird");
    const std::string otherModel = Firmware("VT-Relay", kSerial).write(dir, "relay.bird");
    const std::string missing = dir / "missing.bird";
    // Places for the serial number that no image covers: the file cannot be made
    // this module's, and nothing is sent.
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
         "The serial number [5A17C3C4] cannot be written into " + noSerialPlace +
             "; nothing was sent to the module.\n"},
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
        std::string err; // what standard error must hold
    } cases[] = {
        {"connection lost in every block",
         [&] {
             ModuleFaults faults;
             faults.closeAfterPackets = 60;
             module.setFaults(faults);
         },
         "Module [5A17C3C4] is left in its loader: firmware block 1 of 2 failed"},
        {"sum never right",
         [&] {
             ModuleFaults faults;
             faults.replies["upgrade.sum"] = ReplyFault{ReplyFaultKind::Corrupt};
             module.setFaults(faults);
         },
         "Update of module [5A17C3C4] failed while sending its loader [29, aErrInvalidOption].\n"
         "Run the same -U command again to retry"},
        {"never back from the reboot",
         [&] {
             module.setFaults(ModuleFaults());
             UpgradeArea::Settings s;
             s.rebootReturns = false;
             module.upgrade().configure(s);
         },
         "Module [5A17C3C4] did not come back after its reboot\n"
         "Run the same -U command again to retry; if the module no longer starts, recover it with -t "
         "RECOVER.\n"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(cameBack(module)) << c.name;
        c.arrange();
        auto start = std::chrono::steady_clock::now();
        SubprocessResult r = updater({"-U", "-d", "5A17C3C4", "-b", "78"});
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(r.exitStatus, 1) << c.name;
        EXPECT_LT(seconds, 28.0) << c.name;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.name << ": " << r.err;
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
    EXPECT_NE(r.err.find("Module [5A17C3C4] was not found again after its loader started.\n"),
              std::string::npos)
        << r.err;
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
