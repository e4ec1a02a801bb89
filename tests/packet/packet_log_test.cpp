#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "aPacketLog.h"

namespace {

struct Entry {
    uint32 type;
    std::vector<uint8> bytes;
    bool operator==(const Entry& other) const { return type == other.type && bytes == other.bytes; }
};

std::vector<uint8> bytesOf(uint32 count, uint8 first) {
    std::vector<uint8> bytes;
    for (uint32 i = 0; i < count; ++i) bytes.push_back(uint8(first + i));
    return bytes;
}

class PacketLogTest : public ::testing::Test {
  protected:
    void make(uint32 size) {
        aPacketLog_Destroy(&log);
        log = aPacketLog_Create(size);
        ASSERT_NE(log, nullptr);
    }
    void TearDown() override { aPacketLog_Destroy(&log); }
    aErr put(uint8 type, const std::vector<uint8>& bytes) {
        return aPacketLog_Put(log, type, uint32(bytes.size()), bytes.data());
    }
    // Every entry still in the log, oldest first.
    std::vector<Entry> takeAll() {
        std::vector<Entry> entries;
        for (;;) {
            uint8 buffer[255];
            uint32 type = 0, length = sizeof buffer;
            aErr err = aPacketLog_Get(log, &type, &length, buffer);
            if (err == aErrNotFound) return entries;
            EXPECT_EQ(err, aErrNone);
            if (err != aErrNone) return entries;
            entries.push_back({type, std::vector<uint8>(buffer, buffer + length)});
        }
    }
    aPacketLog* log = nullptr;
};

TEST_F(PacketLogTest, CreateAndDestroy) {
    EXPECT_EQ(aPacketLog_Create(0), nullptr);
    make(64);
    EXPECT_EQ(log->size, 64u);
    EXPECT_EQ(log->readIndex, log->writeIndex);
    EXPECT_EQ(aPacketLog_Destroy(&log), aErrNone);
    EXPECT_EQ(log, nullptr);
    EXPECT_EQ(aPacketLog_Destroy(&log), aErrNone);
    EXPECT_EQ(aPacketLog_Destroy(nullptr), aErrNone);
}

TEST_F(PacketLogTest, EntriesComeBackOldestFirst) {
    make(256);
    const std::string start = "START";
    ASSERT_EQ(aPacketLog_Put(log, aPACKETLOG_TEXT, uint32(start.size()),
                             reinterpret_cast<const uint8*>(start.data())),
              aErrNone);
    ASSERT_EQ(put(aPACKETLOG_SENT, {0xAD, 0x00}), aErrNone);
    ASSERT_EQ(put(aPACKETLOG_RECEIVED, {0x04, 0x01, 0x33}), aErrNone);
    ASSERT_EQ(aPacketLog_Put(log, 7, 0, nullptr), aErrNone);
    std::vector<Entry> expected = {{3, std::vector<uint8>(start.begin(), start.end())},
                                   {1, {0xAD, 0x00}},
                                   {2, {0x04, 0x01, 0x33}},
                                   {7, {}}};
    EXPECT_EQ(takeAll(), expected);
}

TEST_F(PacketLogTest, SixteenByteRingKeepsNewestEntry) {
    make(16);
    EXPECT_EQ(put(1, bytesOf(10, 0x10)), aErrNone);
    EXPECT_EQ(put(2, bytesOf(10, 0x20)), aErrNone); // drops the first
    EXPECT_EQ(put(1, bytesOf(14, 0x30)), aErrOverrun);
    EXPECT_EQ(takeAll(), (std::vector<Entry>{{2, bytesOf(10, 0x20)}}));
}

TEST_F(PacketLogTest, OneByteAlwaysStaysFree) {
    make(16);
    // 13 bytes + header fill 15 of 16: the largest entry that fits.
    EXPECT_EQ(put(1, bytesOf(13, 0)), aErrNone);
    EXPECT_EQ(takeAll(), (std::vector<Entry>{{1, bytesOf(13, 0)}}));
    EXPECT_EQ(put(1, bytesOf(14, 0)), aErrOverrun);
    EXPECT_TRUE(takeAll().empty());
}

TEST_F(PacketLogTest, OverrunOnNeverFittingEntryKeepsOldEntries) {
    make(16);
    ASSERT_EQ(put(1, {0x01, 0x02}), aErrNone);
    EXPECT_EQ(put(2, bytesOf(20, 0)), aErrOverrun);
    EXPECT_EQ(takeAll(), (std::vector<Entry>{{1, {0x01, 0x02}}}));
}

TEST_F(PacketLogTest, DropsOldestAcrossWrapAround) {
    make(40);
    std::vector<Entry> written;
    for (uint8 i = 0; i < 50; ++i) {
        std::vector<uint8> bytes = bytesOf(uint32(i % 7), uint8(i * 5));
        ASSERT_EQ(put(uint8(1 + i % 3), bytes), aErrNone) << int(i);
        written.push_back({uint32(1 + i % 3), bytes});
    }
    std::vector<Entry> kept = takeAll();
    ASSERT_FALSE(kept.empty());
    // What survives is exactly the newest entries, in order.
    std::vector<Entry> newest(written.end() - long(kept.size()), written.end());
    EXPECT_EQ(kept, newest);
    size_t used = 0;
    for (const Entry& entry : kept) used += entry.bytes.size() + 2;
    EXPECT_LT(used, 40u);
}

TEST_F(PacketLogTest, GetWithSmallBufferLeavesEntry) {
    make(64);
    ASSERT_EQ(put(2, bytesOf(6, 0x40)), aErrNone);
    uint8 buffer[4];
    uint32 type = 0, length = sizeof buffer;
    EXPECT_EQ(aPacketLog_Get(log, &type, &length, buffer), aErrOverrun);
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(takeAll(), (std::vector<Entry>{{2, bytesOf(6, 0x40)}}));
}

TEST_F(PacketLogTest, RefusesBadArguments) {
    make(64);
    uint8 buffer[8];
    uint32 type = 0, length = sizeof buffer;
    EXPECT_EQ(aPacketLog_Get(log, &type, &length, buffer), aErrNotFound);
    EXPECT_EQ(aPacketLog_Put(nullptr, 1, 0, buffer), aErrParam);
    EXPECT_EQ(aPacketLog_Put(log, 1, 3, nullptr), aErrParam);
    EXPECT_EQ(aPacketLog_Get(nullptr, &type, &length, buffer), aErrParam);
    EXPECT_EQ(aPacketLog_Get(log, nullptr, &length, buffer), aErrParam);
    EXPECT_EQ(aPacketLog_Get(log, &type, nullptr, buffer), aErrParam);
    // The length byte cannot say more than 255: refused, nothing written.
    make(1024);
    std::vector<uint8> big(256, 0x11);
    EXPECT_EQ(put(1, big), aErrRange);
    big.resize(255);
    EXPECT_EQ(put(1, big), aErrNone);
    EXPECT_EQ(takeAll(), (std::vector<Entry>{{1, big}}));
}

TEST_F(PacketLogTest, TinyRingsRefuseWithoutCrashing) {
    for (uint32 size : {1u, 2u, 3u}) {
        make(size);
        EXPECT_EQ(put(1, {0x01}), aErrOverrun) << size;
        EXPECT_EQ(aPacketLog_Put(log, 1, 0, nullptr), size == 3 ? aErrNone : aErrOverrun) << size;
    }
}

} // namespace
