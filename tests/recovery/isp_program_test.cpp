// The isprom program: its options reach the emulated chip, and a refused command
// line ends it with the usage.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "NXPSerial.h"
#include "RunningProgram.h"
#include "Subprocess.h"
#include "aStream.h"
#include "aTime.h"

namespace {

const std::string kIsprom = std::string(VELTRANO_BIN_DIR) + "/isprom";

TEST(IspProgram, OptionsSetTheChipAndItsFaults) {
    RunningProgram rom(kIsprom, {"--uid", "1,2,3,0x10", "--fail", "C:9", "--stay-in-rom"});
    const std::string first = rom.firstLine();
    ASSERT_EQ(first.rfind("pty /dev/", 0), 0u) << first;
    NXPSerial isp;
    ASSERT_EQ(isp.Open(first.substr(4), 115200), aErrNone);
    ASSERT_EQ(isp.Sync(), aErrNone);
    ASSERT_EQ(isp.ReadUID(), aErrNone);
    const uint32_t uid[4] = {1, 2, 3, 16};
    EXPECT_TRUE(std::equal(uid, uid + 4, isp.uid()));
    const std::vector<uint8_t> data(256, 0x5A);
    ASSERT_EQ(isp.Unlock(), aErrNone);
    ASSERT_EQ(isp.Write(kNXPChip.ramBuffer, 256, data.data()), aErrNone);
    ASSERT_EQ(isp.Prepare(0, 0), aErrNone);
    EXPECT_EQ(isp.Copy(0, kNXPChip.ramBuffer, 256), aErrParam) << "the first C answers 9";
    ASSERT_EQ(isp.Prepare(0, 0), aErrNone);
    EXPECT_EQ(isp.Copy(0, kNXPChip.ramBuffer, 256), aErrNone);
    ASSERT_EQ(isp.Go(0), aErrNone);
    EXPECT_EQ(isp.Prepare(0, 0), aErrNone) << "the chip stayed in ISP after G";
    isp.Close();
    EXPECT_EQ(rom.terminate(), 0);
}

// The chip is busy as long as its flash takes: its reply waits, and a host that
// talks meanwhile loses what the 16-byte receive FIFO cannot hold, which makes
// the emulator's exit status 3.
TEST(IspProgram, ABusyChipHearsOnlyItsFifoAndOverrunsFailTheRun) {
    RunningProgram rom(kIsprom, {"--erase-ms", "20"}, true);
    const std::string first = rom.firstLine();
    ASSERT_EQ(first.rfind("pty /dev/", 0), 0u) << first;
    const std::string path = first.substr(4);
    NXPSerial isp;
    ASSERT_EQ(isp.Open(path, 115200), aErrNone);
    ASSERT_EQ(isp.Sync(), aErrNone);
    ASSERT_EQ(isp.Unlock(), aErrNone);
    ASSERT_EQ(isp.Prepare(0, 29), aErrNone);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(isp.Erase(0, 29), aErrNone);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(600))
        << "30 sectors of 20 ms";
    isp.Close();

    aStream* stream = nullptr;
    ASSERT_EQ(aStream_CreateSerial(path.c_str(), aSTREAM_BAUD_115200, 0, 0, 0, &stream), aErrNone);
    const std::string talk = "P 0 29\r\nE 0 29\r\n" + std::string(40, 'J');
    ASSERT_EQ(
        aStream_Write(stream, reinterpret_cast<const uint8*>(talk.data()), static_cast<uint32>(talk.size())),
        aErrNone);
    aTime_MSSleep(1000);
    aStream_Destroy(&stream);
    EXPECT_EQ(rom.terminate(), 3);
}

TEST(IspProgram, RefusedOptionsEndWithTheUsage) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--fail", "C"},
                                               {"--uid", "1,2,3"},
                                               {"--silent-from", "12"},
                                               {"--bogus"},
                                               {"--resend", "x"},
                                               {"--erase-ms", "fast"},
                                               {"--flip-bit-at-copy"}}) {
        const SubprocessResult run = runSubprocess(kIsprom, args);
        EXPECT_EQ(run.exitStatus, 2) << args[0];
        EXPECT_NE(run.err.find("usage: isprom"), std::string::npos) << args[0];
    }
}

} // namespace
