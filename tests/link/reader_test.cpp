// The reader thread over a stream the test scripts: resynchronisation, heartbeat
// answers, delivery to callers and the user filter.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "LinkFixtures.h"
#include "aLinkInternal.h"

using namespace LinkTest;

namespace {

const Bytes kSync = {0xAD, 0x00};
const Bytes kRouteOn = {0xAF, 0x01, 0x01};

// Waits until the link has started and sent its force route.
void started(ScriptedLink& link) {
    ASSERT_NE(link.ref, 0u);
    ASSERT_TRUE(link.stream->awaitWritten(kRouteOn));
    ASSERT_EQ(aLink_GetStatus(link.ref), RUNNING);
}

TEST(LinkReader, OddAddressStartsResyncAndEchoesBringItBack) {
    ScriptedLink link;
    started(link);
    link.stream->feed({0x05});
    ASSERT_TRUE(eventually([&] { return link.stream->countWritten(kSync) >= 6; }));
    EXPECT_EQ(link.stream->countWritten(kSync) % 6, 0u) << "syncs go out in bursts of six";
    EXPECT_EQ(aLink_GetStatus(link.ref), SYNCING);

    link.stream->feed({0x04, 0x00, 0x04, 0x00});
    ASSERT_TRUE(eventually([&] { return aLink_GetStatus(link.ref) == RUNNING; }));
    // In step again: the next packet reaches the callers whole.
    link.stream->feed(wire(0x04, {0x03, 0x09, 0x00, 0x12}));
    EXPECT_EQ(takeReceived(link.ref), std::vector<Bytes>{wire(0x04, {0x03, 0x09, 0x00, 0x12})});
}

TEST(LinkReader, MismatchedEchoNeedsAnotherBurst) {
    ScriptedLink link;
    started(link);
    link.stream->feed({0x05});
    ASSERT_TRUE(eventually([&] { return link.stream->countWritten(kSync) >= 6; }));
    // 04 00 06: the machine goes back to its start; the next byte asks for a new burst
    // and is discarded; then a proper echo ends the syncing.
    link.stream->feed({0x04, 0x00, 0x06, 0x08});
    ASSERT_TRUE(eventually([&] { return link.stream->countWritten(kSync) >= 12; }));
    EXPECT_EQ(aLink_GetStatus(link.ref), SYNCING);
    link.stream->feed({0x06, 0x00, 0x06, 0x00});
    EXPECT_TRUE(eventually([&] { return aLink_GetStatus(link.ref) == RUNNING; }));
}

TEST(LinkReader, FramingErrorsStartResync) {
    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"zero address", {0x00}},
        {"size above 28", {0x04, 29}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLink link;
        started(link);
        link.stream->feed(c.bytes);
        EXPECT_TRUE(eventually([&] { return link.stream->countWritten(kSync) >= 6; }));
        EXPECT_EQ(aLink_GetStatus(link.ref), SYNCING);
    }
}

TEST(LinkReader, QuietSyncingRepeatsBurstsAtABoundedPace) {
    ScriptedLink link;
    started(link);
    link.stream->feed({0x05});
    ASSERT_TRUE(eventually([&] { return link.stream->countWritten(kSync) >= 6; }));
    aTime_MSSleep(550);
    size_t bursts = link.stream->countWritten(kSync) / 6;
    EXPECT_GE(bursts, 3u) << "a silent module is asked again";
    EXPECT_LE(bursts, 8u) << "but not flooded";
}

// While syncing, every bad byte asks for a new burst; on a noisy line only one
// burst per 100 ms may go out. On a clean line the one burst brings the link back.
TEST(LinkReader, SyncBurstsAreRateLimitedOnEveryPath) {
    for (bool noisy : {true, false}) {
        SCOPED_TRACE(noisy ? "noisy line" : "clean line");
        ScriptedLink link;
        started(link);
        link.stream->clearWrites();
        std::shared_ptr<aLink> record = sLookupLink(link.ref);
        ASSERT_TRUE(record);
        aErr synced = aErrUnknown;
        std::thread syncer([&] { synced = aLink_Sync(record.get()); });
        ASSERT_TRUE(eventually([&] { return link.stream->countWritten(kSync) >= 6; }));
        uint32 start = aTime_GetMSTicks();
        if (noisy) {
            // Odd bytes, each one a framing error for the machine: 20 kB/s for half a second.
            while (aTime_GetMSTicks() - start < 500) {
                link.stream->feed(Bytes(100, 0x03));
                aTime_MSSleep(5);
            }
        }
        link.stream->feed({0x04, 0x00, 0x04, 0x00});
        syncer.join();
        uint32 took = aTime_GetMSTicks() - start;
        EXPECT_EQ(synced, aErrNone);
        size_t syncs = link.stream->countWritten(kSync);
        EXPECT_EQ(syncs % 6, 0u);
        if (noisy)
            EXPECT_LE(syncs / 6, took / 100 + 2);
        else
            EXPECT_EQ(syncs, 6u) << "one burst";
    }
}

