// -D through the built Updater: modules found by multicast discovery in a namespace of
// the test's own, a router's I2C bus walked, and what it prints when it finds nothing.
// Every run is checked to leave the store as it found it.
#include <gtest/gtest.h>

#include <dirent.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "KeptModules.h"
#include "TempDir.h"
#include "ModuleNetwork.h"
#include "UpdaterProcess.h"
#include "VirtualModule.h"
#include "Required.h"

namespace {

using namespace Veltrano::Sim;

const std::string kBanner = "Updater (Version: 2.11.2 Apr 29 2025)\n";
const std::string kSearching = kBanner + "Searching for Halvorine devices\n";
const std::string kHeader = "    Device    Module   Router  Model          Firmware Version (Build)\n";
const std::string kIpHeader =
    "    Device    Module   Router  Model          Firmware Version (Build)   [IP address]\n";
const std::string kNoDevices = "    No devices found.\n";

std::vector<std::string> entries(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* e = readdir(dir)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    return names;
}

// Runs Updater with a loopback server and a store of its own, and checks that -D
// left nothing in the store but its empty root.
class DiscoverRun : public ::testing::Test {
  protected:
    SubprocessResult run(std::vector<std::string> args) {
        std::vector<std::string> all = {"-u", "http://127.0.0.1:9/cgi/u", "-i", dir / "store"};
        all.insert(all.begin(), args.begin(), args.end());
        SubprocessResult r = runUpdater(all, dir / "home");
        EXPECT_TRUE(r.started);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(entries(dir / "store"), std::vector<std::string>{"updater"});
        EXPECT_TRUE(entries(dir / "store/updater").empty()) << "-D writes nothing to the store";
        return r;
    }

    TempDir dir;
};

TEST_F(DiscoverRun, NothingAttachedGivesTheEmptyTable) {
    struct Case {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"-D"}, kSearching + "Discovered Devices: (USB)\n" + kNoDevices},
        {{"-D", "-t", "USB"}, kSearching + "Discovered Devices: (USB)\n" + kNoDevices},
        {{"-D", "-t", "TCPIP"}, kSearching + "Discovered Devices: (TCPIP)\n" + kNoDevices},
        {{"-D", "-r", "5A17C3A0"},
         kBanner + "Searching for Halvorine Network devices connected to 5A17C3A0\n" +
             "Discovered Devices: (Unknown)\n" + kNoDevices},
        {{"-D", "-r", "5A17C3A0", "-t", "TCPIP"},
         kBanner + "Searching for Halvorine Network devices connected to 5A17C3A0\n" +
             "Discovered Devices: (TCPIP)\n" + kNoDevices},
    };
    for (const Case& c : cases) {
        SubprocessResult r = run(c.args);
        EXPECT_EQ(r.out, c.out) << c.args.back();
        EXPECT_EQ(r.err, "") << c.args.back();
        EXPECT_EQ(r.exitStatus, 0) << c.args.back();
    }
}

// Modules with their own Ethernet interface in the far namespace of a testbed, each
// served over TCP and announced by multicast discovery through one veth link.
class DiscoverNetwork : public DiscoverRun {
  protected:
    void SetUp() override {
        VELTRANO_REQUIRE(ModuleNetwork::unavailableReason());
        network = std::make_unique<ModuleNetwork>();
    }
    // The servers' threads use their modules: they stop before any module goes.
    void TearDown() override {
        network.reset();
        kept.clear();
    }

    void announce(VirtualModule& module, uint16_t port) { network->serve(module, port); }
    void announceUnserved(uint32_t serialNumber, uint8_t address, uint16_t port, uint8_t model) {
        network->announceUnserved(serialNumber, address, port, model);
    }
    void startResponder() { network->startResponder(); }
    std::string ip() const { return "[" + network->farAddress() + "]"; }

    std::unique_ptr<ModuleNetwork> network;
    KeptModules kept;
};

