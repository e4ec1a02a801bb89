// The frames of link sharing and the set-bytes sequence collector.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "aShareFrames.h"

namespace {

std::vector<uint8_t> wire(std::vector<uint8_t> data, uint8_t address = 4) {
    data.insert(data.begin(), {address, uint8_t(data.size())});
    return data;
}

TEST(ShareFrames, OnlyAWholePacketIsAPacketFrame) {
    struct Case {
        std::vector<uint8_t> bytes;
        bool packet;
    } cases[] = {
        {{}, false},
        {{4}, false},
        {{4, 0}, true},
        {{4, 1, 23}, true},
        {{4, 2, 23}, false},               // short
        {{4, 1, 23, 9}, false},            // a byte too many
        {{4, 2, 0, 1, 4, 2, 0, 1}, false}, // two packets in one frame
        {wire(std::vector<uint8_t>(28, 7)), true},
        {{4, 29, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(aShare_IsPacketFrame(c.bytes.data(), c.bytes.size()), c.packet) << c.bytes.size();
        aPacket* packet = aShare_PacketFromFrame(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(packet != nullptr, c.packet);
        aPacket_Destroy(&packet);
    }
}

TEST(ShareFrames, AThreeByteFrameIsACommandOnlyWhereOneIsDue) {
    struct Case {
        std::vector<uint8_t> bytes;
        bool commandDue;
        aShareFrameKind kind;
        uint16_t count;
    } cases[] = {
        {{0, 0, 0}, true, aSHARE_FRAME_DROPPED, 0},
        {{1, 0, 2}, true, aSHARE_FRAME_INCOMING, 2},
        {{1, 1, 0}, true, aSHARE_FRAME_INCOMING, 256},
        {{1, 0, 0}, true, aSHARE_FRAME_INVALID, 0},
        {{2, 0, 1}, true, aSHARE_FRAME_INVALID, 0},
        {{4, 1, 23}, true, aSHARE_FRAME_INVALID, 0},
        {{4, 2, 0, 1}, true, aSHARE_FRAME_INVALID, 0},
        // A reply with one data byte, even one that looks like a command.
        {{4, 1, 23}, false, aSHARE_FRAME_REPLY, 0},
        {{0, 1, 0}, false, aSHARE_FRAME_REPLY, 0},
        {{1, 1, 0}, false, aSHARE_FRAME_REPLY, 0},
        {{0, 0, 0}, false, aSHARE_FRAME_INVALID, 0},
    };
    for (const Case& c : cases) {
        uint16 count = 99;
        EXPECT_EQ(aShare_ClassifySyncFrame(c.bytes.data(), c.bytes.size(), c.commandDue, &count), c.kind)
            << int(c.bytes[0]) << " due " << c.commandDue;
        EXPECT_EQ(count, c.count);
    }
    uint8 frame[aSHARE_COMMAND_SIZE];
    aShare_EncodeCommand(aSHARE_CMD_INCOMING_PACKETS, 0x0102, frame);
    EXPECT_EQ(std::vector<uint8_t>(frame, frame + 3), (std::vector<uint8_t>{1, 1, 2}));
}

aPacket* make(std::vector<uint8_t> data, uint8_t address = 4) {
    return aPacket_CreateWithData(address, uint8_t(data.size()), data.data());
}

// A set-bytes chunk of command 0x40 (a UEI payload), option 3, specifier 0x81.
std::vector<uint8_t> chunk(uint8_t size, uint8_t number, bool more, uint8_t option = 3) {
    std::vector<uint8_t> data(size, 0x55);
    data[0] = 0x40;
    data[1] = option;
    data[2] = 0x81;
    data[size - 1] = uint8_t(number | (more ? 0x80 : 0));
    return data;
}

TEST(ShareFrames, WhatTheServerAwaitsAndRoutes) {
    struct Case {
        std::vector<uint8_t> data;
        uint8_t address;
        bool awaits, forceRoute, streamEnable;
    } cases[] = {
        {{23, 1}, 4, true, false, false},
        {{0}, 0xAF, false, true, false},
        {{0, 1}, 0xAF, false, false, false},
        {chunk(28, 0, true), 4, false, false, false},
        {chunk(27, 5, true), 4, false, false, false},
        {chunk(28, 5, false), 4, true, false, false},
        {chunk(20, 5, true), 4, true, false, false},
        {{0x5D, 0x81, 0, 0, 0, 0, 0}, 4, true, false, true},
        {{0x5D, 0x81, 0, 0, 0, 0}, 4, true, false, false},
    };
    for (const Case& c : cases) {
        aPacket* p = make(c.data, c.address);
        EXPECT_EQ(aShare_AwaitsReply(p), c.awaits) << int(c.data[0]) << " size " << c.data.size();
        EXPECT_EQ(aShare_IsClientForceRoute(p), c.forceRoute);
        EXPECT_EQ(aShare_IsStreamEnable(p), c.streamEnable);
        aPacket_Destroy(&p);
    }
}

struct Collected {
    std::vector<std::vector<uint8_t>> packets;
};

void collect(const aPacket* packet, void* ref) {
    static_cast<Collected*>(ref)->packets.emplace_back(packet->data, packet->data + packet->dataSize);
}

class Sequences : public ::testing::Test {
  protected:
    ~Sequences() override { aShareSequences_Destroy(&sequences); }
    aShareSeqResult offer(const std::string& client, std::vector<uint8_t> data) {
        aPacket* p = make(data);
        aShareSeqResult result = aShareSequences_Offer(
            sequences, reinterpret_cast<const uint8*>(client.data()), client.size(), p, collect, &collected);
        aPacket_Destroy(&p);
        return result;
    }
    aShareSequences* sequences = aShareSequences_Create();
    Collected collected;
};

TEST_F(Sequences, OneClientsSequenceStaysTogetherWhileAnotherSendsRequests) {
    EXPECT_EQ(offer("a", chunk(28, 0, true)), aSHARE_SEQ_TAKEN);
    EXPECT_EQ(offer("b", {0x40, 3, 0x01}), aSHARE_SEQ_PASS);
    EXPECT_EQ(offer("a", chunk(28, 1, true)), aSHARE_SEQ_TAKEN);
    EXPECT_EQ(offer("b", chunk(20, 1, false)), aSHARE_SEQ_PASS) << "b has no sequence";
    EXPECT_EQ(offer("a", chunk(10, 2, false)), aSHARE_SEQ_COMPLETE);
    ASSERT_EQ(collected.packets.size(), 3u);
    EXPECT_EQ(collected.packets[0], chunk(28, 0, true));
    EXPECT_EQ(collected.packets[2], chunk(10, 2, false));
    EXPECT_EQ(aShareSequences_Count(sequences), 0u);
}

TEST_F(Sequences, ChunkNumbersWrapModulo128) {
    // 200 chunks of 24 payload bytes: well beyond 3 072 bytes.
    ASSERT_EQ(offer("a", chunk(28, 0, true)), aSHARE_SEQ_TAKEN);
    for (uint32_t n = 1; n < 200; ++n)
        ASSERT_EQ(offer("a", chunk(28, uint8_t(n & 0x7F), true)), aSHARE_SEQ_TAKEN) << n;
    EXPECT_EQ(offer("a", chunk(5, uint8_t(200 & 0x7F), false)), aSHARE_SEQ_COMPLETE);
    EXPECT_EQ(collected.packets.size(), 201u);
}

// A lost chunk breaks the sequence: the chunk after it ends it at once, and the
// client's retry starts anew rather than being spliced to the broken one (before
// and after the numbers wrap).
TEST_F(Sequences, AChunkOutOfTurnEndsTheSequenceAndARetryStartsAnew) {
    for (uint32_t sent : {2u, 128u}) {
        collected.packets.clear();
        ASSERT_EQ(offer("a", chunk(28, 0, true)), aSHARE_SEQ_TAKEN);
        for (uint32_t n = 1; n < sent; ++n)
            ASSERT_EQ(offer("a", chunk(28, uint8_t(n & 0x7F), true)), aSHARE_SEQ_TAKEN);
        EXPECT_EQ(offer("a", chunk(28, uint8_t((sent + 1) & 0x7F), false)), aSHARE_SEQ_TAKEN)
            << sent << " was due: dropped";
        EXPECT_EQ(aShareSequences_Count(sequences), 0u) << "the broken sequence is gone";
        ASSERT_EQ(offer("a", chunk(28, 0, true)), aSHARE_SEQ_TAKEN);
        EXPECT_EQ(offer("a", chunk(10, 1, false)), aSHARE_SEQ_COMPLETE);
        ASSERT_EQ(collected.packets.size(), 2u) << sent;
        EXPECT_EQ(collected.packets[0], chunk(28, 0, true));
    }
}

// A client that stops midway and sends nothing more leaves a sequence that the
// others' requests age out.
TEST_F(Sequences, AnAbandonedSequenceExpires) {
    ASSERT_EQ(offer("a", chunk(28, 0, true)), aSHARE_SEQ_TAKEN);
    for (int i = 0; i <= aSHARE_SEQUENCE_TTL; ++i)
        offer("b", {0x40, 3, 0x01});
    EXPECT_EQ(aShareSequences_Count(sequences), 0u);
    EXPECT_EQ(offer("a", chunk(28, 1, false)), aSHARE_SEQ_PASS) << "nothing pending any more";
}

TEST_F(Sequences, ADifferentTargetEndsTheSequenceAndPasses) {
    ASSERT_EQ(offer("a", chunk(28, 0, true)), aSHARE_SEQ_TAKEN);
    EXPECT_EQ(offer("a", chunk(28, 1, false, 4)), aSHARE_SEQ_PASS);
    EXPECT_EQ(aShareSequences_Count(sequences), 0u);
    EXPECT_TRUE(collected.packets.empty());
}

// A sequence of n chunks: whole up to the bound (its own packets never age it, so
// one longer than the lifetime of 2000 requests does not expire midway), refused
// past it with nothing kept or handed on.
TEST_F(Sequences, ALongSequenceIsWholeUpToItsBoundAndRefusedPastIt) {
    struct Case {
        uint32_t packets;
        aShareSeqResult end;
        size_t handedOn;
    } cases[] = {
        {aSHARE_SEQUENCE_MAX_PACKETS, aSHARE_SEQ_COMPLETE, aSHARE_SEQUENCE_MAX_PACKETS},
        {aSHARE_SEQUENCE_MAX_PACKETS + 1, aSHARE_SEQ_TOO_LONG, 0},
        {aSHARE_SEQUENCE_TTL + 500, aSHARE_SEQ_COMPLETE, aSHARE_SEQUENCE_TTL + 500},
        {aSHARE_SEQUENCE_MAX_PACKETS + 500, aSHARE_SEQ_TOO_LONG, 0},
    };
    for (const Case& c : cases) {
        collected.packets.clear();
        ASSERT_EQ(offer("a", chunk(28, 0, true)), aSHARE_SEQ_TAKEN);
        for (uint32_t n = 1; n + 1 < c.packets; ++n) {
            ASSERT_EQ(offer("a", chunk(28, uint8_t(n & 0x7F), true)), aSHARE_SEQ_TAKEN)
                << c.packets << ": " << n;
            if (n % 2 == 0) offer("b", {0x40, 3, 0x01}); // another client's requests age only others'
        }
        EXPECT_EQ(offer("a", chunk(5, uint8_t((c.packets - 1) & 0x7F), false)), c.end) << c.packets;
        EXPECT_EQ(collected.packets.size(), c.handedOn) << c.packets;
        EXPECT_EQ(aShareSequences_Count(sequences), 0u) << c.packets;
    }
}

TEST(ShareFrames, AnErrorReplyRefusesAGetOrASetAsTheModuleWould) {
    struct Case {
        std::vector<uint8_t> request;
        std::vector<uint8_t> reply;
    } cases[] = {
        {{0x40, 0x83, 0x25, 1, 2}, {6, 4, 0x40, 0xC3, 0x85, aErrSize}}, // a set
        {{0x40, 0x43, 0x21}, {6, 4, 0x40, 0x03, 0x81, aErrSize}},       // a get
    };
    for (const Case& c : cases) {
        aPacket* p = make(c.request, 6);
        uint8_t wire[aSHARE_ERROR_REPLY_SIZE];
        aShare_ErrorReply(p, aErrSize, wire);
        EXPECT_EQ(std::vector<uint8_t>(wire, wire + sizeof wire), c.reply);
        aPacket_Destroy(&p);
    }
}

TEST_F(Sequences, OnlyUEIPayloadsStartOneAndAGoneClientIsForgotten) {
    EXPECT_EQ(offer("a", {23, 0, 0, 0x80}), aSHARE_SEQ_PASS) << "echo is no UEI payload";
    EXPECT_EQ(offer("a", chunk(27, 0, true)), aSHARE_SEQ_PASS) << "a start is 28 bytes";
    EXPECT_EQ(offer("a", chunk(28, 1, true)), aSHARE_SEQ_PASS) << "a start is number 0";
    ASSERT_EQ(offer("a", chunk(28, 0, true)), aSHARE_SEQ_TAKEN);
    aShareSequences_Forget(sequences, reinterpret_cast<const uint8*>("a"), 1);
    EXPECT_EQ(aShareSequences_Count(sequences), 0u);
}

} // namespace
