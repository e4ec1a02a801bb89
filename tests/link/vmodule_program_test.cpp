// The vmodule program: reachable where its first line says, until SIGTERM.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "LinkFixtures.h"
#include "ModuleCarrier.h"
#include "FirmwareImageTag.h"
#include "Subprocess.h"
#include "RunningProgram.h"
#include "TempDir.h"

extern char** environ;

using namespace LinkTest;

namespace {

// The program running with its standard output on a pipe.
class Program : public RunningProgram {
  public:
    explicit Program(std::vector<std::string> args, bool quiet = false)
        : RunningProgram(std::string(VELTRANO_BIN_DIR) + "/vmodule", std::move(args), quiet) {}
};

TEST(VmoduleProgram, ServesOverTcp) {
    Program program({"--tcp", "0", "--serial", "0A0B0C0D", "--address", "8", "--heartbeat", "25"});
    std::string line = program.firstLine();
    ASSERT_EQ(line.rfind("tcp 127.0.0.1:", 0), 0u) << line;
    uint16 port = static_cast<uint16>(std::stoi(line.substr(line.find(':') + 1)));
    uint32 ref = aLink_CreateTCPIP(loopback(), port);
    ASSERT_NE(ref, 0u);
    EXPECT_EQ(entityGet(ref, 8, 3, 9), (Bytes{3, 9, 0, 0x0A, 0x0B, 0x0C, 0x0D}));
    aTime_MSSleep(100);
    EXPECT_TRUE(takeReceived(ref, 10).empty()) << "heartbeats are answered by the link, not delivered";
    aLink_Destroy(&ref);
    EXPECT_EQ(program.terminate(), 0);
}

TEST(VmoduleProgram, ServesOnPseudoTerminal) {
    Program program({"--pty", "--model", "27"});
    std::string line = program.firstLine();
    ASSERT_EQ(line.rfind("pty /dev/", 0), 0u) << line;
    uint32 ref = aLink_CreateSerial(0x40F5849A, line.substr(4).c_str(), 115200);
    ASSERT_NE(ref, 0u);
    EXPECT_EQ(entityGet(ref, 4, 3, 8), (Bytes{3, 8, 0, 27}));
    aLink_Destroy(&ref);
    EXPECT_EQ(program.terminate(SIGINT), 0);
}

// Bytes read from fd until it closes or 2 s pass; closed tells which.
std::vector<uint8_t> readUntilClosed(int fd, bool* closed) {
    std::vector<uint8_t> bytes;
    *closed = false;
    uint32 start = aTime_GetMSTicks();
    while (aTime_GetMSTicks() - start < 2000) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        uint8_t buffer[64];
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            *closed = n == 0;
            break;
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

TEST(VmoduleProgram, ClosesAfterChosenPacketCount) {
    // Force route and one request: the connection ends after the reply.
    Program program({"--tcp", "0", "--close-after", "2"});
    std::string line = program.firstLine();
    ASSERT_EQ(line.rfind("tcp 127.0.0.1:", 0), 0u) << line;
    uint16 port = static_cast<uint16>(std::stoi(line.substr(line.find(':') + 1)));
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = loopback();
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const uint8_t routeAndRequest[] = {0xAF, 0x01, 0x01, 0x04, 0x03, 0x03, 0x48, 0x20};
    ASSERT_EQ(::write(fd, routeAndRequest, sizeof routeAndRequest),
              static_cast<ssize_t>(sizeof routeAndRequest));
    bool closed = false;
    EXPECT_EQ(readUntilClosed(fd, &closed), (Bytes{0x04, 0x04, 0x03, 0x08, 0x00, 0x04}));
    EXPECT_TRUE(closed);
    ::close(fd);
    EXPECT_EQ(program.terminate(), 0);
}

TEST(VmoduleProgram, RefusesBadOptions) {
    const std::vector<std::vector<std::string>> cases = {
        {}, {"--tcp", "0", "--pty"}, {"--pty", "--address", "5"}, {"--tcp", "x"}, {"--bogus"}};
    for (const auto& args : cases) {
        Program program(args, true);
        EXPECT_EQ(program.awaitExit(), 2);
    }
}

// A number is taken whole or refused: values out of range, negative or with trailing
// text used to be cut down to the option's type (--tcp 70000 served on port 4464).
TEST(VmoduleProgram, RefusesNumbersOutOfRangeOrMalformed) {
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--tcp", "70000"}, "--tcp '70000': out of range, 0 to 65535"},
        {{"--tcp", "-1"}, "--tcp '-1': not a decimal number"},
        {{"--tcp", "80x"}, "--tcp '80x': not a decimal number"},
        {{"--tcp", " 80"}, "--tcp ' 80': not a decimal number"},
        {{"--tcp", "0x50"}, "--tcp '0x50': not a decimal number"},
        {{"--pty", "--model", "300"}, "--model '300': out of range, 0 to 255"},
        {{"--pty", "--model", "0x100"}, "--model '0x100': out of range, 0 to FF"},
        {{"--pty", "--model", "+3"}, "--model '+3': not a decimal number, or hexadecimal with 0x"},
        {{"--pty", "--address", "260"}, "--address '260': out of range, 0 to 255"},
        {{"--pty", "--address", "0x"}, "--address '0x': not a decimal number, or hexadecimal with 0x"},
        {{"--pty", "--serial", "123456789"}, "--serial '123456789': out of range, 0 to FFFFFFFF"},
        {{"--pty", "--serial", "-1"}, "--serial '-1': not a hexadecimal number"},
        {{"--pty", "--version", "0x1FFFFFFFF"}, "--version '0x1FFFFFFFF': out of range, 0 to FFFFFFFF"},
        {{"--pty", "--heartbeat", "4294967296"}, "--heartbeat '4294967296': out of range, 0 to 4294967295"},
        {{"--pty", "--heartbeat", "-5"}, "--heartbeat '-5': not a decimal number"},
        {{"--pty", "--drop", "1,,2"}, "--drop '1,,2': not a list of decimal byte indices"},
        {{"--pty", "--garble", "3,"}, "--garble '3,': not a list of decimal byte indices"},
        {{"--pty", "--garble", "18446744073709551616"}, "--garble '18446744073709551616': not a list"},
        {{"--pty", "--silent-after", "9223372036854775808"},
         "--silent-after '9223372036854775808': out of range, 0 to 9223372036854775807"},
        {{"--pty", "--close-after", "-1"}, "--close-after '-1': not a decimal number"},
    };
    SubprocessOptions bounded;
    bounded.timeoutMs = 5000; // a value taken by mistake starts serving: killed then
    for (const auto& c : cases) {
        const SubprocessResult run =
            runSubprocess(std::string(VELTRANO_BIN_DIR) + "/vmodule", c.args, bounded);
        const std::string shown = c.args[c.args.size() - 2] + " " + c.args.back();
        EXPECT_EQ(run.exitStatus, 2) << shown;
        EXPECT_EQ(run.out, "") << shown;
        EXPECT_EQ(run.err.rfind("vmodule: " + c.message, 0), 0u) << shown << ": " << run.err;
    }
}

// A leading zero is no octal prefix; 0x is hexadecimal.
TEST(VmoduleProgram, NumbersAreDecimalOrHexadecimal) {
    Program program({"--pty", "--model", "010", "--address", "0x0A"});
    std::string line = program.firstLine();
    ASSERT_EQ(line.rfind("pty /dev/", 0), 0u) << line;
    uint32 ref = aLink_CreateSerial(0x40F5849A, line.substr(4).c_str(), 115200);
    ASSERT_NE(ref, 0u);
    EXPECT_EQ(entityGet(ref, 10, 3, 8), (Bytes{3, 8, 0, 10}));
    aLink_Destroy(&ref);
    EXPECT_EQ(program.terminate(), 0);
}

// One UPGRADE request through the link; the reply [5F step ...], or nothing
// within 1 s.
Bytes upgradeStep(uint32 ref, const Bytes& request, uint8_t step) {
    aPacket* packet = aPacket_CreateWithData(4, static_cast<uint8>(request.size()), request.data());
    aErr err = aLink_PutPacket(ref, packet);
    aPacket_Destroy(&packet);
    if (err != aErrNone) return {};
    auto matches = [](const aPacket* p, void* ref) {
        return p->dataSize >= 2 && p->data[0] == 0x5F && p->data[1] == *static_cast<uint8_t*>(ref);
    };
    aPacket* reply = aLink_AwaitFirst(ref, matches, &step, 1000);
    if (!reply) return {};
    Bytes data(reply->data, reply->data + reply->dataSize);
    aPacket_Destroy(&reply);
    return data;
}

void writeBlock(uint32 ref, uint32_t address, const Bytes& image) {
    const Bytes granted{0x5F, 0x07, 0x00, 0x00, 0x20};
    ASSERT_EQ(upgradeStep(ref, {0x5F, 0x00}, 0x00).size(), 6u) << "INIT opens the loader";
    ASSERT_EQ(upgradeStep(ref,
                          {0x5F, 0x03, 0x00, uint8_t(address >> 24), uint8_t(address >> 16),
                           uint8_t(address >> 8), uint8_t(address)},
                          0x07),
              granted);
    for (size_t at = 0; at < image.size(); at += 26) {
        Bytes request{0x5F, 0x01};
        request.insert(request.end(), image.begin() + at, image.begin() + std::min(image.size(), at + 26));
        ASSERT_EQ(upgradeStep(ref, request, 0x01), (Bytes{0x5F, 0x01, uint8_t(request.size() - 2)}));
    }
    const Bytes written{0x5F, 0x07, 0x00};
    ASSERT_EQ(upgradeStep(ref, {0x5F, 0x05, uint8_t(image.size() >> 8), uint8_t(image.size())}, 0x07),
              written);
}

// The flash dump holds exactly what was written, gaps as 0xFF, after each
// WRITE; after REBOOT the program is away and back with the tagged firmware.
TEST(VmoduleProgram, DumpsFlashAndRebootsIntoIt) {
    std::string dump = std::string(::testing::TempDir()) + "/flash" + std::to_string(::getpid()) + ".bin";
    ::unlink(dump.c_str());
    Program program({"--tcp", "0", "--block-size", "32", "--flash-dump", dump, "--reboot-away", "200"});
    std::string line = program.firstLine();
    ASSERT_EQ(line.rfind("tcp 127.0.0.1:", 0), 0u) << line;
    uint16 port = static_cast<uint16>(std::stoi(line.substr(line.find(':') + 1)));
    uint32 ref = aLink_CreateTCPIP(loopback(), port);
    ASSERT_NE(ref, 0u);

    Bytes first(20), second;
    for (size_t i = 0; i < first.size(); ++i)
        first[i] = static_cast<uint8_t>(i * 13);
    writeBlock(ref, 0x1000, first);
    EXPECT_EQ(TempDir::read(dump), std::string(first.begin(), first.end()));
    FirmwareImageTag tag;
    tag.version = 0x2F030400;
    tag.build = 7007;
    second = tag.appendTo({0xA1, 0xA2, 0xA3, 0xA4});
    writeBlock(ref, 0x1000 + 40, second);
    std::string expected(first.begin(), first.end());
    expected += std::string(20, '\xFF') + std::string(second.begin(), second.end());
    EXPECT_EQ(TempDir::read(dump), expected);
    EXPECT_NE(::access((dump + ".tmp").c_str(), F_OK), 0) << "no temporary file left";

    // No reply to REBOOT; the module is away, then a new link finds it back.
    const Bytes reboot{0x5F, 0x06};
    aPacket* packet = aPacket_CreateWithData(4, 2, reboot.data());
    ASSERT_EQ(aLink_PutPacket(ref, packet), aErrNone);
    aPacket_Destroy(&packet);
    aTime_MSSleep(50);
    aLink_Destroy(&ref);
    Bytes build;
    for (uint32 start = aTime_GetMSTicks(); build.empty() && aTime_GetMSTicks() - start < 3000;) {
        aLink_Destroy(&ref);
        ref = aLink_CreateTCPIP(loopback(), port);
        if (ref) build = entityGet(ref, 4, 3, 43, 200);
    }
    EXPECT_EQ(build, (Bytes{3, 43, 0, 0, 0, 0x1B, 0x5F}));
    aLink_Destroy(&ref);
    EXPECT_EQ(program.terminate(), 0);
    ::unlink(dump.c_str());
}

} // namespace
