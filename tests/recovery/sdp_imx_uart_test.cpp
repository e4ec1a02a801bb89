// An independent check of the boot-ROM emulator: Debian's imx_uart (imx-usb-loader)
// loads an image with an i.MX IVT header through the emulated UART link and makes the
// chip jump to it, as it would with a real chip.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "ImxChip.h"
#include "RunningProgram.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "sdp_fixtures.h"

namespace {

using namespace Veltrano::Sim;

const char* kImxUart = "/usr/bin/imx_uart";
constexpr uint32_t kHeaderAddress = 0x20000400;

void putLittleEndian(std::string& out, uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>(word >> shift));
}

// An image whose first bytes are an IVT (tag 0xD1, length 0x20, version 0x40) that
// names itself at kHeaderAddress, and its boot data right after it.
std::string imageWithIvt(size_t bodySize) {
    std::string image = {'\xD1', '\x00', '\x20', '\x40'};
    const uint32_t bootData = kHeaderAddress + 0x20;
    for (uint32_t word : {kHeaderAddress + 0x100, 0u, 0u, bootData, kHeaderAddress, 0u, 0u})
        putLittleEndian(image, word); // entry, reserved, DCD, boot data, self, CSF, reserved
    const uint32_t total = static_cast<uint32_t>(0x20 + 12 + bodySize);
    for (uint32_t word : {kHeaderAddress - 0x400, total + 0x400, 0u})
        putLittleEndian(image, word); // start, length, plugin
    std::vector<uint8_t> body = sdpPattern(bodySize, 9);
    image.append(body.begin(), body.end());
    return image;
}

// The tool's transfer configuration: a name, then the protocol variant, the largest
// transfer, the DCD address and the RAM areas.
std::string writeConfig(const TempDir& dir) {
    return dir.write("veltrano.conf", "veltrano\nhid,1024,0x910000,0x20000000,256K,0x00900000,0x40000\n");
}

void requireImxUart() {
    ASSERT_EQ(::access(kImxUart, X_OK), 0) << kImxUart << " is missing: install the Debian package "
                                           << "imx-usb-loader (scripts/deps)";
}

TEST(SdpImxUart, LoadsAnImageAndJumpsToIt) {
    ASSERT_NO_FATAL_FAILURE(requireImxUart());
    TempDir dir;
    std::string config = writeConfig(dir);
    std::string image = imageWithIvt(3000);
    std::string imagePath = dir.write("liveloader.imx", image);

    ImxChip::Settings settings;
    ImxChip chip(settings, nullptr);
    SubprocessResult run =
        runSubprocess(kImxUart, {"-n", chip.serialPath(), config, imagePath}, {{}, {}, "", "", 20000});
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut) << run.out << run.err;
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("status 0x88888888"), std::string::npos) << run.out;

    std::vector<uint8_t> loaded = chip.rom().bytes(kHeaderAddress, image.size());
    EXPECT_EQ(std::string(loaded.begin(), loaded.end()), image);
    EXPECT_EQ(chip.rom().lastJump(), kHeaderAddress);
    EXPECT_TRUE(chip.waitForState(ImxChip::State::Liveloader, 1000));
}

TEST(SdpImxUart, TheImxromProgramServesItAndDumpsWhatWasLoaded) {
    ASSERT_NO_FATAL_FAILURE(requireImxUart());
    TempDir dir;
    std::string config = writeConfig(dir);
    std::string image = imageWithIvt(5000);
    std::string imagePath = dir.write("liveloader.imx", image);
    std::string dump = dir / "ram.bin";
    char region[64];
    std::snprintf(region, sizeof region, "0x%08X:%zu", kHeaderAddress, image.size());

    RunningProgram rom(std::string(VELTRANO_BIN_DIR) + "/imxrom",
                       {"--ram-dump", dump, "--ram-region", region});
    std::string first = rom.firstLine();
    ASSERT_EQ(first.rfind("pty /dev/", 0), 0u) << first;
    EXPECT_EQ(rom.nextLine(), "ready");
    SubprocessResult run =
        runSubprocess(kImxUart, {"-n", first.substr(4), config, imagePath}, {{}, {}, "", "", 20000});
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_EQ(rom.nextLine(), "jump 0x20000400");
    EXPECT_EQ(rom.terminate(), 0);
    EXPECT_EQ(TempDir::read(dump), image);
}

} // namespace
