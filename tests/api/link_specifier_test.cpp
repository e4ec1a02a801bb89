// The link specifier record, the discovery datagrams and the small helpers of discovery.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <vector>

#include "aDiscovery.h"
#include "aDiscoveryWire.h"

namespace {

std::vector<uint8> bytesOf(const linkSpec& spec) {
    const uint8* p = reinterpret_cast<const uint8*>(&spec);
    return std::vector<uint8>(p, p + sizeof spec);
}

uint32 address(const char* dotted) {
    in_addr a;
    inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

TEST(LinkSpec, CreateZeroesAllButTheTypeAndCopyTakesAll128Bytes) {
    linkSpec* spec = aLinkSpec_Create(TCPIP);
    ASSERT_NE(spec, nullptr);
    std::vector<uint8> expected(128, 0);
    expected[0] = TCPIP;
    EXPECT_EQ(bytesOf(*spec), expected);

    spec->serialNumber = 0x40F5849A;
    spec->ipAddress = address("198.51.100.2");
    spec->ipPort = 7978;
    linkSpec* copy = aLinkSpec_Copy(*spec);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, spec);
    EXPECT_EQ(bytesOf(*copy), bytesOf(*spec));

    EXPECT_EQ(aLinkSpec_Destroy(&copy), aErrNone);
    EXPECT_EQ(copy, nullptr);
    EXPECT_EQ(aLinkSpec_Destroy(&copy), aErrParam);
    EXPECT_EQ(aLinkSpec_Destroy(nullptr), aErrParam);
    aLinkSpec_Destroy(&spec);
}

// The record travels verbatim in beacons: each field at its offset, little-endian.
TEST(LinkSpec, FieldsSitAtTheirWireOffsetsLittleEndian) {
    linkSpec spec = {};
    spec.type = ASOLVAN;
    spec.serialNumber = 0x11223344;
    spec.moduleAddress = 6;
    spec.routerAddress = 8;
    spec.routerSerialNumber = 0x55667788;
    spec.model = 0x13;
    spec.ipAddress = address("203.0.113.9");
    spec.ipPort = 0x1F2A;
    std::vector<uint8> expected(128, 0);
    const uint8 head[] = {4, 0,    0,    0,    0x44, 0x33, 0x22, 0x11, 6, 0,   0, 0,   8, 0,    0,
                          0, 0x88, 0x77, 0x66, 0x55, 0x13, 0,    0,    0, 203, 0, 113, 9, 0x2A, 0x1F};
    std::memcpy(expected.data(), head, sizeof head);
    EXPECT_EQ(bytesOf(spec), expected);

    linkSpec serial = {};
    serial.type = SERIAL;
    serial.baudRate = 115200;
    std::strcpy(serial.portName, "/dev/ttyUSB0");
    EXPECT_EQ(std::memcmp(reinterpret_cast<const uint8*>(&serial) + 28, "/dev/ttyUSB0", 13), 0);
    EXPECT_EQ(bytesOf(serial)[24], 0x00);
    EXPECT_EQ(bytesOf(serial)[25], 0xC2);
    EXPECT_EQ(bytesOf(serial)[26], 0x01);
}

TEST(DiscoveryWire, RequestIsOneThenFifteenZeros) {
    uint8 request[16];
    std::memset(request, 0xAA, sizeof request);
    aDiscovery_EncodeRequest(request);
    std::vector<uint8> expected(16, 0);
    expected[0] = 1;
    EXPECT_EQ(std::vector<uint8>(request, request + 16), expected);
}

TEST(DiscoveryWire, ReplyDecodesToATcpRecordFromItsSender) {
    const uint8 reply[16] = {0x01, 0x05, 0x2A, 0x1F, 0x9A, 0x84, 0xF5, 0x40,
                             0xEE, 0xEE, 0xEE, 0xEE, 0x13, 0xEE, 0xEE, 0xEE};
    linkSpec spec;
    std::memset(&spec, 0xCC, sizeof spec);
    ASSERT_TRUE(aDiscovery_DecodeReply(reply, sizeof reply, address("198.51.100.2"), &spec));
    linkSpec expected = {};
    expected.type = TCPIP;
    expected.moduleAddress = 5;
    expected.routerAddress = 5;
    expected.ipPort = 7978;
    expected.serialNumber = 0x40F5849A;
    expected.routerSerialNumber = 0x40F5849A;
    expected.model = 19;
    expected.ipAddress = address("198.51.100.2");
    EXPECT_EQ(bytesOf(spec), bytesOf(expected));
}

TEST(DiscoveryWire, OnlyASixteenByteDatagramIsAReply) {
    std::vector<uint8> datagram(64, 0x01);
    for (size_t length : {size_t(0), size_t(1), size_t(15), size_t(17), size_t(64), size_t(65536)}) {
        linkSpec spec;
        std::memset(&spec, 0xCC, sizeof spec);
        std::vector<uint8> untouched = bytesOf(spec);
        EXPECT_FALSE(aDiscovery_DecodeReply(datagram.data(), length, 0, &spec)) << length;
        EXPECT_EQ(bytesOf(spec), untouched) << length;
    }
}

TEST(DiscoveryWire, ABeaconIsA128ByteRecordOfAKnownType) {
    struct Case {
        size_t length;
        uint32 type;
        bool accepted;
    } cases[] = {{128, USB, true},      {128, TCPIP, true},   {128, SERIAL, true},      {128, ASOLVAN, true},
                 {128, 0, false},       {128, 5, false},      {128, 0x04000000, false}, {127, ASOLVAN, false},
                 {129, ASOLVAN, false}, {20, ASOLVAN, false}, {0, ASOLVAN, false}};
    for (const Case& c : cases) {
        std::vector<uint8> payload(200, 0x5A);
        std::memcpy(payload.data(), &c.type, 4);
        linkSpec spec;
        std::memset(&spec, 0xCC, sizeof spec);
        std::vector<uint8> before = bytesOf(spec);
        EXPECT_EQ(aDiscovery_DecodeBeacon(payload.data(), c.length, &spec), c.accepted)
            << c.length << " " << c.type;
        if (c.accepted)
            EXPECT_EQ(bytesOf(spec), std::vector<uint8>(payload.begin(), payload.begin() + 128));
        else
            EXPECT_EQ(bytesOf(spec), before);
    }
}

TEST(DiscoveryInterfaces, ConvertNeedsRoomForAnyAddressAndClearsTheBuffer) {
    char small[21];
    std::memset(small, '#', sizeof small);
    EXPECT_EQ(aDiscovery_ConvertIPv4Interface(address("203.0.113.77"), small, sizeof small), 0u);
    EXPECT_EQ(std::string(small, sizeof small), std::string(sizeof small, '#'));

    char text[30];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(aDiscovery_ConvertIPv4Interface(address("203.0.113.77"), text, sizeof text), 12u);
    EXPECT_STREQ(text, "203.0.113.77");
    EXPECT_EQ(std::string(text + 12, sizeof text - 12), std::string(sizeof text - 12, '\0'));
    EXPECT_EQ(aDiscovery_ConvertIPv4Interface(0, nullptr, 30), 0u);
}

TEST(DiscoveryInterfaces, LoopbackIsNoBeaconInterfaceAndANullArrayGetsNothing) {
    uint32 addresses[50];
    // Each test runs in a fresh namespace whose only interface is loopback.
    EXPECT_EQ(aDiscovery_GetIPv4Interfaces(addresses, 50), 0u);
    EXPECT_EQ(aDiscovery_GetIPv4Interfaces(nullptr, 50), 0u);
}

bool countingCallback(const linkSpec*, bool* found, void* ref) {
    ++*static_cast<int*>(ref);
    *found = true;
    return true;
}

TEST(Discovery, TypesThatCannotBeDiscoveredAnswerZeroWithoutACall) {
    for (int type : {0, int(SERIAL), 5, -1}) {
        int calls = 0;
        EXPECT_EQ(aDiscovery_EnumerateModules(static_cast<linkType>(type), countingCallback, &calls, 0), 0)
            << type;
        EXPECT_EQ(calls, 0) << type;
    }
    EXPECT_EQ(aDiscovery_EnumerateModules(USB, nullptr, nullptr, 0), 0);
    EXPECT_EQ(aDiscovery_FindModule(SERIAL, 0x40F5849A, 0), nullptr);
}

} // namespace
