#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "aPacket.h"

namespace {

struct Fed {
    std::vector<aErr> results;
    bool complete;
};

// Feeds the bytes one by one to a fresh packet, as a link's reader does.
Fed feed(aPacket* packet, const std::vector<uint8>& bytes) {
    Fed fed{{}, false};
    for (uint8 byte : bytes) fed.results.push_back(aPacket_AddByte(packet, byte));
    fed.complete = aPacket_IsComplete(packet);
    return fed;
}

std::vector<uint8> wireOf(const aPacket* packet) {
    const uint8* start = &packet->address;
    return std::vector<uint8>(start, start + packet->dataSize + 2);
}

class PacketTest : public ::testing::Test {
  protected:
    void SetUp() override { packet = aPacket_Create(); }
    void TearDown() override { aPacket_Destroy(&packet); }
    aPacket* packet = nullptr;
};

TEST_F(PacketTest, CreateGivesZeroedValidPacket) {
    ASSERT_NE(packet, nullptr);
    EXPECT_TRUE(aVALIDPACKET(packet));
    EXPECT_EQ(packet->check, 0xBEEF);
    EXPECT_EQ(packet->curSize, 0);
    EXPECT_EQ(packet->address, 0);
    EXPECT_EQ(packet->dataSize, 0);
    EXPECT_FALSE(aPacket_IsComplete(packet));
}

TEST_F(PacketTest, AssemblesEmptyPacket) {
    Fed fed = feed(packet, {0x02, 0x00});
    EXPECT_EQ(fed.results, (std::vector<aErr>{aErrNone, aErrNone}));
    EXPECT_TRUE(fed.complete);
    EXPECT_EQ(packet->address, 2);
    EXPECT_EQ(packet->curSize, 2);
}

TEST_F(PacketTest, CompletesOnlyAfterLastDataByte) {
    const std::vector<uint8> wire = {0x06, 0x03, 0x11, 0x22, 0x33};
    for (size_t i = 0; i < wire.size(); ++i) {
        EXPECT_EQ(aPacket_AddByte(packet, wire[i]), aErrNone) << i;
        EXPECT_EQ(aPacket_IsComplete(packet), i == wire.size() - 1) << i;
    }
    EXPECT_EQ(wireOf(packet), wire);
}

TEST_F(PacketTest, AssemblesLargestPacket) {
    std::vector<uint8> wire = {0x04, 28};
    for (uint8 i = 0; i < 28; ++i) wire.push_back(uint8(0xA0 + i));
    Fed fed = feed(packet, wire);
    EXPECT_EQ(fed.results, std::vector<aErr>(30, aErrNone));
    EXPECT_TRUE(fed.complete);
    EXPECT_EQ(packet->curSize, 30);
    EXPECT_EQ(wireOf(packet), wire);
}

TEST_F(PacketTest, FramingErrors) {
    struct Case {
        const char* what;
        std::vector<uint8> bytes;
        aErr last;
    } cases[] = {
        {"odd address", {0x03}, aErrPacket},
        {"zero address", {0x00}, aErrPacket},
        {"control address 0xAD", {0xAD}, aErrPacket},
        {"size 29", {0x04, 29}, aErrPacket},
        {"size 255", {0x04, 0xFF}, aErrPacket},
        {"byte after complete data", {0x04, 0x01, 0x10, 0x11}, aErrPacket},
        {"byte after complete empty packet", {0x02, 0x00, 0x05}, aErrPacket},
        {"two refused address bytes", {0x2F, 0x01}, aErrPacket},
        {"refused address then size", {0x00, 0x03, 0x00}, aErrPacket},
    };
    for (const Case& c : cases) {
        aPacket_Reset(packet);
        Fed fed = feed(packet, c.bytes);
        EXPECT_EQ(fed.results.back(), c.last) << c.what;
        EXPECT_FALSE(fed.complete) << c.what;
    }
}

TEST_F(PacketTest, OversizeNeverCompletesAndOverrunSticks) {
    std::vector<uint8> bytes = {0x04, 29};
    bytes.resize(30 + 300, 0x55); // far beyond the wire limit: curSize must not wrap
    Fed fed = feed(packet, bytes);
    EXPECT_EQ(fed.results[1], aErrPacket);
    for (size_t i = 2; i < 30; ++i) EXPECT_EQ(fed.results[i], aErrNone) << i;
    for (size_t i = 30; i < bytes.size(); ++i) ASSERT_EQ(fed.results[i], aErrOverrun) << i;
    EXPECT_FALSE(fed.complete);
    EXPECT_LE(packet->curSize, 31);
}

TEST_F(PacketTest, ThirtyFirstByteOverruns) {
    std::vector<uint8> wire = {0x04, 28};
    wire.resize(30, 0x01);
    feed(packet, wire);
    ASSERT_TRUE(aPacket_IsComplete(packet));
    EXPECT_EQ(aPacket_AddByte(packet, 0x01), aErrOverrun);
    EXPECT_FALSE(aPacket_IsComplete(packet));
}

TEST_F(PacketTest, ResetAllowsReassembly) {
    feed(packet, {0x04, 0x02, 0x09, 0x08});
    ASSERT_TRUE(aPacket_IsComplete(packet));
    EXPECT_EQ(aPacket_Reset(packet), aErrNone);
    EXPECT_TRUE(aVALIDPACKET(packet));
    EXPECT_EQ(packet->curSize, 0);
    EXPECT_EQ(packet->address, 0);
    EXPECT_EQ(packet->dataSize, 0);
    for (uint8 byte : packet->data) EXPECT_EQ(byte, 0);
    Fed fed = feed(packet, {0x08, 0x01, 0x77});
    EXPECT_TRUE(fed.complete);
    EXPECT_EQ(wireOf(packet), (std::vector<uint8>{0x08, 0x01, 0x77}));
}

TEST(PacketValidity, InvalidRecordsAreRefused) {
    aPacket forged;
    std::memset(&forged, 0, sizeof forged);
    forged.check = 0xBEEE;
    uint8 value = 0;
    EXPECT_FALSE(aVALIDPACKET(nullptr));
    EXPECT_FALSE(aVALIDPACKET(&forged));
    EXPECT_EQ(aPacket_AddByte(&forged, 0x02), aErrParam);
    EXPECT_EQ(aPacket_AddByte(nullptr, 0x02), aErrParam);
    EXPECT_EQ(aPacket_Reset(&forged), aErrParam);
    EXPECT_EQ(aPacket_Reset(nullptr), aErrParam);
    EXPECT_FALSE(aPacket_IsComplete(&forged));
    EXPECT_FALSE(aPacket_IsComplete(nullptr));
    EXPECT_EQ(aPacket_Copy(&forged), nullptr);
    EXPECT_EQ(aPacket_Copy(nullptr), nullptr);
    EXPECT_EQ(aPacket_GetCmd(&forged, &value), aErrPacket);
    aPacket* pointer = &forged;
    EXPECT_EQ(aPacket_Destroy(&pointer), aErrParam);
    EXPECT_EQ(pointer, &forged);
}

TEST(PacketDestroy, ClearsPointerAndRefusesNull) {
    aPacket* packet = aPacket_Create();
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(aPacket_Destroy(&packet), aErrNone);
    EXPECT_EQ(packet, nullptr);
    EXPECT_EQ(aPacket_Destroy(&packet), aErrParam);
    EXPECT_EQ(aPacket_Destroy(nullptr), aErrParam);
}

TEST(PacketCreateWithData, CopiesDataAndIsComplete) {
    uint8 data[28];
    for (uint8 i = 0; i < 28; ++i) data[i] = uint8(i * 3);
    for (uint8 length : {0, 1, 27, 28}) {
        aPacket* packet = aPacket_CreateWithData(0x0A, length, data);
        ASSERT_NE(packet, nullptr) << int(length);
        EXPECT_TRUE(aPacket_IsComplete(packet));
        EXPECT_EQ(packet->address, 0x0A);
        EXPECT_EQ(packet->dataSize, length);
        EXPECT_EQ(packet->curSize, length + 2);
        EXPECT_EQ(std::memcmp(packet->data, data, length), 0);
        for (int i = length; i < 28; ++i) EXPECT_EQ(packet->data[i], 0) << i;
        aPacket_Destroy(&packet);
    }
}

TEST(PacketCreateWithData, RefusesBadArguments) {
    uint8 data[29] = {0};
    EXPECT_EQ(aPacket_CreateWithData(4, 29, data), nullptr);
    EXPECT_EQ(aPacket_CreateWithData(4, 0xFF, data), nullptr);
    EXPECT_EQ(aPacket_CreateWithData(4, 0, nullptr), nullptr);
}

TEST(PacketCopy, IsIndependentAndComplete) {
    aPacket* original = aPacket_Create();
    ASSERT_NE(original, nullptr);
    // A half-assembled packet copies as a complete one with the same fields.
    aPacket_AddByte(original, 0x06);
    aPacket_AddByte(original, 0x02);
    aPacket_AddByte(original, 0x42);
    aPacket* copy = aPacket_Copy(original);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, original);
    EXPECT_EQ(copy->address, 0x06);
    EXPECT_EQ(copy->dataSize, 2);
    EXPECT_EQ(copy->curSize, 4);
    EXPECT_EQ(copy->data[0], 0x42);
    original->data[0] = 0x99;
    EXPECT_EQ(copy->data[0], 0x42);
    aPacket_Destroy(&copy);
    aPacket_Destroy(&original);
}

