// Recovery of an i.MX module, in-process: the chip's boot ROM is the SDP emulator
// on a pseudo-terminal or as the USB HID device, the liveloader it starts appears
// on the virtual USB bus, and the update server is the reference server on
// loopback. The recovery runs through the same application object as the tool.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../updater/RecordingDisplay.h"
#include "BirdWriter.h"
#include "FirmwareImageTag.h"
#include "ImageVectorTable.h"
#include "ImxChip.h"
#include "ModuleUsbBus.h"
#include "ReferenceServer.h"
#include "TempDir.h"
#include "UpdaterApp.h"
#include "aVersion.h"

namespace {

using namespace Veltrano::Sim;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSerial = 0x5E1A0C01;
constexpr uint32_t kNewBuild = 4470;
// The chip identifier by subindex; the fingerprint lists it last word first.
const std::array<uint32_t, 4> kIdentifier = {0x11A2B3C4, 0x22D5E6F7, 0x33081920, 0x44A1B2C3};
const char kFingerprintLine[] = "44A1B2C3 33081920 22D5E6F7 11A2B3C4 5E1A0C01 40\n";

Bytes pattern(size_t n, uint8_t seed) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 5 + (i >> 7));
    return bytes;
}

// The liveloader's first block, with its vector table where the ROM is sent.
Bytes liveloaderStart() {
    Bytes bytes = pattern(2500, 3);
    putImageVectorTable(bytes, 0x400, 0x20000400);
    return bytes;
}

// The default recovery image: the liveloader in two loader blocks.
struct Liveloader {
    std::map<uint32_t, Bytes> blocks = {{0x20000000, liveloaderStart()}, {0x20001000, pattern(700, 9)}};
    void write(const std::string& path, uint32_t target) const {
        BirdWriter writer;
        writer.addIdentity("1.0.0", target, "VT-Acquire");
        for (const auto& [address, image] : blocks)
            writer.addLoaderImage(address, image);
        writer.writeFile(path);
    }
};

// The module's own build: firmware images, the last tagged with what it reports.
struct Firmware {
    std::map<uint32_t, Bytes> images;
    Firmware() {
        images[0x1000] = pattern(3000, 21);
        FirmwareImageTag tag;
        tag.version = aVersion_Pack(4, 2, 0);
        tag.build = kNewBuild;
        images[0x9000] = tag.appendTo(pattern(900, 40));
    }
    void write(const std::string& path) const {
        BirdWriter writer;
        writer.addIdentity("4.2.0", kSerial, "VT-Acquire");
        for (const auto& [address, image] : images)
            writer.addFirmwareImage(address, image);
        writer.writeFile(path);
    }
};

class RecoverImx : public ::testing::Test {
  protected:
    void SetUp() override {
        TempDir::makeDirectories(dir / "catalogue/serial/DEADDEAD");
        TempDir::makeDirectories(dir / "catalogue/serial/5E1A0C01");
        dir.write("catalogue/fingerprints.txt", kFingerprintLine);
        liveloader.write(dir / "catalogue/serial/DEADDEAD/3.bird", 0xDEADDEAD);
        firmware.write(dir / "catalogue/serial/5E1A0C01/40.bird");
        server = std::make_unique<ReferenceServer>(dir / "catalogue", dir / "server.log");
        app = std::make_unique<UpdaterApp>(server->url(), dir / "store/updater", &display);
    }
    // The chip goes before the bus it sits on.
    void TearDown() override { chip.reset(); }

    void startChip(ImxChip::Carrier carrier, SdpRom::Faults faults = {}, bool paced = false) {
        ImxChip::Settings settings;
        settings.carrier = carrier;
        settings.paced = paced;
        settings.identifier = kIdentifier;
        settings.serialNumber = kSerial;
        settings.rom.faults = faults;
        settings.liveloaderImage = {liveloader.blocks.begin(), liveloader.blocks.end()};
        chip = std::make_unique<ImxChip>(settings, &bus);
    }
    std::string port() const { return chip->serialPath().empty() ? "USB" : chip->serialPath(); }

    void expectRecovered() {
        for (const auto& [address, image] : liveloader.blocks)
            EXPECT_EQ(chip->rom().bytes(address, image.size()), image) << std::hex << address;
        ASSERT_TRUE(chip->waitForState(ImxChip::State::Firmware, 5000));
        for (const auto& [address, image] : firmware.images)
            EXPECT_EQ(chip->module().upgrade().flashBytes(address, image.size()), image)
                << std::hex << address;
        EXPECT_EQ(chip->module().currentIdentity().build, kNewBuild);
        EXPECT_EQ(TempDir::read(dir / "store/updater/5E1A0C01/40.bird"),
                  TempDir::read(dir / "catalogue/serial/5E1A0C01/40.bird"));
        EXPECT_EQ(TempDir::read(dir / "store/updater/DEADDEAD/3.bird"),
                  TempDir::read(dir / "catalogue/serial/DEADDEAD/3.bird"));
    }

    TempDir dir;
    Liveloader liveloader;
    Firmware firmware;
    RecordingDisplay display;
    ModuleUsbBus bus;
    std::unique_ptr<ReferenceServer> server;
    std::unique_ptr<UpdaterApp> app;
    std::unique_ptr<ImxChip> chip;
};

