// Programming a serial ISP chip's flash from a recovery file, against the ISP
// emulator: the pieces, the sectors prepared for each copy and the copy lengths.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "../updater/LogCapture.h"
#include "../updater/RecordingDisplay.h"
#include "BirdWriter.h"
#include "IspRomLine.h"
#include "NXPSerial.h"
#include "Recovery.h"
#include "TempDir.h"

namespace {

using namespace Veltrano::Sim;
using Bytes = std::vector<uint8_t>;

Bytes pattern(size_t n) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(i * 31 + 7);
    return bytes;
}

// A chip left synchronised by its identification, as a recovery finds it.
class RecoverSerial : public ::testing::Test {
  protected:
    void SetUp() override {
        NXPSerial identification;
        ASSERT_EQ(identification.Open(chip.path(), 115200), aErrNone);
        ASSERT_EQ(identification.Sync(), aErrNone);
    }
    // A recovery file with these firmware images, in order.
    BirdFile file(const std::vector<std::pair<uint32_t, Bytes>>& images) {
        BirdWriter writer;
        writer.addIdentity("4.0.1", 0x5E1A0C02, "VT-Acquire");
        for (const auto& [address, image] : images)
            writer.addFirmwareImage(address, image);
        writer.writeFile(dir / "r.bird");
        return BirdFile(dir / "r.bird");
    }

    IspRomLine chip{{}, SerialLine::Settings{}};
    TempDir dir;
    RecordingDisplay display;
};

// 5000 bytes at 0x20000 go as 4096 bytes into sector 18 and 904 bytes copied as
// 1024; the 4-byte block after them ends the firmware and is not written. The
// vector table at 0 goes last, once everything it would start is in place.
TEST_F(RecoverSerial, AnImageIsCopiedInPiecesOfWholeCopyLengthsTheVectorTableLast) {
    const Bytes image = pattern(5000);
    Bytes vectors = pattern(256);
    setVectorChecksum(vectors);
    LogCapture log(DEBUG_Updater);
    ASSERT_TRUE(_recover_serial(&display, file({{0x0, vectors}, {0x20000, image}, {0x30000, Bytes(4, 0xAB)}}),
                                chip.path(), 115200));
    // Other tests may have switched more categories on: only the copy steps count.
    std::vector<std::string> steps;
    std::istringstream lines(log.text());
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("\t Prepare to copy", 0) == 0 || line.rfind("\t Copy", 0) == 0) steps.push_back(line);
    EXPECT_EQ(steps,
              (std::vector<std::string>{
                  "\t Prepare to copy to sector(s) 18 to 18", "\t Copy 4096 bytes from 10001000 to 00020000",
                  "\t Prepare to copy to sector(s) 18 to 18", "\t Copy 1024 bytes from 10001000 to 00021000",
                  "\t Prepare to copy to sector(s) 0 to 0", "\t Copy 256 bytes from 10001000 to 00000000"}));
    EXPECT_EQ(display.messages, (std::vector<std::string>{"Transferring firmware block 1 of 2, 256 bytes",
                                                          "Transferring firmware block 2 of 2, 5000 bytes",
                                                          "Transferred 2 blocks, 5256 total bytes",
                                                          "Verified 5256 bytes", "Rebooting Device"}));
    EXPECT_TRUE(display.errors.empty()) << display.errors.front();
    // Every copy was compared with the RAM it came from.
    std::vector<std::string> compares;
    for (const std::string& command : chip.rom().commands())
        if (command[0] == 'M') compares.push_back(command);
    EXPECT_EQ(compares, (std::vector<std::string>{"M 131072 268439552 4096", "M 135168 268439552 1024",
                                                  "M 0 268439552 256"}));
    const Bytes flash = chip.rom().flash();
    EXPECT_EQ(Bytes(flash.begin() + 0x20000, flash.begin() + 0x20000 + 5000), image);
    EXPECT_EQ(Bytes(flash.begin() + 0x30000, flash.begin() + 0x30004), Bytes(4, 0xFF)) << "the end marker";
    EXPECT_TRUE(chip.rom().started());
}

// A file without the end marker: every block is written and counted. Its vector
// table lacks the checksum the ROM wants: the copy sent carries it (said), the
// file keeps its own, and the chip starts.
TEST_F(RecoverSerial, AFileWithoutAnEndMarkerCountsEveryBlock) {
    const Bytes vectors = pattern(300);
    Bytes expected = vectors;
    setVectorChecksum(expected);
    ASSERT_NE(expected, vectors);
    const BirdFile recovery = file({{0x0, vectors}, {0x1000, pattern(200)}});
    ASSERT_TRUE(_recover_serial(&display, recovery, chip.path(), 115200));
    EXPECT_EQ(display.messages, (std::vector<std::string>{"Transferring firmware block 1 of 2, 300 bytes",
                                                          "Transferring firmware block 2 of 2, 200 bytes",
                                                          "Transferred 2 blocks, 500 total bytes",
                                                          "Verified 500 bytes", "Rebooting Device"}));
    ASSERT_EQ(display.errors.size(), 1u);
    EXPECT_EQ(display.errors[0].rfind("Setting the vector table checksum at 0x1C to 0x", 0), 0u)
        << display.errors[0];
    const Bytes flash = chip.rom().flash();
    EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 300), expected);
    EXPECT_EQ(Bytes(recovery.blocksOfType(birdFirmwareImage)[0].image(),
                    recovery.blocksOfType(birdFirmwareImage)[0].image() + 300),
              vectors);
    EXPECT_TRUE(chip.rom().started());
}

} // namespace
