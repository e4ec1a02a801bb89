// The transfer driver against the virtual module's loader: whole files into
// flash, retries and giving up, files without blocks, the checks before an
// update, and the loader start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TransferDriver.h"
#include "TransferFixtures.h"
#include "UpdaterLog.h"

using namespace TransferTest;
using Veltrano::Sim::ModuleFaults;
using Veltrano::Sim::ReplyFault;
using Veltrano::Sim::ReplyFaultKind;
using Veltrano::Sim::UpgradeArea;
using Strings = std::vector<std::string>;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

struct Image {
    uint32_t address;
    Bytes bytes;
};

BirdWriter writerWith(const std::vector<Image>& loader, const std::vector<Image>& firmware) {
    BirdWriter writer;
    writer.addIdentity("2.16.0", kSerial, "VT-CoreUSB");
    for (const Image& i : loader)
        writer.addLoaderImage(i.address, i.bytes);
    for (const Image& i : firmware)
        writer.addFirmwareImage(i.address, i.bytes);
    return writer;
}

UpgradeArea::Settings quickReboot() {
    UpgradeArea::Settings settings;
    settings.rebootAwayMs = 300;
    return settings;
}

// A module whose loader already runs, as the firmware transfer alone expects.
UpgradeArea::Settings runningLoader(UpgradeArea::Settings settings = quickReboot()) {
    settings.loaderResident = true;
    return settings;
}

} // namespace

class WholeFile : public ::testing::TestWithParam<bool> {};

TEST_P(WholeFile, LoaderAndFirmwareLandByteForByte) {
    const bool uei = GetParam();
    ServedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    m.device.upgrade().configure(quickReboot());
    const std::vector<Image> loader = {{0x20000000, image(700, 3)}};
    const std::vector<Image> firmware = {
        {0x00001000, image(2500, 1)}, {0x00004000, image(1, 9)}, {0x00008000, image(1025, 5)}};
    BirdFile file = birdFile(writerWith(loader, firmware));
    CountingDisplay display;
    LogCapture log(DEBUG_Network_FIRM);

    ASSERT_EQ(TransferLoaderBlocks(&display, &m.module, file), aErrNone);
    EXPECT_EQ(m.device.upgrade().loaderImage().at(0x20000000), loader[0].bytes);
    EXPECT_EQ(m.device.upgrade().counts().loads, 1u);
    ASSERT_EQ(TransferFirmwareBlocks(&display, &m.module, file, false, uei), aErrNone);
    for (const Image& i : firmware)
        EXPECT_EQ(m.device.upgrade().flashBytes(i.address, i.bytes.size()), i.bytes) << std::hex << i.address;
    EXPECT_EQ(m.device.upgrade().counts().reboots, 1u);
    EXPECT_EQ(m.device.upgrade().counts().ueiDataSets > 0, uei);

    EXPECT_EQ(display.messages,
              (Strings{"Transferring loader to device", "Transferring loader block 1 of 1, 704 bytes",
                       "Transferred 1 blocks, 704 total bytes", "Starting Load on Device",
                       "Transferring firmware block 1 of 3, 2504 bytes",
                       "Transferring firmware block 2 of 3, 5 bytes",
                       "Transferring firmware block 3 of 3, 1029 bytes",
                       "Transferred 3 blocks, 3538 total bytes"}));
    EXPECT_TRUE(display.errors.empty());
    EXPECT_GE(display.activityFrames, 1);
    EXPECT_DOUBLE_EQ(display.progress.back(), 1.0);
    EXPECT_EQ(contains(log.text(), "NETWORK: Protocol Version: -2147483648 Error: 0\n"), uei);
}

INSTANTIATE_TEST_SUITE_P(DataPath, WholeFile, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "UeiValues" : "DataPackets"; });

