// The writer thread: pooled and single writes, and what a stop still sends.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "LinkFixtures.h"
#include "aLinkInternal.h"

using namespace LinkTest;

namespace {

const Bytes kRouteOn = {0xAF, 0x01, 0x01};
const Bytes kRouteOff = {0xAF, 0x01, 0x00};

aPacket* fullPacket(uint8 tag) {
    uint8 data[aPACKET_MAX_DATA];
    for (uint8 i = 0; i < sizeof data; ++i)
        data[i] = tag;
    return aPacket_CreateWithData(0x04, sizeof data, data);
}

void put(uint32 ref, aPacket* packet) {
    ASSERT_EQ(aLink_PutPacket(ref, packet), aErrNone);
    aPacket_Destroy(&packet);
}

// A first packet held inside its stream write, so that what follows piles up in
// the queue. It is put from a thread of its own: an unpooled packet may be written
// on the putting thread when nothing is queued.
class HeldWrite {
  public:
    explicit HeldWrite(ScriptedLink& link) : link_(link) {
        link.stream->clearWrites();
        link.stream->closeGate();
        putter_ = std::thread([&link] { put(link.ref, fullPacket(0xEE)); });
        EXPECT_TRUE(link.stream->awaitHeldAtGate());
    }
    ~HeldWrite() { release(); }
    void release() {
        link_.stream->openGate();
        if (putter_.joinable()) putter_.join();
    }

