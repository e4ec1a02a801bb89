// Links to the virtual module over every carrier, with real threads on both sides.
#include <gtest/gtest.h>

#include "LinkFixtures.h"
#include "ModuleCarrier.h"
#include "aLinkInternal.h"

using namespace LinkTest;
using Veltrano::Sim::ModuleFaults;
using Veltrano::Sim::ModuleIdentity;

namespace {

ModuleIdentity identity(uint32_t heartbeatMs = 0) {
    ModuleIdentity id;
    id.address = 0x06;
    id.serialNumber = 0x1234ABCD;
    id.model = 13;
    id.version = 0x2F020F03;
    id.heartbeatIntervalMs = heartbeatMs;
    return id;
}

class ModuleLink : public ::testing::TestWithParam<Carrier> {};

TEST_P(ModuleLink, SystemEntityGetsRoundTrip) {
    ModuleCarrier carrier(GetParam(), identity());
    uint32 ref = carrier.open();
    ASSERT_NE(ref, 0u);
    EXPECT_EQ(entityGet(ref, 0x06, 3, 9), (Bytes{3, 9, 0, 0x12, 0x34, 0xAB, 0xCD}));
    EXPECT_EQ(entityGet(ref, 0x06, 3, 8), (Bytes{3, 8, 0, 13}));
    EXPECT_EQ(entityGet(ref, 0x06, 3, 1), (Bytes{3, 1, 0, 0x06}));
    EXPECT_EQ(entityGet(ref, 0x06, 3, 7), (Bytes{3, 7, 0, 0x2F, 0x02, 0x0F, 0x03}));
    // An option the module does not have: an error reply with aErrUnimplemented.
    EXPECT_EQ(entityGet(ref, 0x06, 3, 12), (Bytes{3, 12, 0x80, aErrUnimplemented}));
    // Another address gets no answer.
    EXPECT_TRUE(entityGet(ref, 0x08, 3, 9, 100).empty());
    EXPECT_TRUE(carrier.module().linkControl().routeForced());
    EXPECT_EQ(aLink_Destroy(&ref), aErrNone);
    EXPECT_TRUE(eventually([&] { return !carrier.module().linkControl().routeForced(); }))
        << "force route off goes out before the link closes";
}

TEST_P(ModuleLink, ModuleAddressAndModelQueries) {
    ModuleCarrier carrier(GetParam(), identity());
    uint32 ref = carrier.open();
    ASSERT_NE(ref, 0u);
    std::shared_ptr<aLink> link = sLookupLink(ref);
    ASSERT_TRUE(link);
    uint8 address = 0, model = 0;
    EXPECT_EQ(aLink_GetModuleAddress(link.get(), &address), aErrNone);
    EXPECT_EQ(address, 0x06);
    EXPECT_EQ(aLink_GetModel(link.get(), 0x06, &model), aErrNone);
    EXPECT_EQ(model, 13);
    EXPECT_EQ(aLink_GetModel(link.get(), 0x08, &model), aErrTimeout);
    link.reset();
    aLink_Destroy(&ref);
}

TEST_P(ModuleLink, HeartbeatsAreAnsweredByTheLink) {
    ModuleCarrier carrier(GetParam(), identity(100));
    uint32 ref = carrier.open();
    ASSERT_NE(ref, 0u);
    ASSERT_TRUE(eventually([&] { return carrier.module().heartbeat().counts().answered >= 5; }, 5000));
    Veltrano::Sim::HeartbeatCounts counts = carrier.module().heartbeat().counts();
    EXPECT_EQ(counts.wrong, 0u);
    EXPECT_EQ(counts.missed, 0u);
    EXPECT_TRUE(takeReceived(ref, 10).empty()) << "heartbeats never reach the callers";
    aLink_Destroy(&ref);
}

TEST_P(ModuleLink, GarbledReplyIsRecoveredByResync) {
    ModuleCarrier carrier(GetParam(), identity());
    ModuleFaults faults;
    faults.garbleBytes = {0}; // the address of the module's first reply turns odd
    carrier.module().setFaults(faults);
    uint32 ref = carrier.open();
    ASSERT_NE(ref, 0u);
    EXPECT_TRUE(entityGet(ref, 0x06, 3, 9, 300).empty());
    ASSERT_TRUE(eventually([&] { return aLink_GetStatus(ref) == RUNNING; }));
    EXPECT_GE(carrier.module().linkControl().syncsAnswered(), 6u);
    EXPECT_EQ(entityGet(ref, 0x06, 3, 9), (Bytes{3, 9, 0, 0x12, 0x34, 0xAB, 0xCD}));
    aLink_Destroy(&ref);
}

TEST_P(ModuleLink, DroppedBytesAreRecoveredByResync) {
    ModuleCarrier carrier(GetParam(), identity());
    ModuleFaults faults;
    faults.dropBytes = {1}; // the size byte of the first reply goes missing
    carrier.module().setFaults(faults);
    uint32 ref = carrier.open();
    ASSERT_NE(ref, 0u);
    const uint64_t syncsBefore = carrier.module().linkControl().syncsAnswered();
    EXPECT_TRUE(entityGet(ref, 0x06, 3, 9, 300).empty());
    // Whatever the loss did to the framing, the link notices and resynchronises by
    // itself: asked again, the module answers.
    Bytes answer;
    EXPECT_TRUE(eventually(
        [&] {
            answer = entityGet(ref, 0x06, 3, 9, 300);
            return !answer.empty();
        },
        5000));
    EXPECT_EQ(answer, (Bytes{3, 9, 0, 0x12, 0x34, 0xAB, 0xCD}));
    EXPECT_GE(carrier.module().linkControl().syncsAnswered(), syncsBefore + 6)
        << "recovered by a resynchronisation";
    aLink_Destroy(&ref);
}

TEST_P(ModuleLink, SilentModuleTimesOut) {
    ModuleCarrier carrier(GetParam(), identity());
    ModuleFaults faults;
    faults.silentAfterPackets = 0;
    carrier.module().setFaults(faults);
    uint32 ref = carrier.open();
    ASSERT_NE(ref, 0u);
    uint32 start = aTime_GetMSTicks();
    EXPECT_TRUE(entityGet(ref, 0x06, 3, 9, 200).empty());
    EXPECT_GE(aTime_GetMSTicks() - start, 190u);
    std::shared_ptr<aLink> link = sLookupLink(ref);
    EXPECT_EQ(aLink_Sync(link.get()), aErrNotReady);
    link.reset();
    EXPECT_EQ(aLink_GetStatus(ref), SYNCING);
    aLink_Destroy(&ref);
}

// A module that reboots closes its connection: the link notices at once, connects
// again with the route forced first, and the next request is answered.
TEST(ModuleTcpLink, ClosedConnectionIsRenewedWithTheRouteForcedAgain) {
    ModuleCarrier carrier(Carrier::Tcp, identity());
    ModuleFaults faults;
    faults.closeAfterPackets = 2; // the force route and one request
    carrier.module().setFaults(faults);
    uint32 ref = carrier.open();
    ASSERT_NE(ref, 0u);
    EXPECT_EQ(entityGet(ref, 0x06, 3, 8), (Bytes{3, 8, 0, 13}));
    EXPECT_TRUE(eventually([&] { return carrier.tcp()->connections() == 2; }))
        << "the close is noticed without anything being sent";
    EXPECT_EQ(entityGet(ref, 0x06, 3, 8), (Bytes{3, 8, 0, 13}));
    EXPECT_EQ(carrier.module().linkControl().routeRequests(), 2u);
    EXPECT_TRUE(carrier.module().linkControl().routeForced());
    aLink_Destroy(&ref);
}

INSTANTIATE_TEST_SUITE_P(Carriers, ModuleLink,
                         ::testing::Values(Carrier::Socketpair, Carrier::Tcp, Carrier::Pty),
                         [](const ::testing::TestParamInfo<Carrier>& info) {
                             return carrierName(info.param);
                         });

} // namespace
