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
// 1024; the 4-byte block after them ends the firmware and is not written.
TEST_F(RecoverSerial, AnImageIsCopiedInPiecesOfWholeCopyLengths) {
    const Bytes image = pattern(5000);
    LogCapture log(DEBUG_Updater);
    ASSERT_TRUE(
        _recover_serial(&display, file({{0x20000, image}, {0x30000, Bytes(4, 0xAB)}}), chip.path(), 115200));
    // Other tests may have switched more categories on: only the copy steps count.
    std::vector<std::string> steps;
    std::istringstream lines(log.text());
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("\t Prepare to copy", 0) == 0 || line.rfind("\t Copy", 0) == 0) steps.push_back(line);
    EXPECT_EQ(steps, (std::vector<std::string>{"\t Prepare to copy to sector(s) 18 to 18",
                                               "\t Copy 4096 bytes from 10001000 to 00020000",
                                               "\t Prepare to copy to sector(s) 18 to 18",
                                               "\t Copy 1024 bytes from 10001000 to 00021000"}));
    EXPECT_EQ(display.messages,
              (std::vector<std::string>{"Transferring firmware block 1 of 1, 5000 bytes",
                                        "Transferred 1 blocks, 5000 total bytes", "Rebooting Device"}));
    const Bytes flash = chip.rom().flash();
    EXPECT_EQ(Bytes(flash.begin() + 0x20000, flash.begin() + 0x20000 + 5000), image);
    EXPECT_EQ(Bytes(flash.begin() + 0x30000, flash.begin() + 0x30004), Bytes(4, 0xFF)) << "the end marker";
    EXPECT_TRUE(chip.rom().started());
}

// A file without the end marker: every block is written and counted.
TEST_F(RecoverSerial, AFileWithoutAnEndMarkerCountsEveryBlock) {
    ASSERT_TRUE(
        _recover_serial(&display, file({{0x0, pattern(300)}, {0x1000, pattern(200)}}), chip.path(), 115200));
    EXPECT_EQ(display.messages,
              (std::vector<std::string>{"Transferring firmware block 1 of 2, 300 bytes",
                                        "Transferring firmware block 2 of 2, 200 bytes",
                                        "Transferred 2 blocks, 500 total bytes", "Rebooting Device"}));
}

} // namespace
