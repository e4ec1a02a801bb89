#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <vector>

#include "aUEI.h"

namespace {

aPacketPtr packetWith(const std::vector<uint8>& data) {
    static const uint8 none = 0; // an empty packet still needs a data pointer
    return aPacketPtr(aPacket_CreateWithData(4, uint8(data.size()), data.empty() ? &none : data.data()));
}

TEST(UEIValues, BigEndianReaders) {
    const unsigned char bytes[] = {0x05, 0xEE, 0xAF, 0x6E};
    EXPECT_EQ(aUEI_RetrieveInt(bytes), 99528558u);
    EXPECT_EQ(aUEI_RetrieveShort(bytes), 0x05EE);
    const unsigned char high[] = {0xFF, 0xFE, 0x80, 0x01};
    EXPECT_EQ(aUEI_RetrieveInt(high), 0xFFFE8001u);
    EXPECT_EQ(aUEI_RetrieveShort(high), 0xFFFE);
    EXPECT_EQ(aUEI_RetrieveInt(nullptr), 0u);
    EXPECT_EQ(aUEI_RetrieveShort(nullptr), 0);
}

TEST(UEIValues, ModifyIntBufferConvertsInPlace) {
    unsigned int values[3] = {htonl(99528558u), htonl(1u), htonl(0xA0B0C0D0u)};
    EXPECT_EQ(aUEI_ModifyIntBuffer(values, 3), aErrNone);
    EXPECT_EQ(values[0], 99528558u);
    EXPECT_EQ(values[1], 1u);
    EXPECT_EQ(values[2], 0xA0B0C0D0u);
    EXPECT_EQ(aUEI_ModifyIntBuffer(nullptr, 0), aErrNone);
    EXPECT_EQ(aUEI_ModifyIntBuffer(nullptr, 2), aErrParam);
}

TEST(UEIClassify, NonUEICommands) {
    const std::vector<int> nonUEI = {0, 1, 2, 4, 8, 9, 23, 24, 73, 94, 95, 173, 175};
    for (int command = 0; command < 256; ++command) {
        aPacketPtr packet = packetWith({uint8(command), 0x01, 0x00});
        bool expected = std::find(nonUEI.begin(), nonUEI.end(), command) != nonUEI.end();
        EXPECT_EQ(aUEI_isNotUEIPayload(packet.get()), expected) << command;
        EXPECT_EQ(aUEI_isUEIPayload(packet.get()), !expected) << command;
    }
}

TEST(UEIClassify, NullAndEmptyPacketsAreNotUEI) {
    EXPECT_FALSE(aUEI_isNotUEIPayload(nullptr));
    EXPECT_FALSE(aUEI_isUEIPayload(nullptr));
    EXPECT_FALSE(aUEI_isStreamPacket(nullptr));
    EXPECT_FALSE(aUEI_getBytesFullPacket(nullptr));
    aPacketPtr empty = packetWith({});
    ASSERT_TRUE(empty);
    EXPECT_TRUE(aUEI_isNotUEIPayload(empty.get()));
    EXPECT_FALSE(aUEI_isUEIPayload(empty.get()));
    aPacket forged = *packetWith({3, 7, 0x40, 0, 0, 0, 0});
    forged.check = 0;
    EXPECT_FALSE(aUEI_isUEIPayload(&forged));
    EXPECT_FALSE(aUEI_isStreamPacket(&forged));
}

TEST(UEIClassify, StreamPackets) {
    struct Case {
        const char* what;
        std::vector<uint8> data;
        bool stream;
    } cases[] = {
        {"7-byte stream value", {3, 7, 0x40, 1, 2, 3, 4}, true},
        {"5 bytes is enough", {3, 7, 0x5F, 1, 2}, true},
        {"option with bit 6", {3, 0x47, 0x40, 1, 2, 3, 4}, false},
        {"option with bit 7", {3, 0x87, 0x40, 1, 2, 3, 4}, false},
        {"specifier without stream bit", {3, 7, 0x00, 1, 2, 3, 4}, false},
        {"specifier with other bits only", {3, 7, 0xBF, 1, 2, 3, 4}, false},
        {"4 bytes", {3, 7, 0x40, 1}, false},
        {"non-UEI command", {73, 7, 0x40, 1, 2, 3, 4}, false},
    };
    for (const Case& c : cases) {
        aPacketPtr packet = packetWith(c.data);
        EXPECT_EQ(aUEI_isStreamPacket(packet.get()), c.stream) << c.what;
    }
}

TEST(UEIChunks, SequenceAndContinueFromLastByte) {
    struct Case {
        std::vector<uint8> data;
        unsigned char sequence;
        bool more;
    } cases[] = {
        {{3, 1, 2, 0x81}, 1, true},
        {{3, 1, 2, 0x02}, 2, false},
        {{0xFF}, 0x7F, true},
        {{0x00, 0x80}, 0, true},
        {{}, 0, false},
    };
    for (const Case& c : cases) {
        aPacketPtr packet = packetWith(c.data);
        EXPECT_EQ(aUEI_getBytesSequence(packet.get()), c.sequence) << c.data.size();
        EXPECT_EQ(aUEI_getBytesContinue(packet.get()), c.more) << c.data.size();
    }
    EXPECT_EQ(aUEI_getBytesSequence(nullptr), 0);
    EXPECT_FALSE(aUEI_getBytesContinue(nullptr));
}

TEST(UEIChunks, FullPacketIs27Or28Bytes) {
    for (uint8 size = 0; size <= 28; ++size) {
        aPacketPtr packet = packetWith(std::vector<uint8>(size, 0x10));
        EXPECT_EQ(aUEI_getBytesFullPacket(packet.get()), size >= 27) << int(size);
    }
}

} // namespace
