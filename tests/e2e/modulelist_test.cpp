// The modulelist example against virtual modules: a module reached by its address,
// a router with two modules on its I2C bus, the same found by multicast discovery
// over veth pairs to a namespace of the test's own, and what it cannot reach.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "DiscoveryResponder.h"
#include "ModuleTcpServer.h"
#include "Subprocess.h"
#include "Testbed.h"
#include "VirtualModule.h"
#include "Required.h"

namespace {

using namespace Veltrano::Sim;

const char kProgram[] = VELTRANO_BIN_DIR "/modulelist";
const char kHeader[] = "\n    Device    Module  Router  Model         Firmware (Build)     Reached through\n";
// The bus modules' rows: each reports the router's address as its router.
const char kBehindRows[] =
    "    5A17C310  10      04      VT-Acquire    2.15.3 (4211)        bus 0x10 of 5A17C3A0\n"
    "    5A17C322  22      04      VT-Relay      2.14.7 (4107)        bus 0x22 of 5A17C3A0\n";

SubprocessResult modulelist(const std::vector<std::string>& args) {
    SubprocessOptions options;
    options.timeoutMs = 60000;
    return runSubprocess(kProgram, args, options);
}

// A module of its own and a router with two modules on its bus, each of the two
// served over TCP.
class ModuleNetwork : public ::testing::Test {
  protected:
    ModuleNetwork() {
        router.attachToBus(behind10);
        router.attachToBus(behind22);
    }

    void serve(const std::string& bindAddress = "127.0.0.1", uint16_t plainPort = 0,
               uint16_t routerPort = 0) {
        plainServer = std::make_unique<ModuleTcpServer>(plain, plainPort, bindAddress);
        routerServer = std::make_unique<ModuleTcpServer>(router, routerPort, bindAddress);
    }
    std::string plainTarget() const { return "127.0.0.1:" + std::to_string(plainServer->port()); }
    std::string routerTarget() const { return "127.0.0.1:" + std::to_string(routerServer->port()); }
    std::string plainRow(const std::string& via) const {
        return "    5A17C301  02      00      VT-CoreNet    2.15.3 (4211)        " + via + "\n";
    }
    std::string routerRow(const std::string& via) const {
        return "    5A17C3A0  04      00      VT-Router     2.16.0 (4290)        " + via + "\n";
    }

    // The modules on the bus outlive the router that drives them.
    VirtualModule behind10{moduleIdentity(0x5A17C310, 17, 0x10, 0x2F020F03, 4211)};
    VirtualModule behind22{moduleIdentity(0x5A17C322, 18, 0x22, 0x2F020E07, 4107)};
    VirtualModule plain{moduleIdentity(0x5A17C301, 5, 2, 0x2F020F03, 4211)};
    VirtualModule router{moduleIdentity(0x5A17C3A0, 27, 4, 0x2F021000, 4290)};
    std::unique_ptr<ModuleTcpServer> plainServer, routerServer;
};

TEST_F(ModuleNetwork, ReadsModulesByAddressAndTheModulesOnTheRoutersBus) {
    serve();
    SubprocessResult r =
        modulelist({"--tcp", plainTarget(), "--tcp", routerTarget(), "--router", "5a17c3a0"});
    EXPECT_EQ(r.out, "I2C bus of 5A17C3A0: 2 modules found\n" + std::string(kHeader) +
                         plainRow(plainTarget()) + routerRow(routerTarget()) + kBehindRows);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 0);
    // Every even address but the router's own was probed once, and routing ended.
    EXPECT_EQ(router.i2c().writes(), 125u);
    EXPECT_FALSE(router.system().routing());
    EXPECT_EQ(plain.i2c().writes(), 0u) << "only the router named is walked";
}

TEST_F(ModuleNetwork, FindsModulesByMulticastDiscoveryOncePerModule) {
    VELTRANO_REQUIRE(ApiTest::Testbed::unavailableReason());
    ApiTest::Testbed testbed;
    // Two links: every module answers through both, and is listed once, at the lower address.
    ApiTest::VethLink first = testbed.addLink();
    ApiTest::VethLink second = testbed.addLink();
    std::unique_ptr<DiscoveryResponder> responder;
    testbed.inFar([&] {
        serve("0.0.0.0", 7001, 7003);
        DiscoveryResponderOptions options;
        options.interfaces = {second.farAddress, first.farAddress};
        options.modules = {{0x5A17C3A0, 4, 7003, 27}, {0x5A17C301, 2, 7001, 5}};
        responder = std::make_unique<DiscoveryResponder>(options);
    });

    SubprocessResult r = modulelist({"--router", "5A17C3A0"});
    EXPECT_EQ(r.out, "Discovery over USB: no modules found\n"
                     "Discovery over TCP/IP: 2 modules found\n"
                     "I2C bus of 5A17C3A0: 2 modules found\n" +
                         std::string(kHeader) + plainRow("198.51.100.2:7001") +
                         routerRow("198.51.100.2:7003") + kBehindRows);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_GE(responder->requests(), 2u) << "asked through both links";
}

