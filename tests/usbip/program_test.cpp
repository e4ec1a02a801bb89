// The usbipdev program's command line: what it refuses before touching the bus,
// and the clear failure on a machine without a virtual host controller (as this
// one is; the VM harness runs it against the real one).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "Subprocess.h"

namespace {

const std::string kProgram = std::string(VELTRANO_BIN_DIR) + "/usbipdev";

TEST(UsbIpDevProgram, RefusesBadOptionsWithItsUsage) {
    const std::vector<std::vector<std::string>> cases = {
        {},                                                // no device at all
        {"--module", "40F5849A"},                          // no model
        {"--module", "40F5849A:256"},                      // model out of range
        {"--module", "XYZ:4"},                             // serial not hexadecimal
        {"--module", "40F5849A:4", "--stall", "40F5849A"}, // no count
        {"--module", "40F5849A:4", "--reenum-delay", "soon"},
        {"--module", "40F5849A:4", "--unplug-after-bytes"},
        {"--imx-rom", "--frobnicate"},
    };
    for (const auto& args : cases) {
        SubprocessResult r = runSubprocess(kProgram, args, {{}, {}, "", "", 5000});
        std::string shown;
        for (const auto& a : args)
            shown += a + " ";
        EXPECT_EQ(r.exitStatus, 2) << shown;
        EXPECT_NE(r.err.find("usage: usbipdev"), std::string::npos) << shown;
        EXPECT_EQ(r.out, "") << shown;
    }
}

TEST(UsbIpDevProgram, WithoutAVirtualHostControllerItSaysSoAndFails) {
    SubprocessResult r =
        runSubprocess(kProgram, {"--module", "40f5849a:4", "--imx-rom"}, {{}, {}, "", "", 10000});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("no virtual host controller"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("ready"), std::string::npos);
}

} // namespace
