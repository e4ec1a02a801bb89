// The whole i.MX chip: the host loads the liveloader through the ROM's HID device,
// the liveloader appears on the USB bus and reports the chip identifier through the
// device API, takes the firmware, and restarts as the module it now is; a reset of
// the liveloader brings the ROM back.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "BirdFile.h"
#include "BirdWriter.h"
#include "HID_SDPLoader.h"
#include "Link.h"
#include "../updater/RecordingDisplay.h"
#include "ImageVectorTable.h"
#include "ImxChip.h"
#include "Module.h"
#include "ModuleUsbBus.h"
#include "SDPProtocol.h"
#include "SdpRomHid.h"
#include "SystemClass.h"
#include "TransferDriver.h"
#include "UpdaterDisplayInterface.h"
#include "aTime.h"
#include "sdp_fixtures.h"

namespace {

using namespace Veltrano::Sim;
using Veltrano::Halvorine::aSolvanConfig;
using Veltrano::Halvorine::Module;
using Veltrano::Halvorine::SystemClass;

constexpr uint32_t kStart = 0x20000400;

ImxChip::Settings hidChip() {
    ImxChip::Settings settings;
    settings.carrier = ImxChip::Carrier::Hid;
    return settings;
}

BirdFile recoveryFile(uint32_t serial) {
    BirdWriter writer;
    writer.addIdentity("3.1.0", serial, "VT-Acquire");
    std::vector<uint8_t> loader = sdpPattern(3000, 1);
    putImageVectorTable(loader, 0, kStart);
    writer.addLoaderImage(kStart, loader);
    writer.addLoaderImage(0x20010000, sdpPattern(700, 2));
    writer.addFirmwareImage(0x1000, sdpPattern(2100, 3));
    writer.addFirmwareImage(0x8000, sdpPattern(500, 4));
    writer.addStartAddress(kStart);
    std::vector<uint8> bytes = writer.file();
    return BirdFile::fromMemory("recovery.bird", bytes.data(), bytes.size());
}

std::vector<uint8_t> imageOf(const BirdBlock& block) {
    return std::vector<uint8_t>(block.image(), block.image() + block.imageLength());
}

// What the recovery does through the ROM: every loader block, then the jump.
void loadLiveloader(const BirdFile& file) {
    SDPProtocol sdp;
    sdp.setLoader(std::make_unique<HID_SDPLoader>(SdpRomHid::kVendorId, SdpRomHid::kProductId));
    ASSERT_TRUE(sdp.openLoader());
    for (const BirdBlock& block : file.blocksOfType(birdLoaderImage))
        ASSERT_EQ(sdp.sdpWriteFile(block.address, imageOf(block)), 0);
    sdp.sdpJumpAddress(kStart);
}

// Connects over USB without link sharing, trying up to attempts times 100 ms apart.
aErr connectTo(Module& module, uint32_t serial, int attempts = 1) {
    aSolvanConfig config;
    config.shareThroughServer = 0;
    config.allowFallback = 0;
    aErr err = module.setConfig(config);
    if (err != aErrNone) return err;
    for (int attempt = 1;; ++attempt) {
        err = module.discoverAndConnect(USB, serial);
        if (err == aErrNone || attempt >= attempts) return err;
        aTime_MSSleep(100);
    }
}

TEST(SdpImxChip, TheLiveloaderReportsTheChipIdentifierAndBecomesTheFirmware) {
    ModuleUsbBus bus;
    ImxChip::Settings settings = hidChip();
    ImxChip chip(settings, &bus);
    BirdFile file = recoveryFile(settings.serialNumber);
    loadLiveloader(file);
    for (const BirdBlock& block : file.blocksOfType(birdLoaderImage))
        EXPECT_EQ(chip.rom().bytes(block.address, block.imageLength()), imageOf(block)) << block.address;
    ASSERT_TRUE(chip.waitForState(ImxChip::State::Liveloader, 2000));

    Module liveloader;
    ASSERT_EQ(connectTo(liveloader, 0xDEADDEAD), aErrNone);
    SystemClass system;
    system.init(&liveloader, 0);
    for (unsigned char i = 0; i < 4; ++i) {
        unsigned int word = 0;
        EXPECT_EQ(system.getUEI32(39, i, &word), aErrNone) << int(i);
        EXPECT_EQ(word, settings.identifier[i]) << int(i);
    }
    unsigned int missing = 0;
    EXPECT_NE(system.getUEI32(39, 4, &missing), aErrNone) << "four words only";

    RecordingDisplay display;
    ASSERT_EQ(TransferFirmwareBlocks(&display, &liveloader, file, false, false), aErrNone);
    ASSERT_TRUE(chip.waitForState(ImxChip::State::Firmware, 2000));
    liveloader.disconnect();
    for (const BirdBlock& block : file.blocksOfType(birdFirmwareImage))
        EXPECT_EQ(chip.module().upgrade().flashBytes(block.address, block.imageLength()), imageOf(block));

    Module firmware;
    ASSERT_EQ(connectTo(firmware, settings.serialNumber, 30), aErrNone)
        << "back under the chip's own serial number";
    firmware.disconnect();
}

TEST(SdpImxChip, AResetOfTheLiveloaderBringsTheRomBack) {
    ModuleUsbBus bus;
    ImxChip chip(hidChip(), &bus);
    BirdFile file = recoveryFile(0x5E1A0C01);
    loadLiveloader(file);
    ASSERT_TRUE(chip.waitForState(ImxChip::State::Liveloader, 2000));
    {
        Module liveloader;
        ASSERT_EQ(connectTo(liveloader, 0xDEADDEAD), aErrNone);
        SystemClass system;
        system.init(&liveloader, 0);
        EXPECT_EQ(system.reset(), aErrNone);
        ASSERT_TRUE(chip.waitForState(ImxChip::State::Rom, 2000));
        liveloader.disconnect();
    }
    Module gone;
    EXPECT_NE(connectTo(gone, 0xDEADDEAD), aErrNone) << "off the bus";
    SDPProtocol sdp;
    sdp.setLoader(std::make_unique<HID_SDPLoader>(SdpRomHid::kVendorId, SdpRomHid::kProductId));
    ASSERT_TRUE(sdp.openLoader()) << "the ROM's device is back";
    EXPECT_TRUE(sdp.sdpErrorStatus());
}

// The ROM jumps into whatever names itself in a vector table; only the
// liveloader's own bytes become the liveloader.
TEST(SdpImxChip, OnlyTheLiveloadersBytesStartTheLiveloader) {
    const BirdFile file = recoveryFile(0x5E1A0C01);
    for (bool same : {true, false}) {
        ModuleUsbBus bus;
        ImxChip::Settings settings = hidChip();
        for (const BirdBlock& block : file.blocksOfType(birdLoaderImage))
            settings.liveloaderImage[block.address] = imageOf(block);
        if (!same) settings.liveloaderImage.begin()->second.back() ^= 1;
        ImxChip chip(settings, &bus);
        loadLiveloader(file);
        EXPECT_EQ(chip.rom().jumps(), 1u);
        EXPECT_TRUE(chip.rom().left()) << same;
        EXPECT_EQ(chip.waitForState(ImxChip::State::Liveloader, same ? 2000 : 300), same);
    }
}

TEST(SdpImxChip, AChipThatNeverLeavesItsRom) {
    ModuleUsbBus bus;
    ImxChip::Settings settings = hidChip();
    settings.leavesRom = false;
    ImxChip chip(settings, &bus);
    loadLiveloader(recoveryFile(0x5E1A0C01));
    EXPECT_EQ(chip.rom().jumps(), 1u);
    EXPECT_FALSE(chip.waitForState(ImxChip::State::Liveloader, 300));
    Module none;
    EXPECT_NE(connectTo(none, 0xDEADDEAD), aErrNone);
    SDPProtocol sdp;
    sdp.setLoader(std::make_unique<HID_SDPLoader>(SdpRomHid::kVendorId, SdpRomHid::kProductId));
    ASSERT_TRUE(sdp.openLoader());
    EXPECT_TRUE(sdp.sdpErrorStatus()) << "still the ROM";
}

} // namespace
