// An independent check of the boot-ROM emulator: Debian's imx_uart (imx-usb-loader)
// loads an image with an i.MX IVT header through the emulated UART link and makes the
// chip jump to it, as it would with a real chip.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include <string>
#include <vector>

#include "ImxChip.h"
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

// A program running with its standard output on a pipe; ended when it is still
// running at the end.
class Program {
  public:
    explicit Program(const std::vector<std::string>& argv) {
        int out[2];
        if (::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        fd_ = out[0];
    }
    ~Program() {
        stop();
        if (fd_ >= 0) ::close(fd_);
    }
    // The next line of its output without the line end, waiting at most limitMs.
    std::string line(int limitMs) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        for (;;) {
            size_t newline = buffer_.find('\n');
            if (newline != std::string::npos) {
                std::string text = buffer_.substr(0, newline);
                buffer_.erase(0, newline + 1);
                return text;
            }
            if (fd_ < 0 || std::chrono::steady_clock::now() >= end) return {};
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            char chunk[256];
            ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n <= 0) return {};
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }
    // Ends it with SIGTERM (SIGKILL after 5 s); its exit status, or -1.
    int stop() {
        if (pid_ <= 0) return -1;
        ::kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 500; ++i) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            ::usleep(10 * 1000);
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
    }

  private:
    pid_t pid_ = -1;
    int fd_ = -1;
    std::string buffer_;
};

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

    Program rom({std::string(VELTRANO_BIN_DIR) + "/imxrom", "--ram-dump", dump, "--ram-region", region});
    std::string first = rom.line(5000);
    ASSERT_EQ(first.rfind("pty /dev/", 0), 0u) << first;
    EXPECT_EQ(rom.line(5000), "ready");
    SubprocessResult run =
        runSubprocess(kImxUart, {"-n", first.substr(4), config, imagePath}, {{}, {}, "", "", 20000});
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_EQ(rom.line(5000), "jump 0x20000400");
    EXPECT_EQ(rom.stop(), 0);
    EXPECT_EQ(TempDir::read(dump), image);
}

} // namespace
