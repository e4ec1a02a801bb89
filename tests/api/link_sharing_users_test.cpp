// Several users of one USB module in one process: sharing Links joining the
// server the first one started, a sharing Link beside a direct one, the
// server's lifetime as they go in either order, subscriptions through the
// server, and the program ending while it shares.
#include <gtest/gtest.h>

#include <atomic>
#include <set>

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

// Subscriptions through the server: the server holds one (and sends its
// client the sample batches) only once the module confirmed it, and turns the
// value off at the module when its last holder goes without unsubscribing.
TEST(SharingUsers, ASubscriptionIsHeldOnlyOnceTheModuleConfirmedIt) {
    struct Case {
        const char* what;
        bool faulted;
        Veltrano::Sim::ReplyFaultKind fault;
        aErr result;
    };
    const Case cases[] = {
        {"confirmed", false, ReplyFaultKind::NoReply, aErrNone},
        {"refused", true, ReplyFaultKind::ErrorReply, aErrBusy},
        {"unanswered", true, ReplyFaultKind::NoReply, aErrTimeout},
    };
    constexpr uint8_t kClass = 18;
    constexpr uint32_t kWord = 0x04120100; // module 4, class 18, option 1, index 0
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ModuleIdentity id = identity(4, kSerial);
        id.heartbeatIntervalMs = 20; // batches leave the server at each heartbeat
        ModuleOn device(Carrier::Usb, id);
        Veltrano::Sim::StreamArea& area = device.module().stream();
        Veltrano::Sim::StreamSource source;
        source.command = kClass;
        source.option = 1;
        source.width = 4;
        area.setSources({source});
        std::unique_ptr<Link> starter, joiner;
        connected(starter, device.spec(), "starter", sharingConfig());
        connected(joiner, device.spec(), "joiner", sharingConfig());
        if (c.faulted) device.fault("stream", c.fault, 0, 1, aErrBusy);
        std::atomic<int> samples{0};
        streamCallback count = [](const aPacket*, void* ref) -> uint8 {
            ++*static_cast<std::atomic<int>*>(ref);
            return 0;
        };
        ASSERT_EQ(joiner->registerStreamCallback(4, kClass, 1, 0, true, count, &samples), c.result);
        const bool held = c.result == aErrNone;
        EXPECT_EQ(joiner->filterActiveStreamKeys(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, true).size(), held ? 1u : 0u);
        // One that went unanswered may have been taken: the server turns it off
        // once it has given up on the answer.
        EXPECT_TRUE(eventuallyTrue(
            [&] { return area.subscriptions() == (held ? std::set<uint32_t>{kWord} : std::set<uint32_t>{}); },
            3000));

        // A module streaming anyway: only a holder gets the batches.
        unsigned char match[] = {kClass};
        joiner->dropMatchingPackets(4, match, 1);
        area.setFreeRunning(true);
        area.burst(20);
        if (held) {
            EXPECT_TRUE(eventuallyTrue([&] { return samples == 20; }));
        } else {
            unsigned char length = 1;
            unsigned char data[aPACKET_MAX_DATA];
            EXPECT_EQ(joiner->receivePacket(4, match, &length, data, 500), aErrTimeout)
                << "a batch reached a client whose subscription the module did not confirm";
            continue;
        }
        area.setFreeRunning(false);
        area.setRate(500);
        joiner.reset(); // goes without unsubscribing
        EXPECT_TRUE(eventuallyTrue([&] { return area.subscriptions().empty(); }, 5000))
            << "the server turns off what nobody holds any more";
        EXPECT_TRUE(answers(*starter));
        area.setRate(0);
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
