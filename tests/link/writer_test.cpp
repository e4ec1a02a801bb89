// The writer thread: pooled and single writes, and what a stop still sends.
#include <gtest/gtest.h>

#include <thread>

#include "LinkFixtures.h"

using namespace LinkTest;

namespace {

const Bytes kRouteOn = {0xAF, 0x01, 0x01};
const Bytes kRouteOff = {0xAF, 0x01, 0x00};

aPacket* fullPacket(uint8 tag) {
    uint8 data[aPACKET_MAX_DATA];
    for (uint8 i = 0; i < sizeof data; ++i) data[i] = tag;
    return aPacket_CreateWithData(0x04, sizeof data, data);
}

void put(uint32 ref, aPacket* packet) {
    ASSERT_EQ(aLink_PutPacket(ref, packet), aErrNone);
    aPacket_Destroy(&packet);
}

// Holds the writer inside a write of a first packet so that what follows piles up
// in the queue; answers the write sizes recorded after that first one.
std::vector<size_t> writeSizesAfterPileUp(ScriptedLink& link, bool pooled, int count) {
    EXPECT_TRUE(link.stream->awaitWritten(kRouteOn));
    EXPECT_EQ(aLink_EnablePooledPackets(link.ref, pooled), aErrNone);
    link.stream->clearWrites();
    link.stream->closeGate();
    put(link.ref, fullPacket(0xEE));
    EXPECT_TRUE(link.stream->awaitHeldAtGate());
    for (int i = 0; i < count; ++i) put(link.ref, fullPacket(static_cast<uint8>(i)));
    link.stream->openGate();
    EXPECT_TRUE(eventually([&] {
        size_t total = 0;
        for (const Bytes& w : link.stream->writes()) total += w.size();
        return total == (count + 1) * 30u;
    }));
    std::vector<size_t> sizes;
    for (const Bytes& w : link.stream->writes()) sizes.push_back(w.size());
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
    for (size_t i = 1; i < 151; ++i) EXPECT_EQ(all[i * 30 + 2], static_cast<uint8>(i - 1)) << "packet " << i;
}

TEST(LinkWriter, StopSendsWhatIsStillQueuedWithRouteOffLast) {
    ScriptedLink link;
    ASSERT_TRUE(link.stream->awaitWritten(kRouteOn));
    link.stream->clearWrites();
    link.stream->closeGate();
    put(link.ref, fullPacket(0xEE));
    ASSERT_TRUE(link.stream->awaitHeldAtGate());
    for (int i = 0; i < 50; ++i) put(link.ref, fullPacket(static_cast<uint8>(i)));

    std::thread opener([&] {
        aTime_MSSleep(100);
        link.stream->openGate();
    });
    uint32 start = aTime_GetMSTicks();
    EXPECT_EQ(aLink_Destroy(&link.ref), aErrNone);
    uint32 took = aTime_GetMSTicks() - start;
    opener.join();

    EXPECT_EQ(link.ref, 0u);
    EXPECT_LT(took, 1000u) << "the threads end by themselves, well before the last resort";
    std::vector<Bytes> writes = link.stream->writes();
    ASSERT_EQ(writes.size(), 52u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(writes[i + 1][2], static_cast<uint8>(i));
    EXPECT_EQ(writes.back(), kRouteOff);
    EXPECT_TRUE(link.stream->destroyed());
}

TEST(LinkWriter, DestroyOfIdleLinkIsQuick) {
    ScriptedLink link;
    ASSERT_TRUE(link.stream->awaitWritten(kRouteOn));
    uint32 start = aTime_GetMSTicks();
    EXPECT_EQ(aLink_Destroy(&link.ref), aErrNone);
    EXPECT_LT(aTime_GetMSTicks() - start, 500u);
    EXPECT_EQ(link.stream->writes().back(), kRouteOff);
}

}  // namespace