TEST(LinkReader, HeartbeatsAreAnsweredAndNotDelivered) {
    const struct {
        Bytes heartbeat;
        Bytes answer;
    } cases[] = {
        {wire(0x04, {0x00, 0x00}), wire(0x04, {0x00, 0x02})},
        {wire(0x04, {0x00, 0x01}), wire(0x04, {0x00, 0x03})},
        {wire(0x0A, {0x00, 0x00}), wire(0x0A, {0x00, 0x02})},
    };
    for (const auto& c : cases) {
        ScriptedLink link;
        started(link);
        link.stream->feed(c.heartbeat);
        link.stream->feed(wire(0x04, {0x07}));
        EXPECT_TRUE(link.stream->awaitWritten(c.answer));
        EXPECT_EQ(takeReceived(link.ref), std::vector<Bytes>{wire(0x04, {0x07})});
    }
}

TEST(LinkReader, PacketsReachCallersInOrderAndByFilter) {
    ScriptedLink link;
    started(link);
    for (uint8 i = 1; i <= 5; ++i)
        link.stream->feed(wire(0x04, {0x03, i}));
    aPacketFilter third = [](const aPacket* p, void*) { return p->dataSize == 2 && p->data[1] == 3; };
    aPacket* found = aLink_AwaitFirst(link.ref, third, nullptr, 1000);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->data[1], 3);
    aPacket_Destroy(&found);
    EXPECT_EQ(takeReceived(link.ref), (std::vector<Bytes>{wire(0x04, {0x03, 1}), wire(0x04, {0x03, 2}),
                                                          wire(0x04, {0x03, 4}), wire(0x04, {0x03, 5})}));
}

TEST(LinkReader, AwaitFirstTimesOutAndAnswersAtOnceWhenNotInStep) {
    ScriptedLink link;
    started(link);
    aPacketFilter any = [](const aPacket*, void*) { return true; };
    uint32 start = aTime_GetMSTicks();
    EXPECT_EQ(aLink_AwaitFirst(link.ref, any, nullptr, 100), nullptr);
    EXPECT_GE(aTime_GetMSTicks() - start, 90u);

    link.stream->feed({0x05});
    ASSERT_TRUE(eventually([&] { return aLink_GetStatus(link.ref) == SYNCING; }));
    start = aTime_GetMSTicks();
    EXPECT_EQ(aLink_AwaitFirst(link.ref, any, nullptr, 1000), nullptr);
    EXPECT_LT(aTime_GetMSTicks() - start, 100u);
}

struct FilterLog {
    std::atomic<int> seen{0};
};

bool takeEverything(const aPacket*, void* ref) {
    ++static_cast<FilterLog*>(ref)->seen;
    return true;
}

TEST(LinkReader, UserFilterSeesPacketsFirst) {
    ScriptedLink link;
    started(link);
    FilterLog log;
    ASSERT_EQ(aLink_InstallUserPacketFilter(link.ref, takeEverything, &log), aErrNone);
    link.stream->feed(wire(0x04, {0x00, 0x00})); // a heartbeat
    link.stream->feed(wire(0x04, {0x03, 0x01}));
    ASSERT_TRUE(eventually([&] { return log.seen == 2; }));
    EXPECT_TRUE(takeReceived(link.ref).empty());
    EXPECT_EQ(link.stream->countWritten(wire(0x04, {0x00, 0x02})), 0u) << "the filter took the heartbeat";

    // Removed: packets flow to the callers again, and the old filter is not called.
    ASSERT_EQ(aLink_InstallUserPacketFilter(link.ref, nullptr, nullptr), aErrNone);
    link.stream->feed(wire(0x04, {0x03, 0x02}));
    EXPECT_EQ(takeReceived(link.ref), std::vector<Bytes>{wire(0x04, {0x03, 0x02})});
    EXPECT_EQ(log.seen, 2);
}

} // namespace

namespace {

std::atomic<int> gQuietReads{0};

aErr quietGetByte(uint8*, void*) {
    ++gQuietReads;
    return aErrNotReady;
}

aErr quietWrite(const uint8*, uint32, void*) {
    return aErrNone;
}

// A caller's stream that answers at once and cannot wait for input: the reader
// pauses between reads instead of spinning.
TEST(LinkReader, QuietStreamWithoutInputWaitIsNotSpunOn) {
    aStream* stream = aStream_Create(quietGetByte, nullptr, quietWrite, nullptr, nullptr);
    uint32 ref = aLink_Create(stream);
    ASSERT_NE(ref, 0u);
    aTime_MSSleep(100);
    int before = gQuietReads;
    aTime_MSSleep(500);
    int reads = gQuietReads - before;
    EXPECT_GT(reads, 5);
    EXPECT_LT(reads, 200);
    uint32 start = aTime_GetMSTicks();
    EXPECT_EQ(aLink_Destroy(&ref), aErrNone);
    EXPECT_LT(aTime_GetMSTicks() - start, 500u);
}

} // namespace
