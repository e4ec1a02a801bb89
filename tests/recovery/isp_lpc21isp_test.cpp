// The isprom program, checked with an independent ISP host: Debian's lpc21isp
// programs an image into it over its pseudo-terminal, and the flash the emulator
// dumps must hold that image.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "IspRom.h"
#include "RunningProgram.h"
#include "Subprocess.h"
#include "TempDir.h"

namespace {

const char* kLpc21isp = "/usr/bin/lpc21isp";

// An image whose vector table carries the checksum the LPC17xx boot ROM checks (the
// first eight words sum to 0), so lpc21isp has nothing to patch.
std::vector<uint8_t> image(size_t length) {
    std::vector<uint8_t> bytes(length);
    uint32_t x = 0x1234567;
    for (uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    Veltrano::Sim::setVectorChecksum(bytes);
    return bytes;
}

std::string intelHex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char line[80];
    for (size_t at = 0; at < bytes.size(); at += 16) {
        const size_t n = std::min<size_t>(16, bytes.size() - at);
        if (at % 0x10000 == 0) {
            const unsigned segment = static_cast<unsigned>(at >> 16);
            const unsigned sum = 2 + 4 + (segment >> 8) + (segment & 0xFF);
            std::snprintf(line, sizeof line, ":02000004%04X%02X\n", segment, (0x100 - (sum & 0xFF)) & 0xFF);
            text += line;
        }
        unsigned sum = static_cast<unsigned>(n + ((at >> 8) & 0xFF) + (at & 0xFF));
        std::snprintf(line, sizeof line, ":%02X%04X00", static_cast<unsigned>(n),
                      static_cast<unsigned>(at & 0xFFFF));
        text += line;
        for (size_t i = 0; i < n; ++i) {
            std::snprintf(line, sizeof line, "%02X", bytes[at + i]);
            text += line;
            sum += bytes[at + i];
        }
        std::snprintf(line, sizeof line, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += line;
    }
    return text + ":00000001FF\n";
}

TEST(IspLpc21isp, ProgramsAnImageIntoTheEmulator) {
    ASSERT_EQ(::access(kLpc21isp, X_OK), 0)
        << kLpc21isp << " is missing: install the Debian package lpc21isp (scripts/deps does)";
    // 40 KiB: small sectors and the first of the large ones.
    const std::vector<uint8_t> bytes = image(0x10000 + 0x2000);
    for (bool hex : {false, true}) {
        TempDir dir;
        const std::string file = hex ? dir.write("image.hex", intelHex(bytes))
                                     : dir.write("image.bin", std::string(bytes.begin(), bytes.end()));
        const std::string dump = dir / "flash.bin";
        RunningProgram rom(std::string(VELTRANO_BIN_DIR) + "/isprom", {"--flash-dump", dump});
        const std::string first = rom.firstLine();
        ASSERT_EQ(first.rfind("pty /dev/", 0), 0u) << first;
        const std::string pty = first.substr(4);

        SubprocessOptions options;
        options.timeoutMs = 60000;
        const SubprocessResult run = runSubprocess(
            kLpc21isp, {hex ? "-hex" : "-bin", "-verify", file, pty, "115200", "14746"}, options);
        ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
        EXPECT_EQ(run.out.find("Position 0x1C patched"), std::string::npos) << "the image's checksum holds";
        ASSERT_EQ(rom.terminate(), 0);

        const std::string flash = TempDir::read(dump);
        ASSERT_EQ(flash.size(), 0x80000u);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), flash.begin(), [](uint8_t a, char b) {
            return a == static_cast<uint8_t>(b);
        })) << (hex ? "hex" : "bin");
        EXPECT_EQ(flash.find_first_not_of('\xFF', bytes.size()), std::string::npos);
    }
}

} // namespace
