// Discovery of link-sharing servers by their beacons: local mode on loopback (our own
// beacon), a named interface over a veth pair (czmq's zbeacon), and a failure at each
// step of a discovery.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

#include "BeaconPublisher.h"
#include "DiscoveryHarness.h"
#include "Testbed.h"
#include "aDiscoveryFaults.h"
#include "zBeaconInterface.h"
#include "Required.h"

namespace {

using namespace ApiTest;
using Veltrano::Sim::BeaconPublisher;
using Veltrano::Sim::BeaconPublisherOptions;

const uint32 kServer = 0x40F5849A;
const uint32 kOther = 0x0BADCAFE;

bool same(const linkSpec& a, const linkSpec& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A server on this machine's loopback: publishes only after hearing a discovery, so that
// finding it also shows that discovery's own beacon went out.
std::unique_ptr<BeaconPublisher> loopbackServer(const linkSpec& spec, bool answer = true) {
    BeaconPublisherOptions options;
    options.payload = payloadOf(spec);
    options.answer = answer;
    return std::make_unique<BeaconPublisher>(options);
}

// The setting in force before a discovery is in force after it, and the lock is free.
class BeaconDiscovery : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(zBeaconInterface_setAndLock("192.0.2.77"));
        zBeaconInterface_unlock();
    }
    void TearDown() override {
        EXPECT_STREQ(zBeaconInterface_getAndLock(), "192.0.2.77");
        zBeaconInterface_unlock();
    }
};

TEST_F(BeaconDiscovery, LocalModeFindsAServerOnThisMachine) {
    const linkSpec server = serverSpec(kServer, "127.0.0.1", 7979, 0x13);
    auto publisher = loopbackServer(server);
    for (uint32 local : {0u, uint32(aDISCOVERY_LOCALHOST)}) {
        DiscoveryRun run = discover(ASOLVAN, local);
        EXPECT_EQ(run.count, 1);
        ASSERT_EQ(run.specs.size(), 1u);
        EXPECT_TRUE(same(run.specs[0], server));
    }
    EXPECT_GE(publisher->discoveriesHeard(), 2u);
}

// A record is taken once per serial number, and only when it is a whole record of a known
// link type; in local mode only when it names this machine.
TEST_F(BeaconDiscovery, LocalModeSkipsDuplicatesMalformedRecordsAndOtherMachines) {
    linkSpec unknownType = serverSpec(kOther + 1, "127.0.0.1", 7981);
    unknownType.type = static_cast<linkType>(9);
    std::vector<std::unique_ptr<BeaconPublisher>> publishers;
    publishers.push_back(loopbackServer(serverSpec(kServer, "127.0.0.1", 7979)));
    publishers.push_back(loopbackServer(serverSpec(kServer, "127.0.0.1", 7980)));       // same module again
    publishers.push_back(loopbackServer(serverSpec(kOther + 2, "198.51.100.2", 7979))); // another machine
    publishers.push_back(loopbackServer(unknownType));
    for (size_t length : {size_t(127), size_t(129)}) {
        BeaconPublisherOptions options;
        options.payload = payloadOf(serverSpec(kOther + 3, "127.0.0.1", 7982)) + std::string(1, '\0');
        options.payload.resize(length);
        publishers.push_back(std::make_unique<BeaconPublisher>(options));
    }
    publishers.push_back(loopbackServer(serverSpec(kOther, "127.0.0.1", 7983)));

    DiscoveryRun run = discover(ASOLVAN);
    std::multiset<uint32> serials;
    for (const linkSpec& spec : run.specs)
        serials.insert(spec.serialNumber);
    EXPECT_EQ(serials, (std::multiset<uint32>{kServer, kOther}));
    EXPECT_EQ(run.count, 2);
}

TEST_F(BeaconDiscovery, CallbackEndsDiscoveryAndFindPicksTheServer) {
    auto first = loopbackServer(serverSpec(kServer, "127.0.0.1", 7979));
    auto second = loopbackServer(serverSpec(kOther, "127.0.0.1", 7980));
    DiscoveryRun run = discover(ASOLVAN, 0, 1);
    EXPECT_EQ(run.count, 1);
    EXPECT_LT(run.seconds, 1.5);

    linkSpec* found = aDiscovery_FindModule(ASOLVAN, kOther, 0);
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(same(*found, serverSpec(kOther, "127.0.0.1", 7980)));
    aLinkSpec_Destroy(&found);
    EXPECT_EQ(aDiscovery_FindModule(ASOLVAN, 0x12345678, 0), nullptr);
}

TEST_F(BeaconDiscovery, NoServerEndsAfterTheTwentyTwoPolls) {
    DiscoveryRun run = discover(ASOLVAN);
    EXPECT_EQ(run.count, 0);
    EXPECT_GE(run.seconds, 2.1);
    EXPECT_LT(run.seconds, 4.0);
    std::printf("beacon discovery (local mode), no server answering: %.3f s\n", run.seconds);
    RecordProperty("seconds_no_answer", std::to_string(run.seconds));
}

