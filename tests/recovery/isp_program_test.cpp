// The isprom program: its options reach the emulated chip, and a refused command
// line ends it with the usage.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NXPSerial.h"
#include "RunningProgram.h"
#include "Subprocess.h"

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

TEST(IspProgram, RefusedOptionsEndWithTheUsage) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--fail", "C"}, {"--uid", "1,2,3"}, {"--silent-from", "12"}, {"--bogus"}, {"--resend", "x"}}) {
        const SubprocessResult run = runSubprocess(kIsprom, args);
        EXPECT_EQ(run.exitStatus, 2) << args[0];
        EXPECT_NE(run.err.find("usage: isprom"), std::string::npos) << args[0];
    }
}

} // namespace
