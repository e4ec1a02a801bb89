// The i.MX boot ROM as a USB HID device: its HID descriptors, SDP commands by
// SET_REPORT answered on the interrupt endpoint, and the jump after which the ROM
// device leaves and the liveloader enumerates as a module; a reset brings the ROM
// back.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "ImageVectorTable.h"
#include "ModuleFrame.h"
#include "UsbIpCable.h"
#include "UsbIpHostSide.h"
#include "UsbIpImxChip.h"

namespace {

using namespace Veltrano::Sim;
using namespace Veltrano::Sim::UsbIp;
using namespace Veltrano::Sim::Test;
using Bytes = std::vector<uint8_t>;
// Inside TEST bodies gtest's Test::Setup hides the codec's name.
using ControlSetup = Veltrano::Sim::UsbIp::Setup;

constexpr uint32_t kLoadAddress = 0x20000400;

uint16_t le16(const Bytes& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

// An SDP command as report 1: id, then 16 bytes.
Bytes command(uint16_t type, uint32_t address, uint32_t count) {
    Bytes r = {1,
               static_cast<uint8_t>(type >> 8),
               static_cast<uint8_t>(type),
               static_cast<uint8_t>(address >> 24),
               static_cast<uint8_t>(address >> 16),
               static_cast<uint8_t>(address >> 8),
               static_cast<uint8_t>(address),
               0,
               static_cast<uint8_t>(count >> 24),
               static_cast<uint8_t>(count >> 16),
               static_cast<uint8_t>(count >> 8),
               static_cast<uint8_t>(count)};
    r.resize(17, 0);
    return r;
}

// SET_REPORT(output, id) with the report as the host's HID driver sends it.
ControlSetup setReport(const Bytes& report) {
    return ControlSetup{0x21, 0x09, static_cast<uint16_t>(0x0200 | report[0]), 0,
                        static_cast<uint16_t>(report.size())};
}

struct Chip {
    Chip() {
        UsbIpImxChip::Settings settings;
        settings.leaveDelayMs = 20;
        chip = std::make_unique<UsbIpImxChip>(settings);
        romCable = std::make_unique<UsbIpCable>(chip->romDevice(), romHost, 0x10002, UsbIpCable::Events{});
        loaderCable =
            std::make_unique<UsbIpCable>(chip->loaderDevice(), loaderHost, 0x10003, UsbIpCable::Events{});
    }
    HostEnd rom(size_t n = 0) {
        HostEnd end(romHost.connection(n, HostEnd::kWaitMs));
        EXPECT_EQ(end.control(setConfiguration(1)).status, 0);
        return end;
    }
    // Sends a report and reads the interrupt IN reports that answer it.
    static std::vector<Bytes> exchange(HostEnd& host, const Bytes& report, size_t answers) {
        EXPECT_EQ(host.control(setReport(report), report).status, 0);
        std::vector<Bytes> got;
        for (size_t i = 0; i < answers; ++i)
            got.push_back(host.bulkIn(1, 65).data);
        return got;
    }

    std::unique_ptr<UsbIpImxChip> chip;
    FakeHost romHost, loaderHost;
    std::unique_ptr<UsbIpCable> romCable, loaderCable;
};

TEST(UsbIpImxRom, EnumeratesAsTheRomsHidDevice) {
    Chip c;
    HostEnd host(c.romHost.connection(0, HostEnd::kWaitMs));
    RetSubmit device = host.control(getDescriptor(1, 0, 18));
    ASSERT_EQ(device.data.size(), 18u);
    EXPECT_EQ(le16(device.data, 8), 0x1FC9);
    EXPECT_EQ(le16(device.data, 10), 0x0130);
    EXPECT_EQ(device.data[16], 0) << "the ROM has no serial string";

    RetSubmit config = host.control(getDescriptor(2, 0, 255));
    ASSERT_EQ(config.data.size(), 9u + 9u + 9u + 7u);
    EXPECT_EQ(config.data[9 + 5], 3);     // HID interface
    EXPECT_EQ(config.data[18 + 1], 0x21); // HID descriptor
    uint16_t reportLength = le16(config.data, 18 + 7);
    EXPECT_EQ(config.data[27 + 2], 0x81); // interrupt IN
    EXPECT_EQ(config.data[27 + 3], 0x03);

    // The report descriptor is asked of the interface.
    RetSubmit report = host.control(ControlSetup{0x81, 0x06, 0x2200, 0, reportLength});
    EXPECT_EQ(report.data, sdpHidReportDescriptor());
    EXPECT_EQ(host.control(ControlSetup{0x21, 0x0A, 0, 0, 0}).status, 0); // SET_IDLE
    EXPECT_EQ(host.control(ControlSetup{0x21, 0x09, 0x0205, 0, 3}, {5, 0, 0}).status, kStatusStall)
        << "no output report 5";
}

TEST(UsbIpImxRom, SdpCommandsBySetReportAreAnsweredOnTheInterruptEndpoint) {
    Chip c;
    HostEnd host = c.rom();
    auto status = Chip::exchange(host, command(0x0505, 0, 0), 2); // ERROR_STATUS
    ASSERT_EQ(status[0].size(), 5u);
    EXPECT_EQ(status[0], (Bytes{3, 0x56, 0x78, 0x78, 0x56}));
    ASSERT_EQ(status[1].size(), 65u);
    EXPECT_EQ(Bytes(status[1].begin(), status[1].begin() + 5), (Bytes{4, 0xF0, 0xF0, 0xF0, 0xF0}));

    // A file write: command, data as report 2, then the completion word.
    Bytes data = {2};
    for (int i = 0; i < 32; ++i)
        data.push_back(static_cast<uint8_t>(i));
    EXPECT_EQ(
        host.control(setReport(command(0x0404, kLoadAddress, 32)), command(0x0404, kLoadAddress, 32)).status,
        0);
    auto done = Chip::exchange(host, data, 2);
    EXPECT_EQ(done[0][0], 3);
    EXPECT_EQ(Bytes(done[1].begin(), done[1].begin() + 5), (Bytes{4, 0x88, 0x88, 0x88, 0x88}));
    EXPECT_EQ(c.chip->rom().bytes(kLoadAddress, 32), Bytes(data.begin() + 1, data.end()));
}

TEST(UsbIpImxRom, JumpTakesTheRomOffTheBusAndTheLiveloaderOnAndResetBringsTheRomBack) {
    Chip c;
    HostEnd host = c.rom();
    EXPECT_FALSE(c.loaderCable->waitPlugged(true, 50)) << "the liveloader before the jump";
    // The loader's image vector table, naming itself where the jump goes.
    Bytes data;
    putImageVectorTable(data, 0, kLoadAddress);
    data.insert(data.begin(), 2);
    ASSERT_EQ(
        host.control(setReport(command(0x0404, kLoadAddress, 32)), command(0x0404, kLoadAddress, 32)).status,
        0);
    Chip::exchange(host, data, 2);

    auto jump = Chip::exchange(host, command(0x0B0B, kLoadAddress, 0), 1);
    EXPECT_EQ(jump[0], (Bytes{3, 0x56, 0x78, 0x78, 0x56})) << "the HAB mode before it goes";
    EXPECT_TRUE(host.closed());
    EXPECT_TRUE(c.romCable->waitPlugged(false, HostEnd::kWaitMs));
    ASSERT_TRUE(c.loaderCable->waitPlugged(true, HostEnd::kWaitMs));
    EXPECT_EQ(c.chip->loaderDevice().label(), "DEADDEAD");

    // The liveloader answers as a module; a system reset (option 11) ends it.
    HostEnd loader(c.loaderHost.connection(0, HostEnd::kWaitMs));
    ASSERT_EQ(loader.control(setConfiguration(1)).status, 0);
    ASSERT_EQ(loader.bulkOut(1, ModuleFrame{4, {0x5F, 0x00}}.wire()).status, 0);
    EXPECT_FALSE(loader.bulkIn(1, 512).data.empty());
    ASSERT_EQ(loader.bulkOut(1, ModuleFrame{4, {0x03, 0x80 | 11, 0x20}}.wire()).status, 0);
    EXPECT_TRUE(c.loaderCable->waitPlugged(false, HostEnd::kWaitMs));
    ASSERT_TRUE(c.romCable->waitPlugs(2, HostEnd::kWaitMs));
    HostEnd again = c.rom(1);
    auto status = Chip::exchange(again, command(0x0505, 0, 0), 1);
    EXPECT_EQ(status[0][0], 3) << "the ROM answers again";
}

} // namespace