TEST_F(DiscoverNetwork, ListsModulesFoundOverTcpipWithTheirAddresses) {
    VirtualModule& net = kept.make(moduleIdentity(0x5A17C301, 5, 2, 0x2F020F03, 4211));
    VirtualModule& acquire = kept.make(moduleIdentity(0x5A17C312, 17, 0x12, 0x2F020E07, 4107));
    // Refuses every information request: it still gets its row, with no firmware and
    // the addresses its discovery reply gave.
    VirtualModule& refusing = kept.make(moduleIdentity(0x5A17C3B1, 18, 8, 0x2F020F03, 4211));
    ModuleFaults faults;
    faults.replies["system.get"] = ReplyFault{ReplyFaultKind::ErrorReply};
    faults.replies["build"] = ReplyFault{ReplyFaultKind::ErrorReply};
    refusing.setFaults(faults);
    announce(net, 7001);
    announce(refusing, 7002);
    announce(acquire, 7003);
    startResponder();

    SubprocessResult r = run({"-D", "-t", "TCPIP"});
    EXPECT_EQ(r.out, kSearching + "Discovered Devices: (TCPIP)\n" + kIpHeader +
                         "    5A17C301  02       00      VT-CoreNet     2.15.3 (4211) " + ip() + "\n" +
                         "    5A17C3B1  08       08      VT-Relay       0.0.0 (0) " + ip() + "\n" +
                         "    5A17C312  12       00      VT-Acquire     2.14.7 (4107) " + ip() + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 0);
}

// A router at bus address 6 with modules at 2 (the first address probed), 0x10 and
// 0x22 on its I2C bus, and another module on the network that is not asked for.
class DiscoverRouter : public DiscoverNetwork {
  protected:
    void SetUp() override {
        DiscoverNetwork::SetUp();
        if (IsSkipped()) return;
        router.attachToBus(at02);
        router.attachToBus(at10);
        router.attachToBus(at22);
    }

    std::string walkRows() const {
        return "    5A17C302  02       06      VT-Relay       2.15.3 (4211) " + ip() + "\n" +
               "    5A17C310  10       06      VT-Acquire     2.15.3 (4211) " + ip() + "\n" +
               "    5A17C322  22       06      VT-Relay       2.14.7 (4107) " + ip() + "\n";
    }

    VirtualModule at02{moduleIdentity(0x5A17C302, 18, 2, 0x2F020F03, 4211)};
    VirtualModule at10{moduleIdentity(0x5A17C310, 17, 0x10, 0x2F020F03, 4211)};
    VirtualModule at22{moduleIdentity(0x5A17C322, 18, 0x22, 0x2F020E07, 4107)};
    VirtualModule router{moduleIdentity(0x5A17C3A0, 27, 6, 0x2F021000, 4290)};
    VirtualModule other{moduleIdentity(0x5A17C301, 5, 2, 0x2F020F03, 4211)};
};