TEST_F(ModuleNetwork, SaysWhatItCannotReachAndGoesOn) {
    serve();
    // A port where nothing listens any more.
    std::string gone;
    {
        VirtualModule module;
        ModuleTcpServer server(module);
        gone = "127.0.0.1:" + std::to_string(server.port());
    }
    const std::string unreachable = "modulelist: " + gone + ": cannot connect: Connection error (error 25)\n";
    struct Case {
        std::vector<std::string> args;
        std::string out, err;
    } cases[] = {
        {{"--tcp", gone}, "\nNo modules found.\n", unreachable},
        {{"--tcp", gone, "--tcp", plainTarget()}, kHeader + plainRow(plainTarget()), unreachable},
        {{"--tcp", plainTarget(), "--router", "DEADBEEF"},
         kHeader + plainRow(plainTarget()),
         "modulelist: router DEADBEEF not found\n"},
    };
    for (const Case& c : cases) {
        SubprocessResult r = modulelist(c.args);
        EXPECT_EQ(r.out, c.out) << c.args[1];
        EXPECT_EQ(r.err, c.err) << c.args[1];
        EXPECT_EQ(r.exitStatus, 1) << c.args[1];
    }
}

TEST_F(ModuleNetwork, ABusModuleThatDoesNotAnswerIsReportedAndTheWalkGoesOn) {
    ModuleFaults faults;
    faults.replies["system.get"] = ReplyFault{ReplyFaultKind::NoReply};
    behind10.setFaults(faults);
    serve();
    SubprocessResult r = modulelist({"--tcp", routerTarget(), "--router", "5A17C3A0"});
    EXPECT_EQ(r.out,
              "I2C bus of 5A17C3A0: 1 module found\n" + std::string(kHeader) + routerRow(routerTarget()) +
                  "    5A17C322  22      04      VT-Relay      2.14.7 (4107)        bus 0x22 of 5A17C3A0\n");
    EXPECT_EQ(r.err, "modulelist: bus 0x10 of 5A17C3A0: cannot read: Timeout occurred (error 18)\n");
    EXPECT_EQ(r.exitStatus, 1);
}

TEST_F(ModuleNetwork, StopsWalkingWhenTheRouterFallsSilent) {
    ModuleFaults faults;
    faults.replies["i2c.write"] = ReplyFault{ReplyFaultKind::NoReply, 3};
    router.setFaults(faults);
    serve();
    auto start = std::chrono::steady_clock::now();
    SubprocessResult r = modulelist({"--tcp", routerTarget(), "--router", "5A17C3A0"});
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.out,
              "I2C bus of 5A17C3A0: no modules found\n" + std::string(kHeader) + routerRow(routerTarget()));
    EXPECT_EQ(r.err, "modulelist: 5A17C3A0: no answer on its I2C bus\n");
    EXPECT_EQ(r.exitStatus, 1);
    // One unanswered probe, not one for each of the 121 addresses left.
    EXPECT_LT(seconds, 10.0);
    EXPECT_EQ(router.i2c().writes(), 4u);
    EXPECT_FALSE(router.system().routing()) << "routing ends after a failed walk too";
}

TEST(ModuleListArguments, HelpAndBadArguments) {
    SubprocessResult help = modulelist({"--help"});
    EXPECT_EQ(help.out.rfind("usage: modulelist [--usb] [--tcpip] [--tcp ADDRESS:PORT]...", 0), 0u)
        << help.out;
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.exitStatus, 0);

    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-x"}, "unknown option '-x'"},
        {{"--tcp"}, "--tcp needs a value"},
        {{"--tcp", "127.0.0.1"}, "--tcp '127.0.0.1': not ADDRESS:PORT (IPv4, port 1 to 65535)"},
        {{"--tcp", "127.0.0.1:0"}, "--tcp '127.0.0.1:0': not ADDRESS:PORT (IPv4, port 1 to 65535)"},
        {{"--tcp", "127.0.0.1:65536"}, "--tcp '127.0.0.1:65536': not ADDRESS:PORT (IPv4, port 1 to 65535)"},
        {{"--tcp", "modules.lab:7001"}, "--tcp 'modules.lab:7001': not ADDRESS:PORT (IPv4, port 1 to 65535)"},
        {{"--router", "5A17C3A0X"}, "--router '5A17C3A0X': not a hexadecimal serial number"},
        {{"--router", "0"}, "--router '0': not a hexadecimal serial number"},
        {{"--usb", "extra"}, "unexpected argument 'extra'"},
    };
    for (const Case& c : cases) {
        SubprocessResult r = modulelist(c.args);
        EXPECT_EQ(r.out, "") << c.args[0];
        EXPECT_EQ(r.err, "modulelist: " + c.message + "\nTry 'modulelist --help'.\n");
        EXPECT_EQ(r.exitStatus, 1) << c.args[0];
    }
}

} // namespace
