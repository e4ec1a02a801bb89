// Several users of one USB module in one process: sharing Links joining the
// server the first one started, a sharing Link beside a direct one, and the
// server's lifetime as they go in either order.
#include <gtest/gtest.h>

#include "ApiFixtures.h"
#include "aServer_ZeroMQ.h"

using namespace ApiTest;

namespace {

constexpr uint32_t kSerial = 0x40F5849A;

bool answers(Link& link) {
    unsigned char address = 0;
    return link.getModuleAddress(&address) == aErrNone && address == 4;
}

aSolvanConfig sharingConfig() {
    aSolvanConfig config;
    config.allowFallback = 0;
    return config;
}

Link* connected(std::unique_ptr<Link>& link, const linkSpec& spec, const char* name, aSolvanConfig config) {
    link = std::make_unique<Link>(spec, name);
    EXPECT_EQ(link->setConfig(config), aErrNone);
    EXPECT_EQ(link->connect(), aErrNone) << name;
    return link.get();
}

// Whichever of two sharing Links goes first, the other keeps the server and
// the USB link, and the last one out ends both.
TEST(SharingUsers, TwoSharingLinksOnOneModuleGoInEitherOrder) {
    for (bool firstGoesFirst : {true, false}) {
        SCOPED_TRACE(firstGoesFirst ? "the server's starter goes first" : "the joiner goes first");
        ModuleOn device(Carrier::Usb);
        std::unique_ptr<Link> links[2];
        connected(links[0], device.spec(), "starter", sharingConfig());
        connected(links[1], device.spec(), "joiner", sharingConfig());
        aSolvanConfig configs[2];
        for (int i = 0; i < 2; ++i)
            links[i]->getConfig(&configs[i]);
        ASSERT_NE(configs[0].serverPort, 0);
        EXPECT_EQ(configs[1].serverPort, configs[0].serverPort) << "the joiner uses the same server";

        std::unique_ptr<Link>& going = links[firstGoesFirst ? 0 : 1];
        std::unique_ptr<Link>& staying = links[firstGoesFirst ? 1 : 0];
        going.reset();
        EXPECT_TRUE(staying->isConnected());
        EXPECT_TRUE(answers(*staying)) << "the server and the USB link stay for the remaining user";
        uint16 port = 0;
        uint32 address = 0;
        EXPECT_TRUE(aLink_GetServer(kSerial, &port, &address));
        EXPECT_EQ(port, configs[0].serverPort);

        staying.reset();
        EXPECT_FALSE(aLink_GetServer(kSerial, &port, &address)) << "the last user ended the server";
        EXPECT_TRUE(eventuallyTrue([&] { return !device.module().linkControl().routeForced(); }))
            << "and the USB link";
    }
}

// A module this process holds directly gets no server, which would take the
// direct user's replies: a sharing Link shares the direct link instead, and a
// Link opened directly while a server runs is refused.
TEST(SharingUsers, DirectAndSharingLinksOnOneModule) {
    ModuleOn device(Carrier::Usb);
    {
        std::unique_ptr<Link> direct, sharing;
        aSolvanConfig directOnly = directConfig();
        connected(direct, device.spec(), "direct", directOnly);
        uint16 port = 0;
        uint32 address = kLoopbackInterface;
        EXPECT_EQ(aLink_CreateServer(kSerial, &port, &address, true), 0u)
            << "no server on a link the process holds directly";
        connected(sharing, device.spec(), "sharing", sharingConfig());
        aSolvanConfig config;
        sharing->getConfig(&config);
        EXPECT_EQ(config.serverPort, 0) << "no server runs";
        EXPECT_FALSE(aLink_GetServer(kSerial, &port, &address));
        EXPECT_TRUE(answers(*direct));
        EXPECT_TRUE(answers(*sharing));
        direct.reset();
        EXPECT_TRUE(answers(*sharing)) << "the shared direct link stays for its other user";
    }
    ASSERT_TRUE(eventuallyTrue([&] { return !device.module().linkControl().routeForced(); }));
    {
        std::unique_ptr<Link> sharing, direct;
        connected(sharing, device.spec(), "sharing", sharingConfig());
        direct = std::make_unique<Link>(device.spec(), "direct");
        direct->setConfig(directConfig());
        EXPECT_EQ(direct->connect(), aErrConnection) << "a served module is reached through its server only";
        EXPECT_TRUE(answers(*sharing));
    }
}

// A module shared through a server of this process, held by a Module of
// static storage, when the program ends: made before the library's statics,
// it goes after czmq's own exit handler, which closes every socket czmq still
// knows from the exiting thread. The sharing tasks must have stopped first.
struct SharingAtExit {
    std::unique_ptr<ModuleOn> device;
    std::unique_ptr<Module> module;
};
SharingAtExit gSharingAtExit;

void sShareUntilExit(bool midRequest) {
    gSharingAtExit.device = std::make_unique<ModuleOn>(Carrier::Usb);
    gSharingAtExit.module = std::make_unique<Module>();
    if (gSharingAtExit.module->connectFromSpec(gSharingAtExit.device->spec()) != aErrNone) std::_Exit(3);
    unsigned int build = 0;
    if (gSharingAtExit.module->getBuild(&build) != aErrNone) std::_Exit(4);
    if (midRequest) {
        const unsigned char echo[] = {1, 2, 3};
        gSharingAtExit.module->getLink()->sendPacket(4, 23, sizeof echo, echo);
    }
    std::exit(0);
}

TEST(SharingUsersDeathTest, AProgramMayEndWhileItSharesAModule) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (bool midRequest : {false, true}) {
        SCOPED_TRACE(midRequest ? "a request in flight" : "idle");
        EXPECT_EXIT(sShareUntilExit(midRequest), ::testing::ExitedWithCode(0), "");
    }
}

} // namespace