TEST_F(BeaconDiscovery, PublisherProgramIsFoundInLocalMode) {
    BackgroundProgram publisher(
        {program("beaconpublisher"), "--serial", "0BADCAFE", "--model", "19", "--port", "7990", "--answer"});
    ASSERT_EQ(publisher.firstLine(), "ready\n");
    linkSpec* found = aDiscovery_FindFirstModule(ASOLVAN, 0);
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(same(*found, serverSpec(kOther, "127.0.0.1", 7990, 19)));
    aLinkSpec_Destroy(&found);
    EXPECT_EQ(publisher.stop(), 0);
}

// Over a veth pair to another namespace: the record of a server there is taken when the
// discovery names the interface, and local mode does not hear it.
TEST_F(BeaconDiscovery, NamedInterfaceFindsAServerOnAnotherMachine) {
    VELTRANO_REQUIRE(Testbed::unavailableReason());
    Testbed testbed;
    VethLink link = testbed.addLink();
    const linkSpec server = serverSpec(kServer, link.farAddress.c_str(), 7979, 0x13);
    std::unique_ptr<BeaconPublisher> publisher;
    testbed.inFar([&] {
        BeaconPublisherOptions options;
        options.from = link.farAddress;
        options.to = link.broadcast;
        options.payload = payloadOf(server);
        options.answer = true;
        publisher = std::make_unique<BeaconPublisher>(options);
    });

    DiscoveryRun named = discover(ASOLVAN, ipv4(link.nearAddress.c_str()));
    ASSERT_EQ(named.specs.size(), 1u);
    EXPECT_TRUE(same(named.specs[0], server));
    EXPECT_GE(publisher->discoveriesHeard(), 1u);
    std::printf("beacon discovery (named interface), one server answering: %.3f s\n", named.seconds);

    EXPECT_EQ(discover(ASOLVAN).count, 0);

    // The same record heard on loopback: local mode refuses another machine's server.
    auto local = loopbackServer(server, false);
    EXPECT_EQ(discover(ASOLVAN).count, 0);
}

// Every step of a discovery made to fail in turn: whatever was made is gone afterwards
// (actor threads, sockets), the lock is free, the setting from before is back, and the
// next discovery finds the server.
class BeaconDiscoveryFault : public BeaconDiscovery, public ::testing::WithParamInterface<aDiscoveryStep> {
  protected:
    void TearDown() override {
        aDiscovery_InjectFault(aDISCOVERY_STEP_NONE);
        BeaconDiscovery::TearDown();
    }
};

TEST_P(BeaconDiscoveryFault, ReleasesEverythingAndTheNextDiscoveryWorks) {
    auto publisher = loopbackServer(serverSpec(kServer, "127.0.0.1", 7979));
    // czmq's own threads and sockets start with the first discovery and stay.
    ASSERT_EQ(discover(ASOLVAN, 0, 1).count, 1);
    const int threads = steadyCount(threadCount);
    const int descriptors = steadyCount(descriptorCount);

    const aDiscoveryStep step = GetParam();
    aDiscovery_InjectFault(step);
    DiscoveryRun failed = discover(ASOLVAN);
    aDiscovery_InjectFault(aDISCOVERY_STEP_NONE);
    // Only the last two steps come after the search itself.
    const bool searched = step == aDISCOVERY_STEP_UNSUBSCRIBE || step == aDISCOVERY_STEP_SILENCE;
    EXPECT_EQ(failed.count, searched ? 1 : 0);
    EXPECT_LE(settlesTo(threadCount, threads), threads);
    EXPECT_LE(settlesTo(descriptorCount, descriptors), descriptors);
    EXPECT_STREQ(zBeaconInterface_get(), "192.0.2.77");

    EXPECT_EQ(discover(ASOLVAN, 0, 1).count, 1);
}

std::string stepName(const ::testing::TestParamInfo<aDiscoveryStep>& info) {
    static const char* const names[] = {"None",    "Lock",      "Create",  "Configure",   "Host",
                                        "Publish", "Subscribe", "Timeout", "Unsubscribe", "Silence"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(EachStep, BeaconDiscoveryFault,
                         ::testing::Values(aDISCOVERY_STEP_LOCK, aDISCOVERY_STEP_CREATE,
                                           aDISCOVERY_STEP_CONFIGURE, aDISCOVERY_STEP_HOST,
                                           aDISCOVERY_STEP_PUBLISH, aDISCOVERY_STEP_SUBSCRIBE,
                                           aDISCOVERY_STEP_TIMEOUT, aDISCOVERY_STEP_UNSUBSCRIBE,
                                           aDISCOVERY_STEP_SILENCE),
                         stepName);

} // namespace
