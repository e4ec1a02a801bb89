// -D over USB, in-process: the virtual USB bus stands in for the USB modules that this
// machine cannot have, and the table goes to a recording display.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../updater/RecordingDisplay.h"
#include "DiscoveryResponder.h"
#include "ModuleTcpServer.h"
#include "ModuleUsbBus.h"
#include "Testbed.h"
#include "UpdaterApp.h"
#include "VirtualModule.h"
#include "Required.h"

namespace {

using namespace Veltrano::Sim;

const char kHeader[] = "    Device    Module   Router  Model          Firmware Version (Build)";
const char kIpHeader[] =
    "    Device    Module   Router  Model          Firmware Version (Build)   [IP address]";

ModuleFaults refusing(uint32_t answeredFirst) {
    ModuleFaults faults;
    faults.replies["system.get"] = ReplyFault{ReplyFaultKind::ErrorReply, answeredFirst};
    return faults;
}

class DiscoverUsb : public ::testing::Test {
  protected:
    std::vector<std::string> table(const DiscoveredDeviceList& list, uint32_t transport) {
        RecordingDisplay shown;
        printDiscoveredDevices(&shown, list, transport);
        EXPECT_TRUE(shown.errors.empty());
        return shown.messages;
    }

    RecordingDisplay display;
    UpdaterApp app{"http://127.0.0.1:9/cgi/u", "/nonexistent/store", &display};
    ModuleUsbBus bus;
};

TEST_F(DiscoverUsb, AModuleHeldElsewhereOrRefusingItsInformationGetsAnErrorRow) {
    VirtualModule core(moduleIdentity(0x5A17C301, 4, 2, 0x2F020F03, 4211));
    VirtualModule held(moduleIdentity(0x5A17C3B2, 4, 4, 0x2F020F03, 4211));
    VirtualModule silent(moduleIdentity(0x5A17C3B3, 13, 6, 0x2F020F03, 4211));
    silent.setFaults(refusing(0));
    bus.attach(core);
    bus.attach(held);
    bus.attach(silent);
    bus.setHeldElsewhere(held, true);

    DiscoveredDeviceList list = app.Discover_Devices(1);
    EXPECT_EQ(table(list, 1), (std::vector<std::string>{
                                  "Discovered Devices: (USB)",
                                  kHeader,
                                  "    5A17C301  02       00      VT-CoreUSB     2.15.3 (4211)",
                                  "    5A17C3B2  [Error (25): Is someone else connected to this device?]",
                                  "    5A17C3B3  [Error (6): Is someone else connected to this device?]",
                              }));
    EXPECT_TRUE(display.errors.empty());
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[2].buildNumber, 4211u) << "the build is read before the refused requests";
    EXPECT_EQ(list[2].modelName, "VT-Power");
    EXPECT_EQ(bus.opens(core), 1u);
    EXPECT_EQ(bus.opens(silent), 1u);
}

TEST_F(DiscoverUsb, ModulesBehindAUsbRouterHaveNoAddressColumnEntry) {
    VirtualModule router(moduleIdentity(0x5A17C3A0, 27, 6, 0x2F021000, 4290));
    VirtualModule at02(moduleIdentity(0x5A17C302, 18, 2, 0x2F020F03, 4211));
    // Gives its serial number, then refuses the rest.
    VirtualModule at10(moduleIdentity(0x5A17C310, 17, 0x10, 0x2F020F03, 4211));
    at10.setFaults(refusing(1));
    router.attachToBus(at02);
    router.attachToBus(at10);
    bus.attach(router);

    DiscoveredDeviceList list = app.Discover_NetworkDevices(0x5A17C3A0, 0);
    EXPECT_EQ(table(list, 0), (std::vector<std::string>{
                                  "Discovered Devices: (Unknown)",
                                  kIpHeader,
                                  "    5A17C302  02       06      VT-Relay       2.15.3 (4211)",
                                  "    5A17C310  [Error (6): Is someone else connected to this device?]",
                              }));
    EXPECT_TRUE(display.errors.empty());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].busAddress, 2u);
    EXPECT_EQ(list[0].specifier.type, USB);
    EXPECT_EQ(list[0].specifier.routerSerialNumber, 0x5A17C3A0u);
    EXPECT_EQ(list[0].specifier.usbSerialNumber, 0x5A17C3A0u) << "the router's way in";
    EXPECT_EQ(list[1].busAddress, 0x10u);
    EXPECT_EQ(router.i2c().writes(), 125u);
    EXPECT_FALSE(router.system().routing());
}

// A router on TCP/IP is still found when another module sits on USB.
TEST_F(DiscoverUsb, ARouterOnTcpipIsFoundWhileOtherModulesAreOnUsb) {
    VELTRANO_REQUIRE(ApiTest::Testbed::unavailableReason());
    VirtualModule core(moduleIdentity(0x5A17C301, 4, 2, 0x2F020F03, 4211));
    bus.attach(core);
    VirtualModule router(moduleIdentity(0x5A17C3A0, 27, 6, 0x2F021000, 4290));
    VirtualModule at02(moduleIdentity(0x5A17C302, 18, 2, 0x2F020F03, 4211));
    router.attachToBus(at02);
    ApiTest::Testbed testbed;
    ApiTest::VethLink link = testbed.addLink();
    std::unique_ptr<ModuleTcpServer> server;
    std::unique_ptr<DiscoveryResponder> responder;
    testbed.inFar([&] {
        server = std::make_unique<ModuleTcpServer>(router, 7003, "0.0.0.0");
        DiscoveryResponderOptions options;
        options.interfaces = {link.farAddress};
        options.modules = {{0x5A17C3A0, 6, 7003, 27}};
        responder = std::make_unique<DiscoveryResponder>(options);
    });

    DiscoveredDeviceList list = app.Discover_NetworkDevices(0x5A17C3A0, 0);
    EXPECT_EQ(table(list, 0),
              (std::vector<std::string>{
                  "Discovered Devices: (Unknown)",
                  kIpHeader,
                  "    5A17C302  02       06      VT-Relay       2.15.3 (4211) [" + link.farAddress + "]",
              }));
    EXPECT_EQ(bus.opens(core), 0u) << "a module that is not the router is not opened";
}

} // namespace
