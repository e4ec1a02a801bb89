// UpdaterEntity against the virtual module's firmware loader: how image data is
// cut into packets, resends, sums, UEI data and pooled packets.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <map>
#include <string>

#include "TransferFixtures.h"
#include "UpdaterEntity.h"
#include "UpdaterLog.h"
#include "aLinkInternal.h"

using namespace TransferTest;
using Veltrano::Sim::ModuleFaults;
using Veltrano::Sim::ReplyFault;
using Veltrano::Sim::ReplyFaultKind;
using Veltrano::Sim::UpgradeArea;

TEST(EntityLoader, SixtyBytesGoAsTwentySixTwentySixEightThenOneSum) {
    ServedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    ASSERT_EQ(openBlock(m.module), aErrNone);
    LogCapture log(DEBUG_Network_FIRM);
    UpdaterEntity entity(&m.module, 0, true, false);
    const Bytes data = image(60);
    unsigned int packets = 0;
    ASSERT_EQ(entity.BlockTransfer(data.data(), data.size(), &packets), aErrNone);
    EXPECT_EQ(packets, 3u);
    EXPECT_EQ(m.device.upgrade().counts().dataPackets, 3u);
    EXPECT_EQ(m.device.upgrade().counts().sums, 1u);
    EXPECT_EQ(log.text(), "\nNETWORK: Block Transfer\n"
                          "\nNETWORK: Block Transfer {cmdUPGRADE, val_UPGRADE_DATA, 26} \n"
                          "\nNETWORK: accepted 26 more bytes (34 of 60 remaining)\n"
                          "\nNETWORK: Block Transfer {cmdUPGRADE, val_UPGRADE_DATA, 26} \n"
                          "\nNETWORK: accepted 26 more bytes (8 of 60 remaining)\n"
                          "\nNETWORK: Block Transfer {cmdUPGRADE, val_UPGRADE_DATA, 8} \n"
                          "\nNETWORK: accepted 8 more bytes (0 of 60 remaining)\n"
                          "\nNETWORK: transferred 60 of 60 bytes\n"
                          "\nNETWORK: Block Transfer Validation {cmdUPGRADE, val_UPGRADE_SUM}\n"
                          "\nNETWORK: Validate transfer [00] [000006EA == 000006EA][3 blocks].\n");
}

TEST(EntityLoader, WithoutSumChecksNoSumIsAsked) {
    ServedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    ASSERT_EQ(openBlock(m.module), aErrNone);
    UpdaterEntity entity(&m.module, 0, false, false);
    const Bytes data = image(60);
    unsigned int packets = 0;
    ASSERT_EQ(entity.BlockTransfer(data.data(), data.size(), &packets), aErrNone);
    EXPECT_EQ(m.device.upgrade().counts().sums, 0u);
}

TEST(EntityLoader, ChunkAnsweredWithWrongCountIsResentAndSummedOnce) {
    ServedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    ASSERT_EQ(openBlock(m.module), aErrNone);
    fault(m.device, "upgrade.data", ReplyFaultKind::Corrupt, 1, 1); // the second chunk
    LogCapture log(DEBUG_Network_FIRM);
    UpdaterEntity entity(&m.module, 0, true, false);
    const Bytes data = image(60);
    unsigned int packets = 0;
    ASSERT_EQ(entity.BlockTransfer(data.data(), data.size(), &packets), aErrNone);
    EXPECT_EQ(packets, 3u);
    EXPECT_EQ(m.device.upgrade().counts().dataPackets, 4u);
    EXPECT_NE(log.text().find("\nNETWORK: Invalid upgrade transfer response [229 != 26].\n"),
              std::string::npos);
    EXPECT_NE(log.text().find("[000006EA == 000006EA][3 blocks]"), std::string::npos);
}

