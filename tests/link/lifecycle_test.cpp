// A link's life under concurrent use: waiters released at teardown, callers
// racing a destroy, and stream failures.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "LinkFixtures.h"

using namespace LinkTest;

namespace {

TEST(LinkLifecycle, DestroyReleasesWaitersAtOnce) {
    ScriptedLink link;
    ASSERT_NE(link.ref, 0u);
    std::atomic<uint32> waited{0};
    uint32 ref = link.ref;
    std::thread waiter([&] {
        uint32 start = aTime_GetMSTicks();
        aPacket* p = aLink_AwaitPacket(ref, 5000);
        if (p) aPacket_Destroy(&p);
        waited = aTime_GetMSTicks() - start + 1;
    });
    aTime_MSSleep(50);
    EXPECT_EQ(aLink_Destroy(&link.ref), aErrNone);
    waiter.join();
    EXPECT_LT(waited.load(), 1000u);
}

TEST(LinkLifecycle, CallersRacingTheLastDestroy) {
    for (int round = 0; round < 5; ++round) {
        ScriptedLink link;
        ASSERT_NE(link.ref, 0u);
        uint32 ref = link.ref;
        std::atomic<bool> stop{false};
        std::vector<std::thread> callers;
        for (int t = 0; t < 3; ++t) {
            callers.emplace_back([&, t] {
                const uint8 data[] = {0x63, static_cast<uint8>(t)};
                aPacket* packet = aPacket_CreateWithData(0x04, sizeof data, data);
                while (!stop) {
                    aLink_PutPacket(ref, packet);
                    aLink_GetStatus(ref);
                    if (aPacket* p = aLink_AwaitPacket(ref, 1)) aPacket_Destroy(&p);
                    aLink_EnablePooledPackets(ref, t == 0);
                    aLink_PacketDebug_Enable(ref);
                }
                aPacket_Destroy(&packet);
            });
        }
        link.stream->feed(wire(0x04, {0x01}));
        aTime_MSSleep(20);
        EXPECT_EQ(aLink_Destroy(&link.ref), aErrNone);
        stop = true;
        for (std::thread& c : callers)
            c.join();
        EXPECT_EQ(aLink_GetStatus(ref), INVALID_LINK_STREAM);
    }
}

std::atomic<bool> gFailReads{false};
std::atomic<int> gFeed{0};

aErr flakyGetByte(uint8* byte, void*) {
    if (gFailReads) return aErrIO;
    static const uint8 kEcho[] = {0x05, 0x04, 0x00, 0x04, 0x00};
    int next = gFeed.load();
    if (next <= 0 || next > 5) return aErrNotReady;
    *byte = kEcho[5 - next];
    gFeed = next - 1;
    return aErrNone;
}

aErr sinkWrite(const uint8*, uint32, void*) {
    return aErrNone;
}

TEST(LinkLifecycle, ReadFailureLastsUntilResyncCompletes) {
    gFailReads = false;
    gFeed = 0;
    aStream* stream = aStream_Create(flakyGetByte, nullptr, sinkWrite, nullptr, nullptr);
    uint32 ref = aLink_Create(stream);
    ASSERT_NE(ref, 0u);
    gFailReads = true;
    EXPECT_TRUE(eventually([&] { return aLink_GetStatus(ref) == IO_ERROR; }));
    gFailReads = false;
    aTime_MSSleep(250);
    EXPECT_EQ(aLink_GetStatus(ref), IO_ERROR) << "the stream reading again is not enough";
    gFeed = 5; // an odd byte, then the module's echo
    EXPECT_TRUE(eventually([&] { return aLink_GetStatus(ref) == RUNNING; }));
    aLink_Destroy(&ref);
}

} // namespace
