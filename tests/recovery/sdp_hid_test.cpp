// The SDP commands over USB HID, against the boot-ROM emulator served through the
// HID seam: the packets as the ROM receives them, the handshake's attempts, and the
// ways a file write fails.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "HID_SDPLoader.h"
#include "ImageVectorTable.h"
#include "SDPProtocol.h"
#include "SdpRom.h"
#include "SdpRomHid.h"
#include "sdp_fixtures.h"

namespace {

using namespace Veltrano::Sim;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kLoadAddress = 0x20000400;

struct HidRom {
    explicit HidRom(SdpRom::Settings settings = {}) : rom(settings), hid(rom) {
        sdp.setLoader(std::make_unique<HID_SDPLoader>(SdpRomHid::kVendorId, SdpRomHid::kProductId));
        opened = sdp.openLoader();
    }
    SdpRom rom;
    SdpRomHid hid;
    SDPProtocol sdp;
    bool opened = false;
};

Bytes command(std::initializer_list<uint8_t> head) {
    Bytes packet(head);
    packet.resize(17, 0);
    return packet;
}

TEST(SdpHid, WriteFileGoesOutAsCommandAndReportsOfAtMost1025Bytes) {
    HidRom r;
    ASSERT_TRUE(r.opened);
    Bytes image = sdpPattern(2500);
    EXPECT_EQ(r.sdp.sdpWriteFile(kLoadAddress, image), SDPProtocol::kWriteOk);

    std::vector<Bytes> reports = r.hid.writtenReports();
    ASSERT_EQ(reports.size(), 5u);
    EXPECT_EQ(reports[0], command({0x01, 0x05, 0x05})) << "the handshake: ERROR_STATUS";
    EXPECT_EQ(reports[1], command({0x01, 0x04, 0x04, 0x20, 0x00, 0x04, 0x00, 0x20, 0x00, 0x00, 0x09, 0xC4}))
        << "WRITE_FILE: address, format 0x20, count 2500";
    const size_t sizes[] = {1025, 1025, 453};
    size_t at = 0;
    for (size_t i = 0; i < 3; ++i) {
        const Bytes& data = reports[2 + i];
        ASSERT_EQ(data.size(), sizes[i]);
        EXPECT_EQ(data[0], 2) << "report id 2";
        EXPECT_TRUE(std::equal(data.begin() + 1, data.end(), image.begin() + at));
        at += data.size() - 1;
    }
    EXPECT_EQ(r.rom.bytes(kLoadAddress, image.size()), image);
}

TEST(SdpHid, JumpAddressPacketAndTheChipLeavingItsRom) {
    HidRom r;
    std::vector<uint8_t> image = sdpPattern(64);
    putImageVectorTable(image, 0, kLoadAddress);
    ASSERT_EQ(r.sdp.sdpWriteFile(kLoadAddress, image), 0);
    // Outside the loaded image, and inside it where no vector table names itself:
    // the ROM answers its refusal and stays.
    for (uint32_t address : {0x30000000u, kLoadAddress + 0x20}) {
        uint32_t refusal = 0;
        EXPECT_FALSE(r.sdp.sdpJumpAddress(address, &refusal)) << std::hex << address;
        EXPECT_EQ(refusal, SdpRom::kJumpRefused) << std::hex << address;
        EXPECT_FALSE(r.rom.left()) << std::hex << address;
    }
    EXPECT_EQ(r.hid.writtenReports().back(), command({0x01, 0x0B, 0x0B, 0x20, 0x00, 0x04, 0x20}));
    EXPECT_EQ(r.rom.jumps(), 0u);

    EXPECT_TRUE(r.sdp.sdpJumpAddress(kLoadAddress));
    EXPECT_EQ(r.hid.writtenReports().back(), command({0x01, 0x0B, 0x0B, 0x20, 0x00, 0x04, 0x00}));
    EXPECT_TRUE(r.rom.left());
    EXPECT_EQ(r.rom.lastJump(), kLoadAddress);
    EXPECT_FALSE(r.sdp.sdpErrorStatus()) << "the ROM is gone";
}

TEST(SdpHid, AHandshakeWithoutStatusIsTriedFiveTimes) {
    struct Case {
        const char* what;
        SdpRom::Faults faults;
    };
    SdpRom::Faults habOnly, none, silent;
    habOnly.errorStatus = SdpRom::ErrorStatusReply::HabOnly; // 5 bytes: no status
    none.errorStatus = SdpRom::ErrorStatusReply::None;
    silent.silent = true;
    for (const Case& c : {Case{"HAB mode only", habOnly}, Case{"no answer", none}, Case{"silent", silent}}) {
        SdpLogCapture log;
        SdpRom::Settings settings;
        settings.faults = c.faults;
        HidRom r(settings);
        EXPECT_FALSE(r.sdp.sdpErrorStatus()) << c.what;
        EXPECT_EQ(r.rom.commands(), 5u) << c.what;
        EXPECT_EQ(sdpOccurrences(log.text(), "Error: No ack from iMX device\n"), 1u) << c.what;
        EXPECT_EQ(r.sdp.sdpWriteFile(kLoadAddress, sdpPattern(10)), SDPProtocol::kWriteNoHandshake) << c.what;
    }
}

TEST(SdpHid, AHandshakeAnsweredWithAnyStatusSucceeds) {
    SdpLogCapture log;
    SdpRom::Settings settings;
    settings.faults.garble = true;
    HidRom r(settings);
    EXPECT_TRUE(r.sdp.sdpErrorStatus());
    EXPECT_EQ(r.rom.commands(), 1u);
    EXPECT_NE(log.text().find("bytesWritten: 17\n1 5 5 0 0 0 0 0 0 0 0 0 0 0 0 0 0 \nRead Data: 70\n"),
              std::string::npos)
        << log.text();
}

TEST(SdpHid, DataFromTheDeviceDuringTheDataPhaseAbortsWithThree) {
    SdpLogCapture log;
    SdpRom::Settings settings;
    settings.faults.talkAtDataByte = 1024;
    HidRom r(settings);
    EXPECT_EQ(r.sdp.sdpWriteFile(kLoadAddress, sdpPattern(4000)), SDPProtocol::kWriteDeviceError);
    EXPECT_EQ(r.hid.writtenReports().size(), 3u) << "handshake, command, first data packet; then the abort";
    EXPECT_NE(log.text().find("Error while transfering loader. Aborting\n"), std::string::npos);
}

TEST(SdpHid, ACompletionOtherThan88888888FailsWithFour) {
    struct Case {
        const char* what;
        SdpRom::Faults faults;
    };
    SdpRom::Faults wrong, garbled;
    wrong.writeFileStatus = 0x12345678;
    garbled.garble = true;
    for (const Case& c : {Case{"wrong status", wrong}, Case{"garbled answer", garbled}}) {
        SdpLogCapture log;
        SdpRom::Settings settings;
        settings.faults = c.faults;
        HidRom r(settings);
        EXPECT_EQ(r.sdp.sdpWriteFile(kLoadAddress, sdpPattern(1500)), SDPProtocol::kWriteBadCompletion)
            << c.what;
        EXPECT_NE(log.text().find("Loader Transfer Unsuccessful\n"), std::string::npos) << c.what;
    }
}

TEST(SdpHid, NoDeviceNoOpen) {
    SdpRom rom;
    SdpRomHid hid(rom);
    SDPProtocol sdp;
    sdp.setLoader(std::make_unique<HID_SDPLoader>(0x1FC9, 0x0131));
    EXPECT_FALSE(sdp.openLoader()) << "another product id";
    SDPProtocol none;
    EXPECT_FALSE(none.openLoader()) << "no loader";
    EXPECT_FALSE(none.sdpErrorStatus());
}

TEST(SdpHid, DestroyingTheProtocolClosesTheDevice) {
    SdpRom rom;
    SdpRomHid hid(rom);
    {
        SDPProtocol sdp;
        sdp.setLoader(std::make_unique<HID_SDPLoader>(SdpRomHid::kVendorId, SdpRomHid::kProductId));
        ASSERT_TRUE(sdp.openLoader());
        EXPECT_TRUE(hid.isOpen());
    }
    EXPECT_FALSE(hid.isOpen());
}

} // namespace