TEST(PacketAccessors, MaskFieldsAndNeedEnoughData) {
    const uint8 data[] = {0x12, 0xC5, 0xE3};
    uint8 value = 0;
    for (uint8 length = 0; length <= 3; ++length) {
        aPacket* packet = aPacket_CreateWithData(2, length, data);
        ASSERT_NE(packet, nullptr);
        struct Field {
            aErr (*get)(const aPacket*, uint8*);
            uint8 needs;
            uint8 expected;
        } fields[] = {{aPacket_GetCmd, 1, 0x12}, {aPacket_GetOption, 2, 0x05}, {aPacket_GetIndex, 3, 0x03}};
        for (const Field& field : fields) {
            value = 0xEE;
            bool present = length >= field.needs;
            EXPECT_EQ(field.get(packet, &value), present ? aErrNone : aErrPacket) << int(length);
            EXPECT_EQ(value, present ? field.expected : 0xEE) << int(length);
        }
        EXPECT_EQ(aPacket_GetCmd(packet, nullptr), aErrParam);
        EXPECT_EQ(aPacket_GetOption(packet, nullptr), aErrParam);
        EXPECT_EQ(aPacket_GetIndex(packet, nullptr), aErrParam);
        aPacket_Destroy(&packet);
    }
    EXPECT_EQ(aPacket_GetCmd(nullptr, &value), aErrPacket);
    EXPECT_EQ(aPacket_GetOption(nullptr, &value), aErrPacket);
    EXPECT_EQ(aPacket_GetIndex(nullptr, &value), aErrPacket);
}

} // namespace
