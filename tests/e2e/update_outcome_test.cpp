// -U tells the truth: one table of updates against virtual modules that let the
// host down the way modules do (a reply lost or late, a link that drops, a module
// that comes back on its old firmware), each with what the run must end in: the
// flash equal to the file and the transfer recorded, or exit status 1 with the
// reason on standard error and nothing recorded.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "UpdateNetwork.h"

namespace {

using namespace UpdateTest;

constexpr uint32_t kFirstSerial = 0x5A17D000;
constexpr uint16_t kFirstPort = 7101;
constexpr uint32_t kSerialLocation = 0x1010;

std::string hex8(uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

ReplyFault late(uint32_t ms, uint32_t skip) {
    ReplyFault fault;
    fault.kind = ReplyFaultKind::Late;
    fault.lateMs = ms;
    fault.skip = skip;
    fault.times = 1;
    return fault;
}

ReplyFault lost(uint32_t skip) {
    ReplyFault fault;
    fault.kind = ReplyFaultKind::NoReply;
    fault.skip = skip;
    fault.times = 1;
    return fault;
}

struct Row {
    const char* name;
    std::function<void(UpgradeArea::Settings&, ModuleFaults&)> arrange;
    std::vector<std::string> options; // besides -U -d -f
    // Empty: the update completes. Otherwise exit status 1 and a line on standard
    // error that holds this text.
    std::string failure;
    // After the failure, the module is back and the same -U finishes the update.
    bool rerunFinishes = false;
    std::function<void(VirtualModule&)> check;
};

class UpdateOutcome : public UpdateNetwork {
  protected:
    // Runs one row against its own module; the file is made for that module.
    void run(const Row& row, VirtualModule& device, const Firmware& firmware) {
        SCOPED_TRACE(row.name);
        const std::string serial = hex8(device.identity().serialNumber);
        const std::string path = firmware.write(dir, serial + ".bird");
        std::vector<std::string> args = {"-U", "-d", serial, "-f", path};
        args.insert(args.end(), row.options.begin(), row.options.end());
        SubprocessResult r = updater(args);
        if (!row.failure.empty()) {
            EXPECT_EQ(r.exitStatus, 1);
            EXPECT_NE(r.err.find(row.failure), std::string::npos) << r.err;
            EXPECT_EQ(r.out.find("Update time"), std::string::npos);
            EXPECT_FALSE(std::ifstream(deviceDir(device.identity().serialNumber) + "/.settings").good())
                << "nothing recorded";
            if (!row.rerunFinishes) return;
            ASSERT_TRUE(backWithin(device, 40000));
            r = updater(args);
        }
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        // A retried block leaves the protocol's own failure lines, never a failed update's.
        EXPECT_EQ(r.err.find("Module ["), std::string::npos) << r.err;
        EXPECT_NE(r.out.find("Update time"), std::string::npos);
        expectFlashHolds(device, firmware);
        EXPECT_EQ(device.currentIdentity().build, kNewBuild);
        EXPECT_EQ(TempDir::readAttributes(deviceDir(device.identity().serialNumber) +
                                          "/.settings")["LATEST_TRANSFER"],
                  path);
    }
    static bool backWithin(const VirtualModule& device, int ms) {
        for (int waited = 0; waited < ms && device.away(); waited += 50)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return !device.away();
    }
};

TEST_F(UpdateOutcome, EndsInTheTruth) {
    const Row rows[] = {
        {"comes back on its old firmware",
         [](UpgradeArea::Settings& s, ModuleFaults&) { s.imageTaken = false; },
         {},
         "runs firmware 2.15.3 (build 4211) after its reboot, not the 3.4.2 that was sent: the new firmware "
         "did "
         "not take.\nRun the same -U command again to retry",
         false,
         {}},
        {"PREPARE reply lost once",
         [](UpgradeArea::Settings&, ModuleFaults& f) { f.replies["upgrade.prepare"] = lost(2); },
         {},
         "",
         false,
         {}},
        {"PREPARE reply late once",
         [](UpgradeArea::Settings&, ModuleFaults& f) { f.replies["upgrade.prepare"] = late(1500, 1); },
         {},
         "",
         false,
         {}},
        {"SUM reply late once, arriving while PREPARE waits",
         [](UpgradeArea::Settings&, ModuleFaults& f) { f.replies["upgrade.sum"] = late(1300, 1); },
         {},
         "",
         false,
         {}},
        {"link dropped once mid-firmware, back at once",
         [](UpgradeArea::Settings& s, ModuleFaults&) { s.disconnectAtData = 50; },
         {},
         "",
         false,
         {}},
        {"link gone for the rest of the run",
         [](UpgradeArea::Settings& s, ModuleFaults&) {
             s.disconnectAtData = 50;
             s.disconnectAwayMs = 22000;
         },
         {},
         "is left in its loader: firmware block 1 of 2 failed",
         true,
         {}},
        {"-m with UEI data",
         [](UpgradeArea::Settings&, ModuleFaults&) {},
         {"-m", "1"},
         "",
         false,
         [](VirtualModule& m) { EXPECT_GT(m.upgrade().counts().ueiDataSets, 0u); }},
        {"-m without UEI support falls back to DATA packets",
         [](UpgradeArea::Settings& s, ModuleFaults&) { s.ueiData = false; },
         {"-m", "1"},
         "",
         false,
         [](VirtualModule& m) {
             EXPECT_EQ(m.upgrade().counts().ueiDataSets, 0u);
             EXPECT_GT(m.upgrade().counts().dataPackets, 100u);
         }},
    };
    std::vector<VirtualModule*> devices;
    uint16_t port = kFirstPort;
    for (const Row& row : rows) {
        VirtualModule& device =
            kept.make(liveIdentity(kFirstSerial + static_cast<uint32_t>(devices.size()), 4, 4));
        UpgradeArea::Settings settings;
        settings.rebootAwayMs = 300;
        ModuleFaults faults;
        row.arrange(settings, faults);
        device.upgrade().configure(settings);
        device.setFaults(faults);
        serve(device, port++);
        devices.push_back(&device);
    }
    startResponder();
    for (size_t i = 0; i < devices.size(); ++i) {
        run(rows[i], *devices[i], Firmware("VT-CoreUSB", devices[i]->identity().serialNumber));
        if (rows[i].check) rows[i].check(*devices[i]);
    }
}

// A file that holds places for the serial number is patched with the module's
// own: after its reboot the module reads it from its flash and is found again
// under it.
TEST_F(UpdateOutcome, ModuleComesBackUnderTheSerialNumberWrittenIntoIt) {
    UpgradeArea::Settings settings;
    settings.rebootAwayMs = 300;
    settings.serialLocation = kSerialLocation;
    module.upgrade().configure(settings);
    serve(module, 7121);
    startResponder();
    Firmware firmware("VT-CoreUSB", 0);
    firmware.writer.addSerialLocations(kSerialLocation, 0);
    const std::string path = firmware.write(dir, "any.bird");
    // What the flash must hold: the image with the serial number, little-endian.
    Bytes& image = firmware.images.at(0x1000);
    for (int i = 0; i < 4; ++i)
        image[kSerialLocation - 0x1000 + i] = static_cast<uint8_t>(kSerial >> (8 * i));

    SubprocessResult r = updater({"-U", "-d", hex8(kSerial), "-f", path});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    expectFlashHolds(module, firmware);
    EXPECT_EQ(module.currentIdentity().serialNumber, kSerial);
}

// A file with a loader and no firmware would leave the module in its loader with
// nothing to finish the update: it is refused before anything is sent.
TEST_F(UpdateOutcome, RefusesALoaderOnlyFile) {
    serve(module, 7122);
    startResponder();
    BirdWriter writer;
    writer.addIdentity("3.4.2", kSerial, "VT-CoreUSB");
    writer.addLoaderImage(0x20000000, pattern(40, 3));
    const std::string path = dir / "loader.bird";
    writer.writeFile(path);

    SubprocessResult r = updater({"-U", "-d", hex8(kSerial), "-f", path});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, path + " holds no firmware blocks; nothing was sent to module [5A17C3C4].\n");
    EXPECT_EQ(module.upgrade().counts().inits, 0u);
    EXPECT_EQ(module.packetsReceived(), 0u) << "not even connected";
}

// A probe on the router's bus whose reply is lost does not end the walk: every
// module behind the router is listed, by -D -r and for -U -r alike.
TEST_F(UpdateOutcome, RouterWalkGoesOnPastAnUnansweredProbe) {
    VirtualModule& router = kept.make(liveIdentity(kRouterSerial, 27, 2));
    VirtualModule& first = kept.make(liveIdentity(0x5A17C3D0, 17, 6));
    VirtualModule& second = kept.make(liveIdentity(0x5A17C3D2, 18, 0x20));
    router.attachToBus(first);
    router.attachToBus(second);
    ModuleFaults faults;
    faults.replies["i2c.write"] = lost(1); // the probe of address 6
    router.setFaults(faults);
    serve(router, 7123);
    startResponder();

    SubprocessResult r = updater({"-D", "-r", hex8(kRouterSerial)});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_NE(r.out.find("    5A17C3D0  06"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("    5A17C3D2  20"), std::string::npos) << r.out;
}

// Behind a router the link never drops at the reboot: an answer right after the
// reboot request is no evidence of a restart, and the version it reports decides.
TEST_F(UpdateOutcome, ModuleBehindARouterOnItsOldFirmwareIsNoUpdate) {
    VirtualModule& router = kept.make(liveIdentity(kRouterSerial, 27, 2));
    VirtualModule& behind = kept.make(liveIdentity(kSerial, 17, 6));
    router.attachToBus(behind);
    UpgradeArea::Settings settings;
    settings.rebootAwayMs = 200;
    settings.imageTaken = false;
    behind.upgrade().configure(settings);
    serve(router, 7124);
    startResponder();
    const std::string path = Firmware("VT-Acquire", kSerial).write(dir, "behind.bird");

    SubprocessResult r = updater({"-U", "-d", hex8(kSerial), "-r", hex8(kRouterSerial), "-f", path});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(
        r.err.find("Module [5A17C3C4] runs firmware 2.15.3 (build 4211) after its reboot, not the 3.4.2 "
                   "that was sent"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(behind.upgrade().counts().reboots, 1u);
    EXPECT_FALSE(std::ifstream(deviceDir(kSerial) + "/.settings").good()) << "nothing recorded";
}

} // namespace