TEST_F(DiscoverRouter, WalksTheRoutersBusInAddressOrderSkippingTheRoutersOwn) {
    announce(other, 7001);
    announce(router, 7003);
    startResponder();
    // The search log shows every probe: 2, 4, 8, ..., 252, never the router's 6.
    std::string log = "Found Link Module";
    for (unsigned a = 2; a <= 252; a += 2) {
        if (a == 6) continue;
        char line[80];
        std::snprintf(line, sizeof line, "Searching Address 0x%02x\n", a);
        log += line;
        if (a == 2 || a == 0x10 || a == 0x22) {
            std::snprintf(line, sizeof line, "Attempt Connect on address: 0x%02x\n", a);
            log += line;
            uint32_t serial = a == 2 ? 0x5A17C302 : a == 0x10 ? 0x5A17C310 : 0x5A17C322;
            std::snprintf(line, sizeof line, "Got Serial [0x%08X]\n", serial);
            log += line;
        }
    }
    const std::string searching = kBanner + "Searching for Halvorine Network devices connected to 5A17C3A0\n";
    struct Case {
        std::vector<std::string> args;
        std::string out, err;
    } cases[] = {
        // Without -t the router is looked for on USB, then on TCP/IP.
        {{"-D", "-r", "5A17C3A0", "-X", "0x101"},
         searching + "Discovered Devices: (Unknown)\n" + kIpHeader + walkRows(),
         "NETWORK: Found device [5A17C3A0] via link type [2]\n" + log},
        {{"-D", "-r", "5A17C3A0", "-t", "TCPIP"},
         searching + "Discovered Devices: (TCPIP)\n" + kIpHeader + walkRows(),
         ""},
    };
    for (const Case& c : cases) {
        uint64_t writesBefore = router.i2c().writes();
        SubprocessResult r = run(c.args);
        EXPECT_EQ(r.out, c.out) << c.args.back();
        EXPECT_EQ(r.err, c.err) << c.args.back();
        EXPECT_EQ(r.exitStatus, 0);
        EXPECT_EQ(router.i2c().writes() - writesBefore, 125u) << "each address but the router's, once";
        EXPECT_EQ(router.i2c().lastSpeed(), 3);
        EXPECT_FALSE(router.system().routing()) << "routing switched back after the walk";
    }
    EXPECT_EQ(other.i2c().writes(), 0u) << "only the router asked for is walked";
}

TEST_F(DiscoverRouter, ARouterThatFailsEndsTheWalkWithAnEmptyTable) {
    ModuleFaults faults;
    faults.replies["system.set"] = ReplyFault{ReplyFaultKind::ErrorReply, 0, -1, 21};
    router.setFaults(faults);
    announce(router, 7003);
    announceUnserved(0x5A17C3A9, 4, 7009, 27);
    startResponder();
    const std::string tail = "Discovered Devices: (TCPIP)\n" + kNoDevices;
    struct Case {
        std::string router, err;
    } cases[] = {
        // Found, but nothing listens at its port.
        {"5A17C3A9", "Error 25 on connectFromSpec\n"},
        // Connected, but it refuses to route.
        {"5A17C3A0", "Error 21 on route to me\n"},
        // Nobody by that serial number: no message at all.
        {"DEADBEEF", ""},
    };
    for (const Case& c : cases) {
        SubprocessResult r = run({"-D", "-r", c.router, "-t", "TCPIP"});
        EXPECT_EQ(r.out,
                  kBanner + "Searching for Halvorine Network devices connected to " + c.router + "\n" + tail)
            << c.router;
        EXPECT_EQ(r.err, c.err) << c.router;
        EXPECT_EQ(r.exitStatus, 0) << c.router;
    }
    EXPECT_EQ(router.i2c().writes(), 0u);
}

TEST_F(DiscoverRouter, ARouterThatFallsSilentEndsTheWalkWithWhatWasFound) {
    // Probes of 2, 4 and 8 are answered, then nothing.
    ModuleFaults faults;
    faults.replies["i2c.write"] = ReplyFault{ReplyFaultKind::NoReply, 3};
    router.setFaults(faults);
    announce(router, 7003);
    startResponder();
    auto start = std::chrono::steady_clock::now();
    SubprocessResult r = run({"-D", "-r", "5A17C3A0", "-t", "TCPIP"});
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.out, kBanner + "Searching for Halvorine Network devices connected to 5A17C3A0\n" +
                         "Discovered Devices: (TCPIP)\n" + kIpHeader +
                         "    5A17C302  02       06      VT-Relay       2.15.3 (4211) " + ip() + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 0);
    // A lost reply is no silent router: each unanswered address is probed twice,
    // and three of them in a row end the walk, not the 121 addresses left.
    EXPECT_LT(seconds, 12.0);
    EXPECT_EQ(router.i2c().writes(), 3u + 3u * 2u);
    EXPECT_FALSE(router.system().routing()) << "routing switched back after a cut-short walk too";
}

} // namespace