// The ROM's UART carries bytes at its real rate.
TEST_F(RecoverImx, OverTheSerialRomTheLiveloaderTakesTheModulesOwnBuild) {
    startChip(ImxChip::Carrier::Serial, {}, true);
    EXPECT_TRUE(app->Recover_Firmware(port(), 0, 115200, 0, ""));
    EXPECT_TRUE(display.errors.empty()) << display.errors.front();
    ASSERT_GE(display.messages.size(), 3u);
    EXPECT_EQ(display.messages.front(), "Recovering firmware with build: 40");
    EXPECT_EQ(display.messages.back().rfind("Update time: ", 0), 0u) << display.messages.back();
    expectRecovered();
}

TEST_F(RecoverImx, OverUsbTheRomIsTheHidDevice) {
    startChip(ImxChip::Carrier::Hid);
    EXPECT_TRUE(app->Recover_Firmware("USB", 0, 115200, 0, ""));
    EXPECT_TRUE(display.errors.empty()) << display.errors.front();
    expectRecovered();
}

// -N: the fingerprint through the liveloader, which then restarts into the ROM.
TEST_F(RecoverImx, FingerprintLeavesTheChipInItsRom) {
    startChip(ImxChip::Carrier::Serial);
    uint32_t words[4] = {};
    ASSERT_TRUE(app->Get_Fingerprint(words, port(), 0xDEADDEAD, "", 115200, true));
    EXPECT_EQ(std::vector<uint32_t>(words, words + 4),
              (std::vector<uint32_t>{0x44A1B2C3, 0x33081920, 0x22D5E6F7, 0x11A2B3C4}));
    EXPECT_TRUE(chip->waitForState(ImxChip::State::Rom, 5000));
    EXPECT_TRUE(display.messages.empty()) << "the liveloader's download is quiet";
}

// A record left by a failed download holds no liveloader: it is downloaded again.
TEST_F(RecoverImx, ARecordWithoutADownloadIsDownloadedAgain) {
    TempDir::makeDirectories(dir / "store/updater/DEADDEAD");
    dir.write("store/updater/DEADDEAD/.settings", "LAST_DOWNLOAD_DATE=2026-12-01 10:00:00\n");
    startChip(ImxChip::Carrier::Serial);
    uint32_t words[4] = {};
    EXPECT_TRUE(app->Get_Fingerprint(words, port(), 0xDEADDEAD, "", 115200, true));
    EXPECT_FALSE(display.isQuiet());
}

TEST_F(RecoverImx, AFileWithoutASerialNumberIsRefused) {
    startChip(ImxChip::Carrier::Hid);
    const std::string path = dir / "liveloader.bird";
    liveloader.write(path, 0xDEADDEAD);
    EXPECT_FALSE(app->Recover_Firmware("USB", 0, 115200, 0, path));
    EXPECT_EQ(display.errors,
              (std::vector<std::string>{
                  "Add serial number or remove the bird filename to use a default recovery image.",
                  "Could not get Device Identifier"}));
    EXPECT_EQ(chip->rom().commands(), 0u) << "nothing was sent to the ROM";
}

TEST_F(RecoverImx, ALiveloaderThatRefusesTheFirmwareFailsTheTransfer) {
    startChip(ImxChip::Carrier::Hid);
    ModuleFaults faults;
    faults.replies["upgrade.prepare"] = ReplyFault{ReplyFaultKind::ErrorReply, 0};
    chip->module().setFaults(faults);
    EXPECT_FALSE(app->Recover_Firmware("USB", 0, 115200, 0, ""));
    EXPECT_EQ(display.errors, (std::vector<std::string>{"Failed to transfer firmware"}));
    EXPECT_EQ(display.messages.back().rfind("Update time: ", 0), 0u) << display.messages.back();
    EXPECT_EQ(chip->state(), ImxChip::State::Liveloader);
}

TEST_F(RecoverImx, ALoaderTheRomRefusesEndsTheRecovery) {
    struct Case {
        const char* name;
        SdpRom::Faults faults;
    } cases[] = {{"wrong completion", {}}, {"early reply", {}}};
    cases[0].faults.writeFileStatus = 0x12345678;
    cases[1].faults.talkAtDataByte = 0;
    for (const Case& c : cases) {
        display.errors.clear();
        startChip(ImxChip::Carrier::Serial, c.faults);
        EXPECT_FALSE(app->Recover_Firmware(port(), 0, 115200, 0, "")) << c.name;
        EXPECT_EQ(display.errors, (std::vector<std::string>{"Could not get Device Identifier"})) << c.name;
        EXPECT_EQ(chip->state(), ImxChip::State::Rom) << c.name;
    }
}

} // namespace

namespace {

// A ROM that will not start the loader (no image vector table names itself where
// the jump goes) says so at once: the recovery fails then, with its status word,
// instead of waiting for a liveloader that cannot come.
TEST_F(RecoverImx, ARefusedJumpFailsAtOnceWithTheRomsStatus) {
    liveloader.blocks[0x20000000] = pattern(2500, 3);
    liveloader.write(dir / "catalogue/serial/DEADDEAD/3.bird", 0xDEADDEAD);
    for (ImxChip::Carrier carrier : {ImxChip::Carrier::Serial, ImxChip::Carrier::Hid}) {
        display.errors.clear();
        startChip(carrier, {}, true);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(app->Recover_Firmware(port(), 0, 115200, 0, ""));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4)) << port();
        EXPECT_EQ(display.errors,
                  (std::vector<std::string>{"The boot ROM refused to start the liveloader at 0x20000400 ==> "
                                            "[0x8D8D8D8D]",
                                            "Could not get Device Identifier"}))
            << port();
        EXPECT_EQ(chip->rom().jumps(), 0u);
        EXPECT_EQ(chip->state(), ImxChip::State::Rom);
    }
}

} // namespace
