// The packet debug log of a link: what was sent and received, and texts.
#include <gtest/gtest.h>

#include "LinkFixtures.h"

using namespace LinkTest;

namespace {

struct Entry {
    uint32 type;
    Bytes bytes;
    bool operator==(const Entry& o) const { return type == o.type && bytes == o.bytes; }
};

std::vector<Entry> readAll(uint32 ref) {
    std::vector<Entry> entries;
    uint8 buffer[64];
    uint32 type = 0, length = sizeof buffer;
    while (aLink_PacketDebug_Read(ref, &type, &length, buffer) == aErrNone) {
        entries.push_back({type, Bytes(buffer, buffer + length)});
        length = sizeof buffer;
    }
    return entries;
}

TEST(LinkPacketDebug, SizeRulesAndMissingRing) {
    ScriptedLink link;
    uint8 buffer[8];
    uint32 type = 0, length = sizeof buffer;
    EXPECT_EQ(aLink_PacketDebug_Read(link.ref, &type, &length, buffer), aErrNotReady);
    EXPECT_EQ(aLink_PacketDebug_Write(link.ref, 3, 2, buffer), aErrNotReady);
    EXPECT_EQ(aLink_PacketDebug_Disable(link.ref), aErrNotReady);
    EXPECT_EQ(aLink_PacketDebug_SetLogSize(link.ref, 0x4000001), aErrParam);
    EXPECT_EQ(aLink_PacketDebug_SetLogSize(link.ref, -5), aErrNone);
    EXPECT_EQ(aLink_PacketDebug_SetLogSize(link.ref, 4096), aErrNone);
    EXPECT_EQ(aLink_PacketDebug_Enable(link.ref), aErrNone);
    EXPECT_EQ(aLink_PacketDebug_SetLogSize(link.ref, 4096), aErrBusy);
    EXPECT_EQ(aLink_PacketDebug_SetLogSize(0, 4096), aErrParam);
}

TEST(LinkPacketDebug, RecordsSentReceivedAndText) {
    ScriptedLink link;
    ASSERT_TRUE(link.stream->awaitWritten({0xAF, 0x01, 0x01}));
    ASSERT_EQ(aLink_PacketDebug_Enable(link.ref), aErrNone);
    const uint8 start[] = {'S', 'T', 'A', 'R', 'T', 0};
    ASSERT_EQ(aLink_PacketDebug_Write(link.ref, 3, sizeof start, start), aErrNone);

    const uint8 request[] = {0x03, 0x49, 0x20};
    aPacket* packet = aPacket_CreateWithData(0x04, sizeof request, request);
    ASSERT_EQ(aLink_PutPacket(link.ref, packet), aErrNone);
    aPacket_Destroy(&packet);
    ASSERT_TRUE(link.stream->awaitWritten(wire(0x04, {0x03, 0x49, 0x20})));
    link.stream->feed(wire(0x04, {0x03, 0x09, 0x00, 0x01}));
    ASSERT_EQ(takeReceived(link.ref).size(), 1u);

    EXPECT_EQ(readAll(link.ref), (std::vector<Entry>{{3, Bytes(start, start + sizeof start)},
                                                     {1, wire(0x04, {0x03, 0x49, 0x20})},
                                                     {2, wire(0x04, {0x03, 0x09, 0x00, 0x01})}}));

    // Disabled: nothing more is recorded, the ring stays.
    ASSERT_EQ(aLink_PacketDebug_Disable(link.ref), aErrNone);
    link.stream->feed(wire(0x04, {0x01}));
    ASSERT_EQ(takeReceived(link.ref).size(), 1u);
    EXPECT_TRUE(readAll(link.ref).empty());
    uint8 buffer[4];
    uint32 type = 0, length = sizeof buffer;
    EXPECT_EQ(aLink_PacketDebug_Read(link.ref, &type, &length, buffer), aErrNotFound);
}

TEST(LinkPacketDebug, ShortBufferLeavesEntry) {
    ScriptedLink link;
    // The link's opening sync, once recorded, would be the first entry.
    ASSERT_TRUE(link.stream->awaitWritten({0xAF, 0x01, 0x01}));
    ASSERT_EQ(aLink_PacketDebug_Enable(link.ref), aErrNone);
    const uint8 text[] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(aLink_PacketDebug_Write(link.ref, 3, sizeof text, text), aErrNone);
    uint8 buffer[6];
    uint32 type = 0, length = 4;
    EXPECT_EQ(aLink_PacketDebug_Read(link.ref, &type, &length, buffer), aErrOverrun);
    EXPECT_EQ(length, 6u);
    length = sizeof buffer;
    EXPECT_EQ(aLink_PacketDebug_Read(link.ref, &type, &length, buffer), aErrNone);
    EXPECT_EQ(type, 3u);
    EXPECT_EQ(Bytes(buffer, buffer + length), Bytes(text, text + sizeof text));
}

} // namespace
