// A router module with three modules on its I2C bus: searching the bus the way
// the update tool does, connecting each module through the router's link, and
// reading their values from several threads at once.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "ApiFixtures.h"
#include "I2CClass.h"
#include "SystemClass.h"

using namespace ApiTest;

namespace {

constexpr uint8_t kBusAddresses[] = {0x10, 0x22, 0x64};
constexpr uint32_t kBusSerials[] = {0x10000010, 0x20000022, 0x30000064};

class RouterNetwork : public ::testing::TestWithParam<Carrier> {
  protected:
    RouterNetwork() {
        for (size_t i = 0; i < 3; ++i) {
            behind.push_back(std::make_unique<VirtualModule>(identity(kBusAddresses[i], kBusSerials[i])));
            router.module().attachToBus(*behind.back());
        }
    }

    // Every even bus address but the router's own where a write of two zero
    // bytes succeeds.
    std::vector<uint8_t> searchBus(I2CClass& bus) {
        std::vector<uint8_t> found;
        const unsigned char zeros[] = {0, 0};
        for (unsigned address = 2; address <= 252; address += 2)
            if (address != routerModule.getModuleAddress() &&
                bus.write(static_cast<unsigned char>(address), 2, zeros) == aErrNone)
                found.push_back(static_cast<uint8_t>(address));
        return found;
    }

    // The modules on the bus outlive the router that drives them.
    std::vector<std::unique_ptr<VirtualModule>> behind;
    ModuleOn router{GetParam(), identity(4, 0x40F5849A)};
    Module routerModule{0, 0};
};

TEST_P(RouterNetwork, SearchTheBusAndReachEachModuleThroughTheRouter) {
    ASSERT_EQ(connectModule(routerModule, router.spec()), aErrNone);
    SystemClass routerSystem;
    routerSystem.init(&routerModule, 0);
    ASSERT_EQ(routerSystem.routeToMe(1), aErrNone);
    I2CClass bus;
    bus.init(&routerModule, 0);
    ASSERT_EQ(bus.setSpeed(3), aErrNone);
    ASSERT_EQ(searchBus(bus), std::vector<uint8_t>(std::begin(kBusAddresses), std::end(kBusAddresses)));

    std::vector<std::unique_ptr<Module>> modules;
    for (uint8_t address : kBusAddresses) {
        modules.push_back(std::make_unique<Module>(address, false, 0));
        Module& module = *modules.back();
        ASSERT_EQ(module.setConfig(directConfig()), aErrNone);
        ASSERT_EQ(module.connectThroughLinkModule(&routerModule), aErrNone);
        linkSpec spec, routerSpec;
        ASSERT_EQ(module.getLinkSpecifier(&spec), aErrNone);
        ASSERT_EQ(routerModule.getLinkSpecifier(&routerSpec), aErrNone);
        EXPECT_EQ(std::memcmp(&spec, &routerSpec, sizeof spec), 0) << "the router's specifier";
        EXPECT_EQ(module.connectThroughLinkModule(&routerModule), aErrNone) << "already connected";
    }

    // Replies of the three share one incoming queue and are told apart by
    // address: read them from three threads at once.
    std::vector<std::thread> readers;
    std::vector<aErr> results(3, aErrUnknown);
    std::vector<unsigned int> serials(3, 0);
    for (size_t i = 0; i < 3; ++i)
        readers.emplace_back([&, i] {
            SystemClass system;
            system.init(modules[i].get(), 0);
            for (int round = 0; round < 20 && (results[i] = system.getSerialNumber(&serials[i])) == aErrNone;
                 ++round) {
            }
        });
    for (std::thread& reader : readers)
        reader.join();
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(results[i], aErrNone) << i;
        EXPECT_EQ(serials[i], kBusSerials[i]) << i;
    }
    EXPECT_GE(router.module().packetsReceived(), 60u);

    // Without routing to the host nothing passes the router.
    ASSERT_EQ(routerSystem.routeToMe(0), aErrNone);
    SystemClass first;
    first.init(modules[0].get(), 0);
    unsigned int serial = 0;
    EXPECT_EQ(first.getSerialNumber(&serial), aErrTimeout);

    // The modules behind keep the router's link alive when the router goes.
    routerModule.disconnect();
    EXPECT_TRUE(modules[0]->isConnected());
    ASSERT_EQ(modules[0]->disconnect(), aErrNone);
    EXPECT_EQ(modules[0]->reconnect(), aErrNone) << "from the router's specifier";
    EXPECT_EQ(modules[0]->getModuleAddress(), kBusAddresses[0])
        << "networking stays off: the address is kept";
}

INSTANTIATE_TEST_SUITE_P(Carriers, RouterNetwork, ::testing::Values(Carrier::Tcp, Carrier::Usb),
                         [](const auto& info) { return carrierName(info.param); });

TEST(Router, ConnectThroughNeedsTheRoutersLinkAndSpecifier) {
    Module module(0x10, false, 0);
    EXPECT_EQ(module.connectThroughLinkModule(nullptr), aErrInitialization);
    Module bare;
    EXPECT_EQ(module.connectThroughLinkModule(&bare), aErrNotFound) << "no specifier";
    ModuleOn device(Carrier::Tcp);
    Link* link = bare.getLink();
    ASSERT_EQ(link->setLinkSpecifier(device.spec()), aErrNone);
    EXPECT_EQ(module.connectThroughLinkModule(&bare), aErrInitialization) << "the router is not connected";
}

} // namespace
