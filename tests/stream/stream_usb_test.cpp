#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "aStream.h"
#include "aStreamUSBModules.h"
#include "fake_usb.h"
#include "stream_test_util.h"

namespace {

TEST(USBSerial, ParsesBothForms) {
    struct Case {
        const char* text;
        bool ok;
        uint32 serial;
    } cases[] = {
        {"40F5849A", true, 0x40F5849A},
        {"40f5849a", true, 0x40F5849A},
        {"1", true, 1},
        {"FFFFFFFF", true, 0xFFFFFFFF},
        {"RFICB1234.A", true, 1234},
        {"RFICB4294967295.A", true, 4294967295u},
        {"RFICB4294967296.A", false, 0},
        {"RFICB.A", false, 0},
        {"RFICB12x.A", false, 0},
        {"RFICB-5.A", false, 0},
        {"ABCDE.A", false, 0},
        {"123456789", false, 0},
        {"12G4", false, 0},
        {" 12", false, 0},
        {"", false, 0},
    };
    for (const Case& c : cases) {
        uint32 serial = 77;
        EXPECT_EQ(aStreamUSB_ParseSerial(c.text, &serial), c.ok) << c.text;
        EXPECT_EQ(serial, c.serial) << c.text;
    }
    uint32 serial;
    EXPECT_FALSE(aStreamUSB_ParseSerial(nullptr, &serial));
}

struct Found {
    uint32 serial;
    uint16 productId;
};

bool collect(uint32 serial, uint16 productId, const aStreamUSBDevice*, void* ref) {
    static_cast<std::vector<Found>*>(ref)->push_back({serial, productId});
    return true;
}

TEST(USBModules, OnlyTheMakersDevicesWithAModuleInterfaceCount) {
    FakeUSB usb;
    FakeUSB::Device otherVendor = FakeUSB::module("11111111");
    otherVendor.description.vendorId = aStreamUSB_GetVendorId() ^ 0x0101;
    FakeUSB::Device otherProtocol = FakeUSB::module("22222222");
    otherProtocol.description.interfaces[1].protocol = 0x11;
    FakeUSB::Device unreadable = FakeUSB::module("not a serial");
    usb.devices = {otherVendor, FakeUSB::module("40F5849A", 0x0113), otherProtocol, unreadable,
                   FakeUSB::module("RFICB1234.A", 0x0007)};

    std::vector<Found> found;
    EXPECT_EQ(aStreamUSB_EnumerateModules(collect, &found), 2u);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].serial, 0x40F5849Au);
    EXPECT_EQ(found[0].productId, 0x0113);
    EXPECT_EQ(found[1].serial, 1234u);
    EXPECT_EQ(found[1].productId, 0x0007);
    // Devices that are not modules are never opened to read their serial.
    EXPECT_EQ(usb.serialsRead, (std::vector<std::string>{"40F5849A", "not a serial", "RFICB1234.A"}));
}

TEST(USBModules, EnumerationStopsWhenAsked) {
    FakeUSB usb;
    usb.devices = {FakeUSB::module("00000001"), FakeUSB::module("00000002")};
    int calls = 0;
    auto once = [](uint32, uint16, const aStreamUSBDevice*, void* ref) {
        ++*static_cast<int*>(ref);
        return false;
    };
    EXPECT_EQ(aStreamUSB_EnumerateModules(once, &calls), 1u);
    EXPECT_EQ(calls, 1);
}

TEST(USBStream, OpensTheModuleWithThatSerialNumber) {
    FakeUSB usb;
    usb.devices = {FakeUSB::module("00000001"), FakeUSB::module("RFICB1234.A")};
    aStream* s = nullptr;
    ASSERT_EQ(aStream_CreateUSB(1234, &s), aErrNone);
    EXPECT_EQ(usb.openedInterfaces, std::vector<uint8>{1});
    EXPECT_EQ(usb.resetPipes, (std::vector<uint8>{0x81, 0x02}));
    EXPECT_EQ(aStream_Destroy(&s), aErrNone);
    EXPECT_EQ(usb.closes, 1);
}

TEST(USBStream, CreationFailures) {
    struct Case {
        const char* name;
        std::function<void(FakeUSB&)> setUp;
        aErr expected;
        int closes;
    } cases[] = {
        {"no such module", [](FakeUSB& u) { u.devices = {FakeUSB::module("00000001")}; }, aErrNotFound, 0},
        {"no USB at all", [](FakeUSB& u) { u.noUSB = true; }, aErrNotFound, 0},
        {"held by another program",
         [](FakeUSB& u) {
             u.devices = {FakeUSB::module("0000ABCD")};
             u.devices[0].openResult = aErrBusy;
         },
         aErrBusy, 0},
        {"isochronous endpoint",
         [](FakeUSB& u) {
             u.devices = {FakeUSB::module("0000ABCD")};
             u.devices[0].description.interfaces[1].endpoints[2].type = aSTREAM_USB_ISOCHRONOUS;
         },
         aErrInitialization, 1},
        {"no bulk OUT",
         [](FakeUSB& u) {
             u.devices = {FakeUSB::module("0000ABCD")};
             u.devices[0].description.interfaces[1].endpoints[1].type = aSTREAM_USB_INTERRUPT;
         },
         aErrInitialization, 1},
        {"pipe reset refused",
         [](FakeUSB& u) {
             u.devices = {FakeUSB::module("0000ABCD")};
             u.resetResult = aErrIO;
         },
         aErrInitialization, 1},
    };
    for (const Case& c : cases) {
        FakeUSB usb;
        c.setUp(usb);
        aStream* s = nullptr;
        EXPECT_EQ(aStream_CreateUSB(0xABCD, &s), c.expected) << c.name;
        EXPECT_EQ(s, nullptr) << c.name;
        EXPECT_EQ(usb.closes, c.closes) << c.name;
    }
    EXPECT_EQ(aStream_CreateUSB(0xABCD, nullptr), aErrParam);
}