  private:
    ScriptedLink& link_;
    std::thread putter_;
};

// Bytes written so far, over all write calls.
size_t totalWritten(ScriptedLink& link) {
    size_t total = 0;
    for (const Bytes& w : link.stream->writes())
        total += w.size();
    return total;
}

// Answers the write sizes recorded after the held one.
std::vector<size_t> writeSizesAfterPileUp(ScriptedLink& link, bool pooled, int count) {
    EXPECT_TRUE(link.stream->awaitWritten(kRouteOn));
    EXPECT_EQ(aLink_EnablePooledPackets(link.ref, pooled), aErrNone);
    HeldWrite held(link);
    for (int i = 0; i < count; ++i)
        put(link.ref, fullPacket(static_cast<uint8>(i)));
    held.release();
    EXPECT_TRUE(eventually([&] { return totalWritten(link) == (count + 1) * 30u; }));
    std::vector<size_t> sizes;
    for (const Bytes& w : link.stream->writes())
        sizes.push_back(w.size());
    sizes.erase(sizes.begin());
    return sizes;
}

TEST(LinkWriter, PooledPacketsShareWritesOfAtMost4096Bytes) {
    ScriptedLink link;
    EXPECT_EQ(writeSizesAfterPileUp(link, true, 200), (std::vector<size_t>{136 * 30, 64 * 30}));
}

TEST(LinkWriter, UnpooledPacketsGoOutOneWriteEach) {
    ScriptedLink link;
    EXPECT_EQ(writeSizesAfterPileUp(link, false, 20), std::vector<size_t>(20, 30));
}

TEST(LinkWriter, PooledBatchKeepsPacketOrder) {
    ScriptedLink link;
    writeSizesAfterPileUp(link, true, 150);
    Bytes all = link.stream->written();
    ASSERT_EQ(all.size(), 151u * 30);
    for (size_t i = 1; i < 151; ++i)
        EXPECT_EQ(all[i * 30 + 2], static_cast<uint8>(i - 1)) << "packet " << i;
}

TEST(LinkWriter, StopSendsWhatIsStillQueuedWithRouteOffLast) {
    ScriptedLink link;
    ASSERT_TRUE(link.stream->awaitWritten(kRouteOn));
    HeldWrite held(link);
    for (int i = 0; i < 50; ++i)
        put(link.ref, fullPacket(static_cast<uint8>(i)));

    std::thread opener([&] {
        aTime_MSSleep(100);
        held.release();
    });
    uint32 start = aTime_GetMSTicks();
    EXPECT_EQ(aLink_Destroy(&link.ref), aErrNone);
    uint32 took = aTime_GetMSTicks() - start;
    opener.join();

    EXPECT_EQ(link.ref, 0u);
    EXPECT_LT(took, 1000u) << "the threads end by themselves, well before the last resort";
    std::vector<Bytes> writes = link.stream->writes();
    ASSERT_EQ(writes.size(), 52u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(writes[i + 1][2], static_cast<uint8>(i));
    EXPECT_EQ(writes.back(), kRouteOff);
    EXPECT_TRUE(link.stream->destroyed());
}

// A heartbeat whose last byte the reader gets only once the stop has begun: its
// answer goes out before the route off, never after it.
struct LateHeartbeat {
    std::atomic<aLink*> link{nullptr};
    std::atomic<int> next{0};
    std::mutex mutex;
    std::vector<Bytes> writes;
};
LateHeartbeat gLate;

aErr lateGetByte(uint8* byte, void*) {
    static const uint8 kHeartbeat[] = {0x04, 0x02, 0x00, 0x00};
    int next = gLate.next;
    aLink* link = gLate.link;
    if (next >= 4 || !link) return aErrNotReady;
    if (next == 3) {
        eventually([link] { return link->status == STOPPING; });
        aTime_MSSleep(100);
    }
    *byte = kHeartbeat[next];
    gLate.next = next + 1;
    return aErrNone;
}

aErr lateWrite(const uint8* bytes, uint32 count, void*) {
    std::lock_guard<std::mutex> lock(gLate.mutex);
    gLate.writes.emplace_back(bytes, bytes + count);
    return aErrNone;
}

TEST(LinkWriter, RouteOffIsTheLastPacketEvenWithTheReaderBusy) {
    aStream* stream = aStream_Create(lateGetByte, nullptr, lateWrite, nullptr, nullptr);
    uint32 ref = aLink_Create(stream);
    ASSERT_NE(ref, 0u);
    std::shared_ptr<aLink> record = sLookupLink(ref);
    ASSERT_TRUE(record);
    gLate.link = record.get();
    ASSERT_TRUE(eventually([] { return gLate.next == 3; }));
    EXPECT_EQ(aLink_Destroy(&ref), aErrNone);
    gLate.link = nullptr;
    std::lock_guard<std::mutex> lock(gLate.mutex);
    ASSERT_GE(gLate.writes.size(), 2u);
    EXPECT_EQ(gLate.writes[gLate.writes.size() - 2], wire(0x04, {0x00, 0x02}));
    EXPECT_EQ(gLate.writes.back(), kRouteOff);
}

TEST(LinkWriter, DestroyOfIdleLinkIsQuick) {
    ScriptedLink link;
    ASSERT_TRUE(link.stream->awaitWritten(kRouteOn));
    uint32 start = aTime_GetMSTicks();
    EXPECT_EQ(aLink_Destroy(&link.ref), aErrNone);
    EXPECT_LT(aTime_GetMSTicks() - start, 500u);
    EXPECT_EQ(link.stream->writes().back(), kRouteOff);
}

} // namespace

namespace {

// Several threads put tagged packets at once; each thread's packets must go out
// in the order it put them, whether they were queued or written on its thread.
TEST(LinkWriter, ConcurrentPutsKeepEachThreadsOrder) {
    for (bool pooled : {false, true}) {
        SCOPED_TRACE(pooled ? "pooled" : "unpooled");
        ScriptedLink link;
        ASSERT_TRUE(link.stream->awaitWritten(kRouteOn));
        ASSERT_EQ(aLink_EnablePooledPackets(link.ref, pooled), aErrNone);
        constexpr int kThreads = 4, kEach = 200;
        std::vector<std::thread> putters;
        for (int t = 0; t < kThreads; ++t) {
            putters.emplace_back([&link, t] {
                for (int i = 0; i < kEach; ++i) {
                    const uint8 data[] = {0x63, static_cast<uint8>(t), static_cast<uint8>(i >> 8),
                                          static_cast<uint8>(i)};
                    aPacket* packet = aPacket_CreateWithData(0x04, sizeof data, data);
                    aLink_PutPacket(link.ref, packet);
                    aPacket_Destroy(&packet);
                    if (i % 50 == 0) aTime_MSSleep(1); // let the queue run empty now and then
                }
            });
        }
        for (std::thread& p : putters)
            p.join();
        ASSERT_TRUE(eventually([&] {
            return link.stream->countWritten({0x04, 0x04, 0x63}) == kThreads * kEach;
        }));
        Bytes all = link.stream->written();
        int next[kThreads] = {0};
        for (size_t i = 0; i + 5 < all.size(); ++i) {
            if (all[i] != 0x04 || all[i + 1] != 0x04 || all[i + 2] != 0x63) continue;
            int t = all[i + 3], seq = all[i + 4] << 8 | all[i + 5];
            ASSERT_LT(t, kThreads);
            EXPECT_EQ(seq, next[t]++) << "thread " << t;
            i += 5;
        }
        for (int t = 0; t < kThreads; ++t)
            EXPECT_EQ(next[t], kEach);
    }
}

} // namespace

namespace {

// A transport whose write without waiting takes only two bytes of the first packet it
// is offered and nothing after: the writer sends the rest of it first, then the
// packets queued meanwhile, so the peer sees every packet whole and in order.
struct PartialTaker {
    std::mutex mutex;
    Bytes wire;
    int tries = 0;
};
PartialTaker gTaker;

aErr takerTryWrite(const uint8* bytes, uint32 count, uint32* written, void*) {
    std::lock_guard<std::mutex> lock(gTaker.mutex);
    *written = ++gTaker.tries == 1 ? 2 : 0;
    gTaker.wire.insert(gTaker.wire.end(), bytes, bytes + *written);
    return *written == count ? aErrNone : aErrNotReady;
}

aErr takerWrite(const uint8* bytes, uint32 count, void*) {
    std::lock_guard<std::mutex> lock(gTaker.mutex);
    gTaker.wire.insert(gTaker.wire.end(), bytes, bytes + count);
    return aErrNone;
}

aErr takerNothingToRead(uint8*, void*) {
    return aErrNotReady;
}

TEST(LinkWriter, PacketPartlyTakenByTheCallersWriteIsFinishedFirst) {
    aStream* stream = aStream_Create(takerNothingToRead, nullptr, takerWrite, nullptr, nullptr);
    aStream_SetTryWrite(stream, takerTryWrite);
    uint32 ref = aLink_Create(stream);
    ASSERT_NE(ref, 0u);
    ASSERT_TRUE(eventually([] {
        std::lock_guard<std::mutex> lock(gTaker.mutex);
        return gTaker.wire == kRouteOn;
    }));
    Bytes expected = kRouteOn;
    for (uint8 i = 1; i <= 3; ++i) {
        aPacket* packet = fullPacket(i);
        EXPECT_EQ(aLink_PutPacket(ref, packet), aErrNone);
        aPacket_Destroy(&packet);
        Bytes one = wire(0x04, Bytes(aPACKET_MAX_DATA, i));
        expected.insert(expected.end(), one.begin(), one.end());
    }
    EXPECT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> lock(gTaker.mutex);
        return gTaker.wire.size() >= expected.size();
    }));
    aLink_Destroy(&ref);
    std::lock_guard<std::mutex> lock(gTaker.mutex);
    expected.insert(expected.end(), kRouteOff.begin(), kRouteOff.end());
    EXPECT_EQ(gTaker.wire, expected);
    EXPECT_GE(gTaker.tries, 1);
}

} // namespace

