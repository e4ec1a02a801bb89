// -U with several -d: four virtual modules over TCP/IP updated at once, one of
// them refusing its firmware writes. The other three end updated, the faulty one
// is reported failed with its step, and the summary and the JSON agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "FleetModules.h"
#include "JsonDocument.h"
#include "UpdateNetwork.h"

namespace {

using namespace UpdateTest;
using nlohmann::json;

constexpr uint32_t kFleetSerial = 0x5A17E000;

std::string hex8(uint32_t value) {
    char text[9];
    snprintf(text, sizeof text, "%08X", value);
    return text;
}

class FleetUpdate : public UpdateNetwork {
  protected:
    // Four modules on ports 7401..7404; the one at kFaulty refuses its firmware writes.
    void SetUp() override {
        UpdateNetwork::SetUp();
        if (IsSkipped()) return;
        modules = serveFleet(kept, *network, kFleetSerial, 7401, 4, kFaulty);
    }
    // -U for the four modules with one generic file (serial locations, so each
    // module gets its own serial number), and more.
    std::vector<std::string> command(std::vector<std::string> more = {}) {
        firmware.writer.addSerialLocations(0x1010, 0);
        path = firmware.write(dir, "fleet.bird");
        std::vector<std::string> args = {"-U", "-f", path};
        for (VirtualModule* m : modules)
            args.insert(args.end(), {"-d", hex8(m->identity().serialNumber)});
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
    void expectUpdated(VirtualModule& m) {
        SCOPED_TRACE(hex8(m.identity().serialNumber));
        ASSERT_TRUE(cameBack(m));
        EXPECT_EQ(m.upgrade().flashBytes(0x8000, firmware.images.at(0x8000).size()), firmware.images.at(0x8000));
        EXPECT_EQ(m.currentIdentity().build, kNewBuild);
        EXPECT_EQ(TempDir::readAttributes(deviceDir(m.identity().serialNumber) + "/.settings")["LATEST_TRANSFER"],
                  path);
    }

    static constexpr size_t kFaulty = 2;
    std::vector<VirtualModule*> modules;
    Firmware firmware{"VT-CoreUSB", 0};
    std::string path;
};

TEST_F(FleetUpdate, OneFailureLeavesTheOthersUpdatedAndTheSummaryAndJsonAgree) {
    SubprocessResult r = updater(command({"--json"}));
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    for (size_t i = 0; i < modules.size(); ++i)
        if (i != kFaulty) expectUpdated(*modules[i]);
    EXPECT_FALSE(std::ifstream(deviceDir(modules[kFaulty]->identity().serialNumber) + "/.settings").good())
        << "nothing recorded for the module that failed";

    json doc = JsonTest::document(r, dir);
    ASSERT_EQ(doc["updates"].size(), 4u);
    EXPECT_EQ(doc["fleet"]["jobs"], 4);
    EXPECT_EQ(doc["fleet"]["succeeded"], 3);
    EXPECT_EQ(doc["fleet"]["failed"], 1);
    EXPECT_EQ(doc["ok"], false);
    const std::vector<std::string> err = JsonTest::lines(r.err);
    for (size_t i = 0; i < modules.size(); ++i) {
        const json& u = doc["updates"][i];
        const std::string serial = hex8(modules[i]->identity().serialNumber);
        EXPECT_EQ(u["serial"], serial);
        EXPECT_EQ(u["ok"], i != kFaulty) << serial;
        // Its row of the summary table, on standard error with the rest of the text.
        const std::string result = i == kFaulty ? "failed: " + u["failed_step"].get<std::string>() : "ok";
        char row[200];
        snprintf(row, sizeof row, "    %-8s  %-14s %-20s %-20s %-22s %.2f", serial.c_str(), "VT-CoreUSB",
                 "2.15.3 (build 4211)", i == kFaulty ? "-" : "3.4.2 (build 5120)", result.c_str(),
                 u["seconds"].get<double>());
        EXPECT_NE(std::find(err.begin(), err.end(), row), err.end()) << row << "\n" << r.err;
    }
    const json& failed = doc["updates"][kFaulty];
    EXPECT_EQ(failed["failed_step"], "firmware");
    EXPECT_FALSE(failed["error"]["code"].is_null());
    // Its own progress line names the step and the reason.
    const std::string line = "[" + failed["serial"].get<std::string>() + "] failed at firmware: " +
                             failed["error"]["text"].get<std::string>();
    EXPECT_NE(std::find(err.begin(), err.end(), line), err.end()) << r.err;
    // Its own lines, the advice among them, reach the user with its serial number
    // before its finishing line, and the document keeps them.
    const std::string advice = "Running the same -U command again will finish the update; if the module no "
                               "longer starts, recover it with -t RECOVER.";
    const std::string adviceLine = "[" + failed["serial"].get<std::string>() + "] " + advice;
    const auto shown = std::find(err.begin(), err.end(), adviceLine);
    EXPECT_LT(shown, std::find(err.begin(), err.end(), line)) << r.err;
    ASSERT_TRUE(failed.contains("lines"));
    EXPECT_NE(std::find(failed["lines"].begin(), failed["lines"].end(), advice), failed["lines"].end())
        << failed["lines"];
    EXPECT_TRUE(doc["updates"][0].contains("lines")) << "a module that succeeded keeps its lines too";
}

// Text output: one line per module as it finishes, then the table; a module named
// twice is said once and updated once; -j 2 bounds the modules at once.
TEST_F(FleetUpdate, TextRunWithARepeatAndTwoAtOnce) {
    std::vector<std::string> args = command({"-j", "2", "-d", hex8(kFleetSerial)});
    SubprocessResult r = updater(args);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("[" + hex8(kFleetSerial) + "] is named more than once; it is updated once"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("Updating 4 modules, 2 at once\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Fleet update: 3 of 4 modules updated\n"), std::string::npos) << r.out;
    for (size_t i = 0; i < modules.size(); ++i) {
        const std::string serial = hex8(modules[i]->identity().serialNumber);
        const std::string start = "[" + serial + "] ";
        const std::string& stream = i == kFaulty ? r.err : r.out;
        EXPECT_NE(stream.find("\n" + start + (i == kFaulty ? "failed at firmware: " : "updated: 2.15.3 (build "
                                                                                       "4211) -> 3.4.2 (build 5120) in ")),
                  std::string::npos)
            << stream;
        if (i != kFaulty) expectUpdated(*modules[i]);
    }
    EXPECT_EQ(modules[0]->upgrade().counts().inits, 1u) << "the repeated module is updated once";
}

} // namespace

namespace {

// Two modules behind one router and one the router's bus does not hold: the bus
// is walked once, the two are updated through the router one after the other,
// and the third gets its own line.
TEST_F(UpdateNetwork, FleetBehindARouter) {
    VirtualModule& router = kept.make(liveIdentity(kRouterSerial, 27, 2));
    VirtualModule& first = kept.make(liveIdentity(0x5A17C306, 17, 6));
    VirtualModule& second = kept.make(liveIdentity(0x5A17C320, 17, 0x20));
    for (VirtualModule* m : {&first, &second}) {
        router.attachToBus(*m);
        UpgradeArea::Settings settings;
        settings.rebootAwayMs = 1000; // silent on the bus for longer than one pass of the reboot wait
        m->upgrade().configure(settings);
    }
    serve(router, 7411);
    startResponder();
    Firmware firmware("VT-Acquire", 0);
    firmware.writer.addSerialLocations(0x1010, 0);
    const std::string path = firmware.write(dir, "behind.bird");

    SubprocessResult r = updater(
        {"-U", "-r", "5A17C3A0", "-d", "5A17C306", "-d", "5A17C3FF", "-d", "5A17C320", "-f", path, "--json"});
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_NE(r.err.find("Updating 3 modules, 1 at once\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\n[5A17C3FF] not found on the bus of router [5A17C3A0]\n"), std::string::npos) << r.err;
    for (VirtualModule* m : {&first, &second}) {
        EXPECT_EQ(m->upgrade().flashBytes(0x8000, firmware.images.at(0x8000).size()), firmware.images.at(0x8000));
        EXPECT_EQ(m->currentIdentity().build, kNewBuild);
    }
    EXPECT_EQ(router.upgrade().counts().inits, 0u);
    EXPECT_FALSE(router.system().routing()) << "routing switched off again";
    nlohmann::json doc = JsonTest::document(r, dir);
    ASSERT_EQ(doc["updates"].size(), 3u);
    EXPECT_EQ(doc["updates"][0]["ok"], true);
    EXPECT_EQ(doc["updates"][1]["failed_step"], "not-found");
    EXPECT_EQ(doc["updates"][2]["ok"], true);
    EXPECT_EQ(doc["fleet"]["jobs"], 1);
}

} // namespace