TEST(Driver, BlockThatFailsTwiceIsRetriedAndTheFileCompletes) {
    ServedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    m.device.upgrade().configure(runningLoader());
    fault(m.device, "upgrade.sum", ReplyFaultKind::Corrupt, 1, 2); // block 2, twice
    const std::vector<Image> firmware = {
        {0x1000, image(100, 1)}, {0x2000, image(100, 2)}, {0x3000, image(100, 3)}};
    BirdFile file = birdFile(writerWith({}, firmware));
    CountingDisplay display;
    LogCapture log(DEBUG_Updater);
    ASSERT_EQ(TransferFirmwareBlocks(&display, &m.module, file, false, false), aErrNone);
    EXPECT_EQ(display.messages, (Strings{"Transferring firmware block 1 of 3, 104 bytes",
                                         "Transferring firmware block 2 of 3, 104 bytes",
                                         "Transferring firmware block 2 of 3, 104 bytes", "  Retry 1",
                                         "Transferring firmware block 2 of 3, 104 bytes", "  Retry 2",
                                         "Transferring firmware block 3 of 3, 104 bytes",
                                         "Transferred 3 blocks, 312 total bytes"}));
    for (const Image& i : firmware)
        EXPECT_EQ(m.device.upgrade().flashBytes(i.address, i.bytes.size()), i.bytes);
    EXPECT_TRUE(contains(log.text(), "Transferring firmware to device transfer.bird\n"));
    EXPECT_TRUE(contains(log.text(), "Error firmware transfer [29, aErrInvalidOption].\n"));
}

TEST(Driver, BlockThatKeepsFailingIsGivenUpAfterFiveAttempts) {
    struct Case {
        const char* request;
        uint64_t dataPackets; // per attempt of a 30-byte block
    };
    // A wrong sum each time; a count the module never gets right (bounded resends).
    for (const Case& c : {Case{"upgrade.sum", 2}, Case{"upgrade.data", 8}}) {
        SCOPED_TRACE(c.request);
        ServedModule m;
        ASSERT_EQ(m.connected, aErrNone);
        m.device.upgrade().configure(runningLoader());
        fault(m.device, c.request, ReplyFaultKind::Corrupt);
        BirdFile file = birdFile(writerWith({}, {{0x1000, image(30)}, {0x2000, image(30)}}));
        CountingDisplay display;
        LogCapture log(DEBUG_Updater);
        EXPECT_EQ(TransferFirmwareBlocks(&display, &m.module, file, false, false), aErrInvalidOption);
        EXPECT_EQ(display.messages, (Strings{"Transferring firmware block 1 of 2, 34 bytes",
                                             "Transferring firmware block 1 of 2, 34 bytes", "  Retry 1",
                                             "Transferring firmware block 1 of 2, 34 bytes", "  Retry 2",
                                             "Transferring firmware block 1 of 2, 34 bytes", "  Retry 3",
                                             "Transferring firmware block 1 of 2, 34 bytes", "  Retry 4",
                                             "Transferred 0 blocks, 0 total bytes"}));
        EXPECT_EQ(m.device.upgrade().counts().prepares, 5u);
        EXPECT_EQ(m.device.upgrade().counts().dataPackets, 5 * c.dataPackets);
        EXPECT_EQ(m.device.upgrade().counts().reboots, 0u);
        EXPECT_TRUE(contains(log.text(), "Error firmware transfer block failed.\n"));
    }
}

TEST(Driver, ZeroBlockSizeIsGivenUpWithoutSendingData) {
    ServedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    UpgradeArea::Settings settings = runningLoader();
    settings.blockSize = 0;
    m.device.upgrade().configure(settings);
    BirdFile file = birdFile(writerWith({}, {{0x1000, image(30)}}));
    CountingDisplay display;
    EXPECT_EQ(TransferFirmwareBlocks(&display, &m.module, file, false, false), aErrInvalidOption);
    EXPECT_EQ(m.device.upgrade().counts().prepares, 5u);
    EXPECT_EQ(m.device.upgrade().counts().dataPackets, 0u);
}

