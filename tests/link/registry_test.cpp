// Link references: sharing between users, failed creations, teardown and reset.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "LinkFixtures.h"
#include "ModuleCarrier.h"

using namespace LinkTest;

namespace {

uint32 streamLink() {
    aStream* stream = nullptr;
    auto state = ScriptedStream::make(&stream);
    return aLink_Create(stream);
}

TEST(LinkRegistry, UnregisteredReferences) {
    uint32 ref = 0;
    EXPECT_EQ(aLink_Destroy(&ref), aErrParam);
    EXPECT_EQ(ref, 0u);
    EXPECT_EQ(aLink_Destroy(nullptr), aErrParam);

    ref = streamLink();
    ASSERT_NE(ref, 0u);
    uint32 stale = ref;
    EXPECT_EQ(aLink_Destroy(&ref), aErrNone);
    EXPECT_EQ(ref, 0u);
    ref = stale;
    EXPECT_EQ(aLink_Destroy(&ref), aErrParam);
    EXPECT_EQ(ref, 0u);

    EXPECT_EQ(aLink_GetStatus(stale), INVALID_LINK_STREAM);
    aPacket* packet = aPacket_Create();
    EXPECT_EQ(aLink_PutPacket(stale, packet), aErrParam);
    aPacket_Destroy(&packet);
    EXPECT_EQ(aLink_GetPacket(stale), nullptr);
    EXPECT_EQ(aLink_AwaitPacket(stale, 10), nullptr);
    EXPECT_EQ(aLink_InstallUserPacketFilter(stale, nullptr, nullptr), aErrParam);
    EXPECT_EQ(aLink_EnablePooledPackets(stale, true), aErrParam);
    EXPECT_EQ(aLink_Reset(stale), aErrParam);
    EXPECT_EQ(aLink_Create(nullptr), 0u);
}

TEST(LinkRegistry, UsbWithoutModuleLeavesNothingBehind) {
    uint32 before = streamLink();
    ASSERT_NE(before, 0u);
    EXPECT_EQ(aLink_CreateUSB(0x40F5849A), 0u);
    EXPECT_EQ(aLink_CreateUSB(0x40F5849A), 0u) << "no half-made entry is found the second time";
    uint32 after = streamLink();
    ASSERT_NE(after, 0u);
    for (uint32 ref = before + 1; ref < after; ++ref)
        EXPECT_EQ(aLink_GetStatus(ref), INVALID_LINK_STREAM);
    aLink_Destroy(&before);
    aLink_Destroy(&after);
}

TEST(LinkRegistry, TcpToClosedPortFails) {
    Veltrano::Sim::VirtualModule module;
    uint16 port;
    {
        Veltrano::Sim::ModuleTcpServer server(module);
        port = server.port();
    }
    EXPECT_EQ(aLink_CreateTCPIP(loopback(), port), 0u);
}

TEST(LinkRegistry, TwoCreationsShareOneTcpLink) {
    ModuleCarrier carrier(Carrier::Tcp);
    uint32 first = carrier.open();
    uint32 second = carrier.open();
    ASSERT_NE(first, 0u);
    EXPECT_EQ(second, first);
    EXPECT_TRUE(eventually([&] { return carrier.tcp()->connections() == 1; }));

    uint32 kept = first;
    EXPECT_EQ(aLink_Destroy(&first), aErrNone);
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(aLink_GetStatus(kept), RUNNING) << "one user remains";
    EXPECT_EQ(entityGet(kept, 4, 3, 8), (Bytes{3, 8, 0, 4}));

    EXPECT_EQ(aLink_Destroy(&second), aErrNone);
    EXPECT_EQ(aLink_GetStatus(kept), INVALID_LINK_STREAM);
    EXPECT_TRUE(eventually([&] { return !carrier.module().linkControl().routeForced(); }));
}

TEST(LinkRegistry, ModulesOnOtherPortsGetLinksOfTheirOwn) {
    ModuleCarrier a(Carrier::Tcp), b(Carrier::Tcp);
    uint32 refA = a.open();
    uint32 refB = b.open();
    ASSERT_NE(refA, 0u);
    ASSERT_NE(refB, 0u);
    EXPECT_NE(refA, refB);
    EXPECT_TRUE(eventually([&] { return a.tcp()->connections() == 1 && b.tcp()->connections() == 1; }));
    aLink_Destroy(&refA);
    aLink_Destroy(&refB);
}

TEST(LinkRegistry, SerialNeedsAKnownRateAndSharesBySerialNumber) {
    ModuleCarrier carrier(Carrier::Pty);
    const std::string path = "/nonexistent/tty";
    EXPECT_EQ(aLink_CreateSerial(carrier.module().identity().serialNumber, path.c_str(), 9600), 0u);
    uint32 ref = carrier.open(); // 115200 on the module's terminal
    ASSERT_NE(ref, 0u);
    uint32 second = carrier.open();
    EXPECT_EQ(second, ref);
    const uint32 shared = ref;
    EXPECT_EQ(entityGet(ref, 4, 3, 8), (Bytes{3, 8, 0, 4}));
    EXPECT_EQ(aLink_Destroy(&ref), aErrNone);
    EXPECT_EQ(aLink_GetStatus(second), RUNNING);
    EXPECT_EQ(aLink_Destroy(&second), aErrNone);

    // The port is free again for a fresh link.
    uint32 again = carrier.open();
    ASSERT_NE(again, 0u);
    EXPECT_NE(again, shared) << "a new link, not the destroyed one";
    EXPECT_EQ(entityGet(again, 4, 3, 8), (Bytes{3, 8, 0, 4}));
    EXPECT_EQ(aLink_Destroy(&again), aErrNone);
}

TEST(LinkRegistry, UnknownBaudRateFailsAndLeavesNoEntry) {
    ModuleCarrier carrier(Carrier::Pty);
    uint32 serial = carrier.module().identity().serialNumber;
    EXPECT_EQ(aLink_CreateSerial(serial, "/dev/null", 14400), 0u);
    EXPECT_EQ(aLink_CreateSerial(serial, nullptr, 9600), 0u);
    uint32 ref = carrier.open();
    ASSERT_NE(ref, 0u);
    EXPECT_EQ(entityGet(ref, 4, 3, 9), (Bytes{3, 9, 0, 0x40, 0xF5, 0x84, 0x9A}));
    aLink_Destroy(&ref);
}

bool takeAll(const aPacket*, void* ref) {
    ++*static_cast<std::atomic<int>*>(ref);
    return true;
}

TEST(LinkRegistry, ResetReopensTcpAndForgetsSettings) {
    ModuleCarrier carrier(Carrier::Tcp);
    uint32 ref = carrier.open();
    ASSERT_NE(ref, 0u);
    std::atomic<int> filtered{0};
    ASSERT_EQ(aLink_InstallUserPacketFilter(ref, takeAll, &filtered), aErrNone);
    ASSERT_EQ(aLink_EnablePooledPackets(ref, true), aErrNone);
    ASSERT_EQ(aLink_PacketDebug_Enable(ref), aErrNone);

    ASSERT_EQ(aLink_Reset(ref), aErrNone);
    EXPECT_EQ(aLink_GetStatus(ref), RUNNING);
    EXPECT_TRUE(eventually([&] { return carrier.tcp()->connections() == 2; }));
    EXPECT_EQ(entityGet(ref, 4, 3, 8), (Bytes{3, 8, 0, 4})) << "the filter no longer takes replies";
    EXPECT_EQ(filtered, 0);
    uint8 buffer[32];
    uint32 type = 0, length = sizeof buffer;
    EXPECT_EQ(aLink_PacketDebug_Read(ref, &type, &length, buffer), aErrNotReady);
    aLink_Destroy(&ref);
}

// A reset that cannot open a new stream answers the last opening's failure (aErrParam
// for a stream that is never reopened) and leaves the link stopped, without a stream.
TEST(LinkRegistry, ResetThatCannotReopen) {
    {
        SCOPED_TRACE("caller's stream");
        uint32 ref = streamLink();
        ASSERT_NE(ref, 0u);
        EXPECT_EQ(aLink_Reset(ref), aErrParam);
        EXPECT_EQ(aLink_GetStatus(ref), INVALID_LINK_STREAM);
        EXPECT_EQ(aLink_Destroy(&ref), aErrNone) << "it stays registered until its users let go";
    }
    {
        SCOPED_TRACE("module gone");
        auto carrier = std::make_unique<ModuleCarrier>(Carrier::Tcp);
        uint32 ref = carrier->open();
        ASSERT_NE(ref, 0u);
        carrier.reset();
        EXPECT_EQ(aLink_Reset(ref), aErrResource) << "the socket stream's creation failure";
        EXPECT_EQ(aLink_GetStatus(ref), INVALID_LINK_STREAM);
        EXPECT_EQ(aLink_Destroy(&ref), aErrNone);
    }
}

} // namespace