TEST(EntityLoader, WrongSumFailsTheBlockWithAnUnmaskedLine) {
    ServedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    ASSERT_EQ(openBlock(m.module), aErrNone);
    fault(m.device, "upgrade.sum", ReplyFaultKind::Corrupt);
    LogCapture log;
    UpdaterEntity entity(&m.module, 0, true, false);
    const Bytes data = image(60);
    unsigned int packets = 0;
    EXPECT_EQ(entity.BlockTransfer(data.data(), data.size(), &packets), aErrInvalidOption);
    // The last byte of the module's sum came inverted: EA becomes 15.
    EXPECT_NE(log.text().find("\nNETWORK: Unable to validate transfer [00] [000006EA != 00000615].\n"),
              std::string::npos)
        << log.text();
}

TEST(EntityLoader, InitReportsTheLoadBase) {
    ServedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    LogCapture log(DEBUG_Network_FIRM);
    UpdaterEntity entity(&m.module, 0, true, false);
    ASSERT_EQ(entity.LoaderInit(), aErrNone);
    EXPECT_EQ(log.text(), "NETWORK: Loader Initialization {cmdUPGRADE, val_UPGRADE_INIT}\n"
                          "NETWORK: load base = 268435456 [10000000]\n");
}

TEST(EntityLoader, PrepareWriteAndFirmwareTransferPutTheImageIntoFlash) {
    ServedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    UpgradeArea::Settings settings;
    settings.blockSize = 100;
    m.device.upgrade().configure(settings);
    CountingDisplay display;
    UpdaterEntity entity(&m.module, 0, true, false);
    ASSERT_EQ(entity.LoaderInit(), aErrNone);
    LogCapture log(DEBUG_Network_FIRM);
    const Bytes img = image(250, 7);
    const Bytes block = payload(0x00012000, img);
    unsigned short blockSize = 0;
    ASSERT_EQ(entity.TransferPrepare(block.data(), block.size(), 0x02, &blockSize), aErrNone);
    EXPECT_EQ(blockSize, 100);
    ASSERT_EQ(entity.FirmwareTransfer(block.data(), block.size(), blockSize, &display), aErrNone);
    EXPECT_EQ(m.device.upgrade().flashBytes(0x12000, img.size()), img);
    EXPECT_EQ(m.device.upgrade().counts().writes, 3u);
    EXPECT_EQ(display.progress, (std::vector<double>{104.0 / 254, 204.0 / 254, 254.0 / 254}));
    const std::string text = log.text();
    EXPECT_EQ(text.rfind("NETWORK: TransferPrepare(..., 254, 02, 0)\n"
                         "NETWORK: TransferPrepare {cmdUPGRADE, val_UPGRADE_PREPARE, 02, [00 01 20 00]} \n"
                         "NETWORK: Address: 73728\n"
                         "NETWORK: Loader validated firmware init [100 block size]\n"
                         "NETWORK: Firmware Transfer (addr=00012000, len=250)\n",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("\nNETWORK: accepted 100 more bytes (150 of 254 remaining)\n"
                        "NETWORK: Firmware Write {cmdUPGRADE, val_UPGRADE_WRITE, 100}\n\n"
                        "NETWORK: Loader validated write\n\n"),
              std::string::npos);
    EXPECT_NE(text.find("NETWORK: transferred 254 of 254 bytes\n"), std::string::npos);
}

TEST(EntityLoader, RefusedPrepareAndWrite) {
    ServedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    UpdaterEntity entity(&m.module, 0, true, false);
    ASSERT_EQ(entity.LoaderInit(), aErrNone);
    const Bytes block = payload(0x1000, image(30));
    unsigned short blockSize = 0;
    fault(m.device, "upgrade.prepare", ReplyFaultKind::ErrorReply);
    EXPECT_EQ(entity.TransferPrepare(block.data(), block.size(), 0, &blockSize), aErrInvalidOption);
    fault(m.device, "upgrade.write", ReplyFaultKind::ErrorReply);
    ASSERT_EQ(entity.TransferPrepare(block.data(), block.size(), 0, &blockSize), aErrNone);
    CountingDisplay display;
    EXPECT_EQ(entity.FirmwareTransfer(block.data(), block.size(), blockSize, &display), aErrInvalidOption);
    EXPECT_TRUE(m.device.upgrade().flash().empty());
}

TEST(EntityLoader, UeiDataGoesAsOneValuePerBlock) {
    ServedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    ASSERT_EQ(openBlock(m.module), aErrNone);
    LogCapture log(DEBUG_Network_FIRM);
    UpdaterEntity entity(&m.module, 0, true, false);
    ASSERT_EQ(entity.CheckUEIDataSupport(), aErrNone);
    EXPECT_TRUE(entity.useUEIData());
    const Bytes data = image(300);
    unsigned int packets = 0;
    ASSERT_EQ(entity.BlockTransfer(data.data(), data.size(), &packets), aErrNone);
    EXPECT_EQ(packets, 1u);
    EXPECT_EQ(m.device.upgrade().counts().ueiDataSets, 1u);
    EXPECT_NE(log.text().find("\nNETWORK: Block Transfer {cmdUPGRADE, val_UPGRADE_DATA_UEI, 300} \n"
                              "\nNETWORK: accepted 300 bytes \n"),
              std::string::npos);
}

TEST(EntityLoader, ModuleWithoutUeiDataKeepsDataPackets) {
    ServedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    UpgradeArea::Settings settings;
    settings.ueiData = false;
    m.device.upgrade().configure(settings);
    UpdaterEntity entity(&m.module, 0, true, false);
    EXPECT_NE(entity.CheckUEIDataSupport(), aErrNone);
    EXPECT_FALSE(entity.useUEIData());
}

// The engine link a ServedModule's Module talks through.
uint32 engineLink(const ServedModule& m) {
    aLinkEntryPtr entry = sLookupEntryByKey(htonl(INADDR_LOOPBACK), kLinkTypeTCPIP, m.port());
    return entry ? entry->linkRef : 0;
}

// Stream writes recorded in the link's packet log: the log keeps the first packet
// of each write, so pooled packets that leave together count once.
size_t loggedWrites(uint32 ref) {
    size_t writes = 0;
    uint8 entry[aPACKET_MAX_WIRE + 8];
    uint32 type = 0, length = sizeof entry;
    while (aLink_PacketDebug_Read(ref, &type, &length, entry) == aErrNone) {
        writes += type == 1;
        length = sizeof entry;
    }
    return writes;
}

// Bit 31 of the feature word pools queued packets: the pieces of a UEI data block,
// queued at once, leave in fewer stream writes than packets. Bit 0 alone changes
// nothing: one write per packet.
TEST(EntityLoader, ProtocolFeaturesSwitchPooledPacketsOnBit31) {
    std::map<uint32_t, size_t> writes;
    for (uint32_t features : {0x80000000u, 0x00000001u}) {
        SCOPED_TRACE(features);
        ServedModule m;
        ASSERT_EQ(m.connected, aErrNone);
        ASSERT_EQ(openBlock(m.module), aErrNone);
        m.device.system().setProtocolFeatures(features);
        LogCapture log(DEBUG_Network_FIRM);
        UpdaterEntity entity(&m.module, 0, true, false);
        ASSERT_EQ(entity.CheckUEIDataSupport(), aErrNone);
        EXPECT_EQ(entity.CheckProtocolFeatures(), aErrNone);
        EXPECT_NE(log.text().find("NETWORK: Protocol Version: " + std::to_string(static_cast<int>(features)) +
                                  " Error: 0\n"),
                  std::string::npos);
        const uint32 ref = engineLink(m);
        ASSERT_EQ(aLink_PacketDebug_Enable(ref), aErrNone);
        // Pooled or not, the data still arrives whole; the sum's reply comes after
        // every piece was written.
        const Bytes data = image(700);
        unsigned int packets = 0;
        EXPECT_EQ(entity.BlockTransfer(data.data(), data.size(), &packets), aErrNone);
        EXPECT_EQ(m.device.upgrade().counts().ueiDataSets, 1u);
        writes[features] = loggedWrites(ref);
    }
    EXPECT_GE(writes[0x00000001u], 700u / 28) << "one write per packet";
    EXPECT_LT(writes[0x80000000u], writes[0x00000001u]) << "pooled packets leave together";
}
