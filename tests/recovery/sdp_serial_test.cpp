// The SDP commands over a serial port, against the boot-ROM emulator on a
// pseudo-terminal: raw commands and data, raw answers, and a writer that stops when
// the line has gone.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "SDPProtocol.h"
#include "SdpRom.h"
#include "SdpRomSerial.h"
#include "Serial_SDPLoader.h"
#include "sdp_fixtures.h"

namespace {

using namespace Veltrano::Sim;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kLoadAddress = 0x20000400;

struct SerialRom {
    explicit SerialRom(SdpRom::Settings settings = {}, SdpRomSerial::Settings line = {})
        : rom(settings), serial(rom, line) {
        auto owned = std::make_unique<Serial_SDPLoader>(serial.path());
        loader = owned.get();
        sdp.setLoader(std::move(owned));
        opened = sdp.openLoader();
    }
    SdpRom rom;
    SdpRomSerial serial;
    SDPProtocol sdp;
    Serial_SDPLoader* loader = nullptr;
    bool opened = false;
};

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(SdpSerial, WriteFileSendsThePacketsWithoutTheirReportIds) {
    SdpLogCapture log;
    SerialRom r;
    ASSERT_TRUE(r.opened);
    std::vector<uint8_t> image = sdpPattern(2500, 3);
    EXPECT_EQ(r.sdp.sdpWriteFile(kLoadAddress, image), SDPProtocol::kWriteOk);
    EXPECT_EQ(r.rom.bytes(kLoadAddress, image.size()), image);
    EXPECT_EQ(r.rom.commands(), 2u) << "ERROR_STATUS, WRITE_FILE";
    EXPECT_EQ(r.serial.line().bytesReceived(), 4u + 16u + 16u + 2500u) << "the association first";
    std::string text = log.text();
    EXPECT_NE(text.find("Write Res: 16\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Write Res: 452 , Total: 2500, Loop: 2, tell: 2500, size: 453\n"), std::string::npos);
    EXPECT_NE(text.find("Loader Transfer Successful\n"), std::string::npos);
}

// A UART carries 11 520 bytes a second while the port takes them at once: the
// completion comes only once the last byte crossed the line.
TEST(SdpSerial, AWriteAtTheLinesRateWaitsForItsCompletion) {
    SdpRomSerial::Settings paced;
    paced.paced = true;
    SerialRom r({}, paced);
    ASSERT_TRUE(r.opened);
    std::vector<uint8_t> image = sdpPattern(8192, 5);
    const auto start = Clock::now();
    EXPECT_EQ(r.sdp.sdpWriteFile(kLoadAddress, image), SDPProtocol::kWriteOk);
    EXPECT_GE(msSince(start), 700) << "8 KiB take 711 ms at 115200 baud";
    EXPECT_LT(msSince(start), 3000);
    EXPECT_EQ(r.rom.bytes(kLoadAddress, image.size()), image);
}

TEST(SdpSerial, TheStatusComesFromTheRawAnswer) {
    SerialRom r;
    std::vector<uint8_t> response;
    ASSERT_EQ(r.loader->writePacket({1, 0x05, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 16);
    EXPECT_EQ(r.loader->readResponse(response, 100), 8);
    EXPECT_EQ(response, (std::vector<uint8_t>{0x56, 0x78, 0x78, 0x56, 0xF0, 0xF0, 0xF0, 0xF0}));
}

// The ROM hears nothing before the association: what another protocol tried on
// the port first is lost, and the commands after it stay in step.
TEST(SdpSerial, BytesBeforeTheAssociationAreIgnored) {
    SdpRom rom;
    SdpRomSerial serial(rom, {});
    int fd = ::open(serial.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "?\r\nA 1\r\n", 8), 8);
    ::tcdrain(fd);
    ::close(fd);
    SDPProtocol sdp;
    sdp.setLoader(std::make_unique<Serial_SDPLoader>(serial.path()));
    ASSERT_TRUE(sdp.openLoader());
    EXPECT_EQ(serial.associations(), 1u);
    EXPECT_EQ(serial.ignoredBytes(), 8u);
    EXPECT_TRUE(sdp.sdpErrorStatus());
    EXPECT_EQ(rom.commands(), 1u) << "the handshake is the first command";
    EXPECT_EQ(sdp.sdpWriteFile(kLoadAddress, sdpPattern(100)), 0);
}

// A port whose far end never answers the association is no SDP ROM: nothing else
// is sent to it, after a bounded number of tries.
TEST(SdpSerial, WithoutAnAnswerToTheAssociationTheLoaderDoesNotOpen) {
    std::vector<uint8_t> heard;
    std::mutex mutex;
    SerialLine deaf(
        [&](uint8_t byte, uint32_t) {
            std::lock_guard<std::mutex> lock(mutex);
            heard.push_back(byte);
        },
        SerialLine::Settings{});
    SdpLogCapture log;
    Serial_SDPLoader loader(deaf.path());
    const auto start = Clock::now();
    EXPECT_FALSE(loader.openDevice());
    EXPECT_LT(msSince(start), 3000);
    EXPECT_NE(log.text().find("Error: No association from iMX device\n"), std::string::npos);
    deaf.stop();
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.size() % 4, 0u);
    for (size_t i = 0; i < heard.size(); i += 4)
        EXPECT_EQ(std::vector<uint8_t>(heard.begin() + i, heard.begin() + i + 4),
                  (std::vector<uint8_t>{0x23, 0x45, 0x45, 0x23}));
}

TEST(SdpSerial, FailuresOfTheHandshakeAndTheWrite) {
    struct Case {
        const char* what;
        SdpRom::Faults faults;
        size_t size;
        int result;
    };
    SdpRom::Faults silent, habOnly, wrong;
    silent.silent = true;
    habOnly.errorStatus = SdpRom::ErrorStatusReply::HabOnly;
    wrong.writeFileStatus = 0x88888880;
    for (const Case& c : {Case{"silent", silent, 100, SDPProtocol::kWriteNoHandshake},
                          Case{"HAB mode only", habOnly, 100, SDPProtocol::kWriteNoHandshake},
                          Case{"wrong completion", wrong, 1500, SDPProtocol::kWriteBadCompletion}}) {
        SdpLogCapture log;
        SdpRom::Settings settings;
        settings.faults = c.faults;
        SerialRom r(settings);
        EXPECT_EQ(r.sdp.sdpWriteFile(kLoadAddress, sdpPattern(c.size)), c.result) << c.what;
        if (c.result == SDPProtocol::kWriteNoHandshake) {
            EXPECT_EQ(sdpOccurrences(log.text(), "Error: No ack from iMX device\n"), 1u) << c.what;
        }
    }
}

TEST(SdpSerial, DataFromTheDeviceDuringTheDataPhaseAbortsWithThree) {
    // The ROM answers after the first packet; however fast the host writes, the
    // terminal's buffer holds it back long before 256 KiB are out.
    SdpRom::Settings settings;
    settings.faults.talkAtDataByte = 1024;
    SerialRom r(settings);
    std::vector<uint8_t> image = sdpPattern(256 * 1024);
    EXPECT_EQ(r.sdp.sdpWriteFile(kLoadAddress, image), SDPProtocol::kWriteDeviceError);
    EXPECT_LT(r.serial.line().bytesReceived(), 32u + image.size());
}

TEST(SdpSerial, TheWriterStopsWhenTheLineHasGone) {
    SerialRom r;
    r.serial.line().stop(); // the far end hangs up
    std::vector<uint8_t> packet(1025, 0x5A);
    packet[0] = 2;
    auto start = Clock::now();
    EXPECT_LT(r.loader->writePacket(packet), 1024);
    EXPECT_LT(msSince(start), 2000) << "no retrying for ever";
    start = Clock::now();
    EXPECT_EQ(r.sdp.sdpWriteFile(kLoadAddress, sdpPattern(100)), SDPProtocol::kWriteNoHandshake);
    EXPECT_LT(msSince(start), 3000);
}

TEST(SdpSerial, APortThatCannotBeOpenedIsSaidOnStandardOutput) {
    struct Case {
        std::string name;
        std::string path;
    };
    for (const Case& c : {Case{"/nonexistent/ttyX", "/nonexistent/ttyX"}, Case{"ttyVT9x", "/dev/ttyVT9x"}}) {
        Serial_SDPLoader loader(c.name);
        EXPECT_EQ(loader.path(), c.path);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(loader.openDevice());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Unable to open Serial Port: " + c.path + "\n");
    }
}

TEST(SdpSerial, ThePortIsHeldAloneAndItsSettingsComeBack) {
    SdpRom rom;
    SdpRomSerial serial(rom, {});
    int fd = ::open(serial.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios before{};
    ASSERT_EQ(::tcgetattr(fd, &before), 0);
    {
        Serial_SDPLoader loader(serial.path());
        ASSERT_TRUE(loader.openDevice());
        termios during{};
        ASSERT_EQ(::tcgetattr(fd, &during), 0);
        EXPECT_EQ(cfgetospeed(&during), B115200);
        EXPECT_EQ(during.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8));
        EXPECT_EQ(during.c_lflag & ICANON, 0u) << "raw";
        Serial_SDPLoader second(serial.path());
        testing::internal::CaptureStdout();
        EXPECT_FALSE(second.openDevice()) << "held exclusively";
        testing::internal::GetCapturedStdout();
    }
    termios after{};
    ASSERT_EQ(::tcgetattr(fd, &after), 0);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    ::close(fd);
}

} // namespace