// A series of puts longer than the outgoing queue holds waits for room instead
// of overflowing it (which would discard the queue whole): the wait ends once the
// writer makes room, or when its bound runs out.
TEST(LinkWriter, LongSeriesWaitsForRoomInTheOutgoingQueue) {
    ScriptedLink link;
    ASSERT_TRUE(link.stream->awaitWritten(kRouteOn));
    HeldWrite held(link);
    for (int i = 0; i < aPACKETFIFO_CAPACITY; ++i)
        put(link.ref, fullPacket(static_cast<uint8>(i)));
    EXPECT_EQ(aLink_AwaitOutgoingRoom(link.ref, 0, 0), aErrNone);
    EXPECT_EQ(aLink_AwaitOutgoingRoom(link.ref, 1, 50), aErrTimeout) << "full while the writer is held";
    EXPECT_EQ(aLink_AwaitOutgoingRoom(link.ref, aPACKETFIFO_CAPACITY + 1, 0), aErrParam);
    std::thread release([&held] {
        aTime_MSSleep(100);
        held.release();
    });
    EXPECT_EQ(aLink_AwaitOutgoingRoom(link.ref, 1, 3000), aErrNone);
    put(link.ref, fullPacket(0xDD));
    release.join();
    // The held packet, the queue's 1000 and the one that waited: nothing was lost.
    EXPECT_TRUE(eventually([&] { return totalWritten(link) == (aPACKETFIFO_CAPACITY + 2) * 30u; }));
}
