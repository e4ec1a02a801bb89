// NXPSerial against the ISP boot-ROM emulator on a pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "IspRomLine.h"
#include "NXPSerial.h"
#include "UpdaterLog.h"

namespace {

using namespace Veltrano::Sim;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kRam = 0x10001000;

std::vector<uint8_t> pattern(size_t n, uint32_t seed) {
    std::vector<uint8_t> bytes(n);
    uint32_t x = seed;
    for (uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The emulator on an unpaced line and the host's connection to it.
struct Rig {
    explicit Rig(IspRomSettings settings = {}, bool paced = false)
        : server(settings, SerialLine::Settings{paced}) {}
    IspRom& rom() { return server.rom(); }
    void open(uint32_t baud = 115200) { ASSERT_EQ(host.Open(server.path(), baud), aErrNone); }
    void synchronise(uint32_t baud = 115200) {
        open(baud);
        ASSERT_EQ(host.Sync(), aErrNone);
    }
    void setEcho(bool on) {
        if (on != host.echo()) {
            ASSERT_EQ(host.SetEcho(on), aErrNone);
        }
    }
    IspRomLine server;
    NXPSerial host;
};

TEST(IspSerial, SyncThenReadUID) {
    IspRomSettings settings;
    const uint32_t uid[4] = {1, 0xFFFFFFFF, 0x12345678, 0};
    std::copy(uid, uid + 4, settings.uid);
    Rig rig(settings);
    rig.synchronise();
    EXPECT_EQ(rig.rom().lockedBaud(), 115200u);
    ASSERT_EQ(rig.host.ReadUID(), aErrNone);
    EXPECT_TRUE(std::equal(uid, uid + 4, rig.host.uid()));
    EXPECT_EQ(rig.rom().commands(), (std::vector<std::string>{"N"}));
}

TEST(IspSerial, RefusedArgumentsSendNothing) {
    Rig rig;
    rig.synchronise();
    const uint8_t data[16] = {};
    EXPECT_EQ(rig.host.Copy(0x1080, kRam, 256), aErrParam);
    EXPECT_EQ(rig.host.Copy(0x1000, kRam, 2048), aErrParam);
    EXPECT_EQ(rig.host.Copy(0x1000, kRam, NXPSerial::copyLength(5000)), aErrParam);
    EXPECT_EQ(rig.host.Write(kRam, 10, data), aErrParam);
    EXPECT_EQ(rig.host.Write(kRam, 0, data), aErrParam);
    EXPECT_EQ(rig.host.Prepare(3, 2), aErrParam);
    EXPECT_EQ(rig.host.Erase(3, 2), aErrParam);
    EXPECT_TRUE(rig.rom().commands().empty());
}

TEST(IspSerial, WriteSendsLinesOf45AndAChecksumEvery20Lines) {
    struct Case {
        uint32_t size;
        std::vector<uint32_t> groups;
        std::vector<uint32_t> tail; // the lines after the first 20 of 45
    };
    const Case cases[] = {{900, {20}, {}}, {1024, {20, 3}, {45, 45, 34}}, {8, {1}, {}}};
    for (bool echo : {true, false}) {
        for (const Case& c : cases) {
            Rig rig;
            rig.synchronise();
            rig.setEcho(echo);
            const std::vector<uint8_t> data = pattern(c.size, c.size);
            ASSERT_EQ(rig.host.Write(kRam, c.size, data.data()), aErrNone) << c.size << " echo " << echo;
            EXPECT_EQ(rig.rom().ram(kRam, c.size), data);
            EXPECT_EQ(rig.rom().checksumGroups(), c.groups) << c.size;
            std::vector<uint32_t> lines(std::min<uint32_t>(20, c.size / 45), 45);
            if (c.size < 45) lines = {c.size};
            lines.insert(lines.end(), c.tail.begin(), c.tail.end());
            EXPECT_EQ(rig.rom().dataLines(), lines) << c.size;
            EXPECT_EQ(rig.rom().resends(), 0u);
        }
    }
}

TEST(IspSerial, RecoveryStepsProgramTheFlashAndGoStartsIt) {
    Rig rig;
    rig.synchronise();
    ASSERT_EQ(rig.host.Unlock(), aErrNone);
    ASSERT_EQ(rig.host.Prepare(0, 29), aErrNone);
    ASSERT_EQ(rig.host.Erase(0, 29), aErrNone);
    ASSERT_EQ(rig.host.SetEcho(false), aErrNone);
    EXPECT_FALSE(rig.rom().echo());
    // 5000 bytes at 0x20000: a piece of 4096 (sector 18, copy 4096), one of 904 (copy 1024).
    const std::vector<uint8_t> image = pattern(5000, 7);
    uint32_t address = 0x20000;
    for (uint32_t at = 0; at < image.size();) {
        const uint32_t piece = std::min<uint32_t>(4096, static_cast<uint32_t>(image.size()) - at);
        ASSERT_EQ(rig.host.Write(kRam, piece, image.data() + at), aErrNone);
        EXPECT_EQ(NXPSerial::sectorOf(address), 18u);
        ASSERT_EQ(rig.host.Prepare(NXPSerial::sectorOf(address), NXPSerial::sectorOf(address + piece - 1)),
                  aErrNone);
        ASSERT_EQ(rig.host.Copy(address, kRam, NXPSerial::copyLength(piece)), aErrNone);
        address += piece;
        at += piece;
    }
    const std::vector<std::string> commands = rig.rom().commands();
    EXPECT_EQ(commands[commands.size() - 1], "C 135168 268439552 1024");
    EXPECT_EQ(commands[commands.size() - 4], "C 131072 268439552 4096");
    const std::vector<uint8_t> flash = rig.rom().flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin() + 0x20000));
    ASSERT_EQ(rig.host.Compare(0x21000, kRam, 1024), aErrNone) << "the RAM holds the last piece";
    EXPECT_EQ(rig.host.Compare(0x20000, kRam, 4096), aErrParam);
    EXPECT_EQ(rig.host.returnCode(), 10) << "COMPARE_ERROR";
    ASSERT_EQ(rig.host.Compare(0x21000, kRam, 1024), aErrNone) << "the offset line was taken";
    // A valid vector table: the ROM starts user code only with one.
    std::vector<uint8_t> vectors = pattern(256, 3);
    setVectorChecksum(vectors);
    ASSERT_EQ(rig.host.Write(kRam, 256, vectors.data()), aErrNone);
    ASSERT_EQ(rig.host.Prepare(0, 0), aErrNone);
    ASSERT_EQ(rig.host.Copy(0, kRam, 256), aErrNone);
    ASSERT_EQ(rig.host.SetEcho(true), aErrNone);
    ASSERT_EQ(rig.host.Go(0), aErrNone);
    const auto start = Clock::now();
    while (!rig.rom().started() && secondsSince(start) < 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(rig.rom().started());
    EXPECT_EQ(rig.rom().startAddress(), 0u);
}

TEST(IspSerial, OnAPacedLineAWriteTakesTheTimeItsCharactersTake) {
    // 20 lines of 63 characters and a checksum line: at least 110 ms at 11520 a second.
    for (bool echo : {false, true}) {
        Rig rig({}, true);
        rig.synchronise();
        rig.setEcho(echo);
        const std::vector<uint8_t> data = pattern(900, 5);
        const auto start = Clock::now();
        ASSERT_EQ(rig.host.Write(kRam, 900, data.data()), aErrNone) << "echo " << echo;
        const double took = secondsSince(start);
        EXPECT_GE(took, 1268 / 11520.0);
        EXPECT_LT(took, 1.0);
        EXPECT_EQ(rig.rom().ram(kRam, 900), data);
    }
}

TEST(IspSerial, NonzeroReturnCodesFailWithEchoOnAndOff) {
    for (bool echo : {true, false}) {
        for (uint32_t code : {10u, 9u, 1u}) {
            IspRomSettings settings;
            settings.failAt = {'P', 1};
            settings.failCode = code;
            Rig rig(settings);
            rig.synchronise();
            rig.setEcho(echo);
            EXPECT_EQ(rig.host.Prepare(0, 0), aErrParam) << code << " echo " << echo;
            EXPECT_EQ(rig.host.Prepare(0, 0), aErrNone) << "only the first P fails";
        }
    }
}

TEST(IspSerial, ResendAnswersSpendOneBudgetOverTheWholeWrite) {
    struct Case {
        int resends;
        std::string checksumReply;
        aErr result;
        size_t checksums;
    };
    // Once: the group goes again and the write goes on. For ever: the third RESEND
    // ends it. An unknown answer ends it at once.
    const Case cases[] = {{1, "", aErrNone, 3}, {-1, "", aErrTimeout, 3}, {0, "ERROR\r\n", aErrIO, 1}};
    for (const Case& c : cases) {
        IspRomSettings settings;
        settings.resendTimes = c.resends;
        settings.checksumReply = c.checksumReply;
        Rig rig(settings);
        rig.synchronise();
        ASSERT_EQ(rig.host.SetEcho(false), aErrNone);
        const std::vector<uint8_t> data = pattern(1024, 1);
        EXPECT_EQ(rig.host.Write(kRam, 1024, data.data()), c.result) << c.resends;
        EXPECT_EQ(rig.rom().checksumGroups().size(), c.checksums) << c.resends;
        if (c.result == aErrNone) {
            EXPECT_EQ(rig.rom().checksumGroups(), (std::vector<uint32_t>{20, 20, 3}));
            EXPECT_EQ(rig.rom().ram(kRam, 1024), data);
        }
    }
}

TEST(IspSerial, ASilentOrGarbledChipFailsWithinBoundedTime) {
    IspRomSettings silent;
    silent.silentFrom = {'P', 1};
    IspRomSettings garbled;
    garbled.garbleAt = {'P', 1};
    for (const IspRomSettings& settings : {silent, garbled}) {
        Rig rig(settings);
        rig.synchronise();
        const auto start = Clock::now();
        EXPECT_EQ(rig.host.Prepare(0, 0), aErrParam);
        EXPECT_LT(secondsSince(start), 1.0);
    }
    // Nobody answers at all: Sync ends with the read's result.
    SerialLine deaf([](uint8_t, uint32_t) {}, SerialLine::Settings{});
    NXPSerial host;
    ASSERT_EQ(host.Open(deaf.path(), 115200), aErrNone);
    const auto start = Clock::now();
    EXPECT_EQ(host.Sync(), aErrNotReady);
    EXPECT_LT(secondsSince(start), 1.0);
}

TEST(IspSerial, AnEarlyReplyBeforeTheLineEndStillReads) {
    for (bool echo : {true, false}) {
        IspRomSettings settings;
        settings.earlyAt = {'P', 1};
        Rig rig(settings);
        rig.synchronise();
        rig.setEcho(echo);
        EXPECT_EQ(rig.host.Prepare(0, 0), aErrNone);
        EXPECT_EQ(rig.host.Unlock(), aErrNone);
        EXPECT_EQ(rig.host.Erase(0, 0), aErrNone);
    }
}

TEST(IspSerial, TheChipStaysAtTheRateItSynchronisedAt) {
    Rig rig;
    rig.synchronise(115200);
    rig.host.Close();
    // A new connection at another rate without a new Sync: garbage both ways.
    rig.open(57600);
    EXPECT_EQ(rig.host.Unlock(), aErrParam);
    // At the synchronised rate the chip still answers (after the garbage line).
    rig.open(115200);
    rig.host.Unlock();
    EXPECT_EQ(rig.host.Unlock(), aErrNone);

    // Synchronised at the other rate, that rate works.
    Rig other;
    other.synchronise(57600);
    EXPECT_EQ(other.rom().lockedBaud(), 57600u);
    other.host.Close();
    other.open(57600);
    EXPECT_EQ(other.host.Unlock(), aErrNone);
}

TEST(IspSerial, ThePortIsReleasedOnEveryPath) {
    Rig rig;
    rig.open();
    // The port is held exclusively: a second opening elsewhere fails until it is closed.
    NXPSerial second;
    EXPECT_NE(second.Open(rig.server.path(), 115200), aErrNone);
    rig.open(); // reopening closes the first connection
    rig.host.Close();
    EXPECT_EQ(second.Open(rig.server.path(), 115200), aErrNone);
    {
        NXPSerial scoped;
        second.Close();
        EXPECT_EQ(scoped.Open(rig.server.path(), 115200), aErrNone);
    }
    EXPECT_EQ(second.Open(rig.server.path(), 115200), aErrNone) << "the destructor closed the port";
    NXPSerial missing;
    EXPECT_EQ(missing.Open("/dev/veltrano-no-such-port", 115200), aErrIO);
}

TEST(IspSerial, LogLinesNameTheFailure) {
    char* text = nullptr;
    size_t length = 0;
    FILE* log = open_memstream(&text, &length);
    ASSERT_NE(log, nullptr);
    updaterLog_SetStream(log);
    updaterLog_SetMask(DEBUG_NXPSerial | DEBUG_NXPSerial_SR);
    {
        IspRomSettings settings;
        settings.failAt = {'C', 1};
        settings.failCode = 10;
        settings.resendTimes = -1;
        Rig rig(settings);
        rig.synchronise();
        rig.host.Unlock();
        rig.host.Prepare(0, 0);
        rig.host.Copy(0, kRam, 256);
        const uint8_t data[4] = {1, 2, 3, 4};
        rig.host.Write(kRam, 4, data);
        NXPSerial::copyLength(5000);
    }
    updaterLog_SetStream(nullptr);
    std::fclose(log);
    const std::string logged(text, length);
    std::free(text);
    for (const char* line :
         {"Creating serial connection: [", "] stream baud:6(115200)\n", "Error response ==>[COMPARE_ERROR]\n",
          "Write() exceeded retries\n", "Write() Checksum: 0000000A (10)\n",
          "Sending:[55 20 32 33 31 33 30 0D 0A] [U 23130  ]\n", "Copy length is too large. 5000 > 4096.\n"})
        EXPECT_NE(logged.find(line), std::string::npos) << line;
}

} // namespace

namespace {

// At 2400 baud a character takes 4 ms: the echo of a line trickles back slower
// than reads find nothing, and a group of 12 lines stays 3 s on the line after the
// port took it. Each reply is awaited until what was sent crossed the line.
TEST(IspSerial, AtALowRateRepliesAreAwaitedUntilWhatWasSentCrossedTheLine) {
    struct Case {
        bool echo;
        uint32_t size;
    } cases[] = {{true, 48}, {false, 540}};
    for (const Case& c : cases) {
        Rig rig({}, true);
        rig.synchronise(2400);
        rig.setEcho(c.echo);
        const std::vector<uint8_t> data = pattern(c.size, 7);
        EXPECT_EQ(rig.host.Write(kRam, c.size, data.data()), aErrNone) << "echo " << c.echo;
        EXPECT_EQ(rig.rom().ram(kRam, c.size), data) << "echo " << c.echo;
        EXPECT_EQ(rig.rom().resends(), 0u) << "echo " << c.echo;
    }
}

} // namespace
