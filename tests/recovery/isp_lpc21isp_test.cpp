// The isprom program, checked with an independent ISP host: Debian's lpc21isp
// programs an image into it over its pseudo-terminal, and the flash the emulator
// dumps must hold that image.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Subprocess.h"
#include "TempDir.h"

extern char** environ;

namespace {

const char* kLpc21isp = "/usr/bin/lpc21isp";

// isprom running with its standard output on a pipe.
class IspromProgram {
  public:
    explicit IspromProgram(std::vector<std::string> args) {
        args.insert(args.begin(), std::string(VELTRANO_BIN_DIR) + "/isprom");
        int out[2];
        if (::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        out_ = out[0];
    }
    ~IspromProgram() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }

    // The first line of output, waiting at most 5 s.
    std::string firstLine() {
        std::string line;
        char c;
        while (line.find('\n') == std::string::npos) {
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0 || ::read(out_, &c, 1) != 1) break;
            line += c;
        }
        if (!line.empty() && line.back() == '\n') line.pop_back();
        return line;
    }

    // SIGTERM, then the exit status (-1 when it does not end within 5 s).
    int terminate() {
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 500; ++i) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            ::usleep(10000);
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
};

// An image whose vector table carries the checksum the LPC17xx boot ROM checks (the
// first eight words sum to 0), so lpc21isp has nothing to patch.
std::vector<uint8_t> image(size_t length) {
    std::vector<uint8_t> bytes(length);
    uint32_t x = 0x1234567;
    for (uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    uint32_t sum = 0;
    for (size_t word = 0; word < 7; ++word)
        sum += bytes[word * 4] | bytes[word * 4 + 1] << 8 | bytes[word * 4 + 2] << 16 |
               static_cast<uint32_t>(bytes[word * 4 + 3]) << 24;
    const uint32_t check = 0u - sum;
    for (int i = 0; i < 4; ++i)
        bytes[0x1C + i] = static_cast<uint8_t>(check >> (8 * i));
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
        IspromProgram rom({"--flash-dump", dump});
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