// PREPARE is part of a block's attempts: a reply lost once costs one attempt; a
// module that keeps refusing it gets the block's five attempts, then the transfer
// stops without a reboot.
TEST(Driver, PrepareIsRetriedAsPartOfTheBlocksAttempts) {
    const Strings blockTwice = {
        "Transferring firmware block 1 of 2, 34 bytes", "Transferring firmware block 2 of 2, 34 bytes",
        "Transferring firmware block 2 of 2, 34 bytes", "  Retry 1", "Transferred 2 blocks, 68 total bytes"};
    const Strings blockFiveTimes = {
        "Transferring firmware block 1 of 2, 34 bytes", "Transferring firmware block 2 of 2, 34 bytes",
        "Transferring firmware block 2 of 2, 34 bytes", "  Retry 1",
        "Transferring firmware block 2 of 2, 34 bytes", "  Retry 2",
        "Transferring firmware block 2 of 2, 34 bytes", "  Retry 3",
        "Transferring firmware block 2 of 2, 34 bytes", "  Retry 4",
        "Transferred 1 blocks, 34 total bytes"};
    const struct {
        const char* name;
        ReplyFaultKind kind;
        int32_t times;
        aErr result;
        const Strings& messages;
        uint64_t reboots;
    } cases[] = {
        {"lost once", ReplyFaultKind::NoReply, 1, aErrNone, blockTwice, 1},
        {"always refused", ReplyFaultKind::ErrorReply, -1, aErrInvalidOption, blockFiveTimes, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ServedModule m;
        ASSERT_EQ(m.connected, aErrNone);
        m.device.upgrade().configure(runningLoader());
        fault(m.device, "upgrade.prepare", c.kind, 1, c.times);
        const std::vector<Image> firmware = {{0x1000, image(30)}, {0x2000, image(30, 4)}};
        BirdFile file = birdFile(writerWith({}, firmware));
        CountingDisplay display;
        FirmwareTransferReport report;
        EXPECT_EQ(TransferFirmwareBlocks(&display, &m.module, file, false, false, &report), c.result);
        EXPECT_EQ(display.messages, c.messages);
        EXPECT_EQ(m.device.upgrade().counts().reboots, c.reboots);
        EXPECT_EQ(report.failedBlock, c.result == aErrNone ? 0u : 2u);
        if (c.result == aErrNone) {
            EXPECT_EQ(m.device.upgrade().flashBytes(0x2000, 30), firmware[1].bytes);
        }
    }
}

TEST(Driver, BlockTooShortForItsAddressIsRefusedUnsent) {
    ServedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    BirdWriter writer;
    writer.addBlock(birdFirmwareImage, 0, {0x00, 0x10});
    BirdFile file = birdFile(writer);
    CountingDisplay display;
    EXPECT_EQ(TransferFirmwareBlocks(&display, &m.module, file, false, false), aErrSize);
    EXPECT_EQ(m.device.upgrade().counts().prepares, 0u);
    EXPECT_EQ(m.device.upgrade().counts().reboots, 0u);
}

TEST(Driver, FilesWithoutImagesStillStartTheLoaderAndReboot) {
    ServedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    m.device.upgrade().configure(quickReboot());
    BirdFile file = birdFile(writerWith({}, {}));
    CountingDisplay display;
    ASSERT_EQ(TransferLoaderBlocks(&display, &m.module, file), aErrNone);
    EXPECT_EQ(m.device.upgrade().counts().loads, 1u);
    ASSERT_EQ(TransferFirmwareBlocks(&display, &m.module, file, false, false), aErrNone);
    EXPECT_EQ(m.device.upgrade().counts().reboots, 1u);
    EXPECT_EQ(display.messages,
              (Strings{"Transferring loader to device", "Transferred 0 blocks, 0 total bytes",
                       "Starting Load on Device", "Transferred 0 blocks, 0 total bytes"}));
}

TEST(Driver, LoaderWithAFailedBlockIsNeverStarted) {
    ServedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    fault(m.device, "upgrade.sum", ReplyFaultKind::Corrupt, 0, 1); // the first block only
    BirdFile file = birdFile(writerWith({{0x20000000, image(40)}, {0x20001000, image(40)}}, {}));
    CountingDisplay display;
    LogCapture log(DEBUG_Updater);
    EXPECT_EQ(TransferLoaderBlocks(&display, &m.module, file), aErrInvalidOption);
    EXPECT_EQ(m.device.upgrade().counts().loads, 0u);
    EXPECT_EQ(
        display.messages,
        (Strings{"Transferring loader to device", "Transferring loader block 1 of 2, 44 bytes",
                 "Transferring loader block 1 of 2, 44 bytes", "Transferred 1 blocks, 44 total bytes"}));
    EXPECT_TRUE(contains(log.text(), "Error loader transfer [29, aErrInvalidOption].\n"));
}

TEST(Driver, SilentLoaderStartCountsAsSuccess) {
    ServedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    UpgradeArea::Settings settings;
    settings.load = UpgradeArea::LoadBehaviour::Silent;
    m.device.upgrade().configure(settings);
    BirdFile file = birdFile(writerWith({{0x20000000, image(40)}}, {}));
    CountingDisplay display;
    LogCapture log(DEBUG_Updater);
    EXPECT_EQ(TransferLoaderBlocks(&display, &m.module, file), aErrNone);
    EXPECT_TRUE(
        contains(log.text(), "Timeout on LoaderStart. Usually indicates this is an iMX Load ignore err.\n"));
    EXPECT_TRUE(display.errors.empty());
}

TEST(Driver, LoaderStartThatDropsTheLinkReconnects) {
    ServedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    UpgradeArea::Settings settings;
    settings.load = UpgradeArea::LoadBehaviour::DropAndReturn;
    settings.loadAwayMs = 1500; // longer than the reply wait
    m.device.upgrade().configure(settings);
    BirdFile file = birdFile(writerWith({{0x20000000, image(40)}}, {{0x1000, image(40)}}));
    CountingDisplay display;
    LogCapture log(DEBUG_Network_FIRM | DEBUG_Network);
    ASSERT_EQ(TransferLoaderBlocks(&display, &m.module, file), aErrNone);
    EXPECT_TRUE(contains(log.text(), "NETWORK: Attempting to reconnect. Attempt: 1 of 5\n"));
    EXPECT_TRUE(contains(log.text(), "NETWORK: Loader validated start (Reconnect)\n")) << log.text();
    // The firmware goes over the link the reconnect made.
    m.device.upgrade().configure(quickReboot());
    ASSERT_EQ(TransferFirmwareBlocks(&display, &m.module, file, false, false), aErrNone);
    EXPECT_EQ(m.device.upgrade().flashBytes(0x1000, 40), image(40));
}

TEST(Driver, RebootWaitWithSkipLinkDropWaitShowsOneFrame) {
    ServedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    m.device.upgrade().configure(runningLoader());
    BirdFile file = birdFile(writerWith({}, {{0x1000, image(40)}}));
    CountingDisplay display;
    ASSERT_EQ(TransferFirmwareBlocks(&display, &m.module, file, true, false), aErrNone);
    EXPECT_EQ(display.activityFrames, 1);
    EXPECT_EQ(m.device.upgrade().counts().reboots, 1u);
}

TEST(Driver, UpdateFirmwareChecksTheFileAgainstTheModule) {
    struct Case {
        const char* what;
        uint32_t fileSerial;
        bool serialLocations;
        const char* fileModel;
        uint32_t userSerial;
        bool expected;
        Strings errors;
    };
    const Case cases[] = {
        {"made for this module", kSerial, false, "VT-CoreUSB", kSerial, true, {}},
        {"the module's model name is a prefix of the file's",
         kSerial,
         false,
         "VT-CoreUSB2",
         kSerial,
         true,
         {}},
        {"any module, serial locations", 0x1B, true, "VT-CoreUSB", kSerial, true, {}},
        {"made for another module", 0x1B, false, "VT-CoreUSB", 0x1C, false, {}},
        {"the user names another module", 0x1C, true, "VT-CoreUSB", 0x1C, false, {}},
        {"another model",
         kSerial,
         false,
         "VT-CoreNet",
         kSerial,
         false,
         {"Connected device model and Bird file model do not match [VT-CoreUSB] (0)"}},
        {"a shorter model name",
         kSerial,
         false,
         "VT-Core",
         kSerial,
         false,
         {"Connected device model and Bird file model do not match [VT-CoreUSB] (0)"}},
    };
    ServedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BirdWriter writer;
        writer.addIdentity("2.16.0", c.fileSerial, c.fileModel);
        if (c.serialLocations) writer.addSerialLocations(0x1100, 0x1200);
        writer.addFirmwareImage(0x1000, image(0x300));
        BirdFile file = birdFile(writer);
        CountingDisplay display;
        LogCapture log(DEBUG_Updater);
        EXPECT_EQ(UpdateFirmware(&display, file, &m.module, c.userSerial), c.expected);
        EXPECT_EQ(display.errors, c.errors);
        EXPECT_TRUE(display.messages.empty());
        if (c.userSerial != kSerial && c.serialLocations) {
            EXPECT_TRUE(contains(log.text(), "Bird serial number and connected device don't match (0).\n"));
        }
    }
    BirdFile empty;
    EXPECT_FALSE(UpdateFirmware(nullptr, empty, &m.module, kSerial));
    // Nothing reached the loader.
    EXPECT_EQ(m.device.upgrade().counts().prepares + m.device.upgrade().counts().inits, 0u);
}