TEST(USBStream, MachineWithoutModulesAnswersNotFound) {
    aStream* s = nullptr;
    EXPECT_EQ(aStream_CreateUSB(0x7E57AB1E, &s), aErrNotFound);
    EXPECT_EQ(s, nullptr);
}

struct OpenModule {
    FakeUSB usb;
    aStream* stream = nullptr;
    explicit OpenModule(uint16 outMax = 512, uint16 inMax = 64) {
        usb.devices = {FakeUSB::module("00C0FFEE", 0x13, outMax, inMax)};
        EXPECT_EQ(aStream_CreateUSB(0x00C0FFEE, &stream), aErrNone);
    }
    ~OpenModule() { aStream_Destroy(&stream); }
};

TEST(USBStream, ReadsHandOutEachTransferByteByByte) {
    OpenModule m;
    m.usb.in = {{aErrNone, "abc"}, {aErrTimeout, ""}, {aErrTimeout, "de"}, {aErrCancel, ""}, {aErrIO, ""}};
    uint8 bytes[3];
    EXPECT_EQ(aStream_Read(m.stream, bytes, 3), aErrNone);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 3), "abc");
    EXPECT_EQ(m.usb.inLengths.size(), 1u) << "one transfer serves many byte reads";
    EXPECT_EQ(aStream_Read(m.stream, bytes, 1), aErrNotReady);
    // Bytes that came with a time-out are not lost.
    EXPECT_EQ(aStream_Read(m.stream, bytes, 2), aErrNone);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 2), "de");
    EXPECT_EQ(aStream_Read(m.stream, bytes, 1), aErrCancel);
    EXPECT_EQ(aStream_Read(m.stream, bytes, 1), aErrIO);
    EXPECT_EQ(m.usb.inLengths, std::vector<uint32>(5, 64u));
    for (uint32 t : m.usb.timeouts) EXPECT_EQ(t, 1000u);
}

std::string pattern(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; i++) s.push_back(static_cast<char>(i % 253));
    return s;
}

// Every transfer moves its whole chunk but only completes late: each counts an attempt.
aErr completesLate(const std::string& offered, uint32* moved) {
    *moved = static_cast<uint32>(offered.size());
    return aErrTimeout;
}

TEST(USBStream, WriteChunksAndAttemptBudget) {
    struct Case {
        const char* name;
        uint16 outMax;
        size_t size;
        bool late;
        aErr expected;
        std::vector<uint32> chunks;
    } cases[] = {
        {"512 bytes go as 511 and 1", 512, 512, false, aErrNone, {511, 1}},
        {"small packets", 64, 130, false, aErrNone, {64, 64, 2}},
        {"ten late chunks then give up", 64, 1000, true, aErrWrite, std::vector<uint32>(10, 64)},
        {"nine late chunks are within budget", 512, 4096, true, aErrNone, {511, 511, 511, 511, 511, 511, 511, 511, 8}},
    };
    for (const Case& c : cases) {
        OpenModule m(c.outMax);
        if (c.late) m.usb.out = completesLate;
        std::string data = pattern(c.size);
        EXPECT_EQ(writeText(m.stream, data), c.expected) << c.name;
        std::vector<uint32> chunks;
        for (const auto& call : m.usb.outCalls) {
            chunks.push_back(call.offered);
            EXPECT_EQ(call.endpoint, 0x02) << c.name;
        }
        EXPECT_EQ(chunks, c.chunks) << c.name;
        std::string sent = m.usb.sent();
        EXPECT_EQ(sent, data.substr(0, sent.size())) << c.name;
    }
}

TEST(USBStream, FailedWritesEndAfterTenAttempts) {
    OpenModule m(64);
    m.usb.out = [](const std::string&, uint32* moved) {
        *moved = 0;
        return aErrIO;
    };
    EXPECT_EQ(writeText(m.stream, "hello"), aErrWrite);
    EXPECT_EQ(m.usb.outCalls.size(), 10u);
    EXPECT_EQ(m.usb.sent(), "");
}

TEST(USBStream, PartlySentChunkIsNotRepeated) {
    OpenModule m(64);
    // Every transfer moves at most 10 bytes and then times out.
    m.usb.out = [](const std::string& offered, uint32* moved) {
        *moved = offered.size() < 10 ? static_cast<uint32>(offered.size()) : 10;
        return *moved == offered.size() ? aErrNone : aErrTimeout;
    };
    std::string data = pattern(70);
    EXPECT_EQ(writeText(m.stream, data), aErrNone);
    EXPECT_EQ(m.usb.sent(), data);
    EXPECT_EQ(m.usb.outCalls.size(), 7u);
}

TEST(USBStream, SingleByteWriteGoesThroughTheBufferWriter) {
    OpenModule m;
    uint8 byte = 0x5A;
    EXPECT_EQ(aStream_Write(m.stream, &byte, 1), aErrNone);
    EXPECT_EQ(m.usb.sent(), "\x5A");
}

} // namespace

namespace {

// Once interrupted, no transfer starts: a stopping link is never held by a module.
TEST(USBStream, InterruptionStartsNoFurtherTransfer) {
    OpenModule m(64);
    EXPECT_EQ(aStream_Interrupt(m.stream), aErrNone);
    uint8 byte;
    EXPECT_EQ(aStream_Read(m.stream, &byte, 1), aErrCancel);
    EXPECT_EQ(writeText(m.stream, "hello"), aErrCancel);
    EXPECT_TRUE(m.usb.outCalls.empty());
    EXPECT_TRUE(m.usb.inLengths.empty());
}

} // namespace
