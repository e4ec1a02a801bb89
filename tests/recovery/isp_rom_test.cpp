// The ISP boot-ROM emulator on its own: bytes in, the chip's bytes out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "IspRom.h"
#include "UUEncode.h"

namespace {

using Veltrano::Sim::IspRom;
using Veltrano::Sim::IspRomSettings;

constexpr uint32_t kBaud = 115200;
constexpr uint32_t kRam = 0x10001000;

std::string feed(IspRom& rom, const std::string& text, uint32_t baud = kBaud) {
    std::string out;
    for (char c : text)
        out += rom.receive(static_cast<uint8_t>(c), baud);
    return out;
}

// The reply to one command line.
std::string ask(IspRom& rom, const std::string& command) {
    return feed(rom, command + "\r\n");
}

// Synchronised at 115200 with echo off, so that replies read alone.
void synchronise(IspRom& rom) {
    ASSERT_EQ(feed(rom, "?"), "Synchronized\r\n");
    ASSERT_EQ(feed(rom, "Synchronized\r\n"), "Synchronized\r\nOK\r\n");
    ASSERT_EQ(feed(rom, "14746\r\n"), "14746\r\nOK\r\n");
    ASSERT_EQ(feed(rom, "A 0\r\n"), "A 0\r\n0\r\n");
}

// W of the bytes into RAM with their checksum lines.
std::string writeRam(IspRom& rom, uint32_t address, const std::vector<uint8_t>& bytes) {
    std::string out = ask(rom, "W " + std::to_string(address) + " " + std::to_string(bytes.size()));
    uint32_t sum = 0;
    size_t lines = 0;
    for (size_t at = 0; at < bytes.size(); at += 45) {
        const size_t n = std::min<size_t>(45, bytes.size() - at);
        out += feed(rom, uuEncodeLine(bytes.data() + at, n) + "\r\n");
        for (size_t i = 0; i < n; ++i)
            sum += bytes[at + i];
        if (++lines == 20 || at + n == bytes.size()) {
            out += ask(rom, std::to_string(sum));
            sum = 0;
            lines = 0;
        }
    }
    return out;
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return bytes;
}

TEST(IspRom, AutoBaudEchoesTheHostAndIgnoresAnythingBeforeTheQuestionMark) {
    IspRom rom;
    EXPECT_EQ(feed(rom, "U 23130\r\n"), "");
    EXPECT_FALSE(rom.synchronized());
    EXPECT_EQ(feed(rom, "?"), "Synchronized\r\n");
    EXPECT_EQ(feed(rom, "Synchronized\r\n"), "Synchronized\r\nOK\r\n");
    EXPECT_EQ(feed(rom, "14746\r\n"), "14746\r\nOK\r\n");
    EXPECT_TRUE(rom.synchronized());
    EXPECT_EQ(rom.lockedBaud(), kBaud);
    EXPECT_EQ(feed(rom, "J\r\n"), "J\r\n0\r\n637615927\r\n");
}

TEST(IspRom, RefusalsCarryThePublishedCodes) {
    IspRom rom;
    synchronise(rom);
    const std::pair<const char*, const char*> locked[] = {
        {"E 0 0", "15\r\n"}, {"C 0 268439552 256", "15\r\n"}, {"G 0 T", "15\r\n"}};
    for (const auto& c : locked)
        EXPECT_EQ(ask(rom, c.first), c.second) << c.first;
    EXPECT_EQ(ask(rom, "U 1234"), "16\r\n");
    EXPECT_EQ(ask(rom, "U 23130"), "0\r\n");
    const std::pair<const char*, const char*> cases[] = {
        {"X", "1\r\n"}, // INVALID_COMMAND
        {"PX 0 0", "1\r\n"},
        {"P 1", "12\r\n"},   // PARAM_ERROR
        {"P 0 30", "7\r\n"}, // INVALID_SECTOR
        {"P 3 2", "7\r\n"},
        {"A 2", "12\r\n"},
        {"E 0 0", "9\r\n"}, // SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION
        {"C 0 268439552 256", "9\r\n"},
        {"W 268439553 4", "3\r\n"}, // DST_ADDR_ERROR: not a word
        {"W 268439552 6", "6\r\n"}, // COUNT_ERROR
        {"W 268435456 4", "5\r\n"}, // the ROM's own RAM
        {"W 268468220 4", "5\r\n"}, // its stack at the top
        {"W 0 4", "5\r\n"},
        {"C 128 268439552 256", "3\r\n"},    // DST_ADDR_ERROR: not on 256
        {"C 0 268439554 256", "2\r\n"},      // SRC_ADDR_ERROR
        {"C 0 268439552 300", "6\r\n"},      // COUNT_ERROR
        {"C 0 536870912 256", "4\r\n"},      // SRC_ADDR_NOT_MAPPED
        {"C 524288 268439552 256", "5\r\n"}, // DST_ADDR_NOT_MAPPED
        {"G 4194304 T", "14\r\n"},           // ADDR_NOT_MAPPED
        {"G 0 Q", "12\r\n"},
        {"R 1 4", "13\r\n"}, // ADDR_ERROR
        {"I 0 30", "7\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ask(rom, c.first), c.second) << c.first;
}

TEST(IspRom, WriteCopyEraseAndTheRulesOfRealFlash) {
    IspRom rom;
    synchronise(rom);
    ask(rom, "U 23130");
    const std::vector<uint8_t> data = pattern(1024, 3);
    EXPECT_EQ(writeRam(rom, kRam, data), "0\r\nOK\r\nOK\r\n");
    EXPECT_EQ(rom.ram(kRam, 1024), data);
    EXPECT_EQ(rom.checksumGroups(), (std::vector<uint32_t>{20, 3}));

    EXPECT_EQ(ask(rom, "P 16 16"), "0\r\n");
    EXPECT_EQ(ask(rom, "C 65536 268439552 1024"), "0\r\n");
    std::vector<uint8_t> flash = rom.flash();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin() + 0x10000));
    // A copy or an erase protects every sector again.
    EXPECT_EQ(ask(rom, "C 66560 268439552 256"), "9\r\n");

    // Programming over programmed flash only clears bits.
    const std::vector<uint8_t> ones(256, 0xF0);
    writeRam(rom, kRam, ones);
    ask(rom, "P 16 16");
    EXPECT_EQ(ask(rom, "C 65536 268439552 256"), "0\r\n");
    flash = rom.flash();
    for (size_t i = 0; i < 256; ++i)
        ASSERT_EQ(flash[0x10000 + i], data[i] & 0xF0) << i;

    EXPECT_EQ(ask(rom, "I 16 16"), "8\r\n65536\r\n" +
                                       std::to_string(flash[0x10000] | flash[0x10001] << 8 |
                                                      flash[0x10002] << 16 | uint32_t(flash[0x10003]) << 24) +
                                       "\r\n");
    EXPECT_EQ(ask(rom, "M 65536 268439552 256"), "10\r\n0\r\n");
    ask(rom, "P 15 16");
    EXPECT_EQ(ask(rom, "E 15 16"), "0\r\n");
    flash = rom.flash();
    EXPECT_TRUE(
        std::all_of(flash.begin() + 0xF000, flash.begin() + 0x18000, [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(ask(rom, "I 15 16"), "0\r\n");
}

TEST(IspRom, ABadChecksumIsAnsweredResendAndTheGroupIsDropped) {
    IspRom rom;
    synchronise(rom);
    const std::vector<uint8_t> data = pattern(8, 1);
    ask(rom, "W 268439552 8");
    feed(rom, uuEncodeLine(data.data(), 8) + "\r\n");
    EXPECT_EQ(ask(rom, "1"), "RESEND\r\n");
    EXPECT_NE(rom.ram(kRam, 8), data);
    feed(rom, uuEncodeLine(data.data(), 8) + "\r\n");
    uint32_t sum = 0;
    for (uint8_t b : data)
        sum += b;
    EXPECT_EQ(ask(rom, std::to_string(sum)), "OK\r\n");
    EXPECT_EQ(rom.ram(kRam, 8), data);
    EXPECT_EQ(rom.resends(), 1u);
}

TEST(IspRom, ReadMemoryGoesAsUULinesWithChecksums) {
    IspRom rom;
    std::vector<uint8_t> image = pattern(1000, 9);
    rom.loadFlash(image);
    synchronise(rom);
    std::string out = ask(rom, "R 0 1000");
    ASSERT_EQ(out.substr(0, 3), "0\r\n");
    // 20 lines and a checksum, then the rest once the host said OK.
    size_t lines = 0;
    for (size_t at = 3; (at = out.find("\r\n", at)) != std::string::npos; at += 2)
        ++lines;
    EXPECT_EQ(lines, 21u);
    std::vector<uint8_t> first(image.begin(), image.begin() + 45);
    EXPECT_EQ(out.substr(3, 63), uuEncodeLine(first.data(), 45) + "\r\n");
    out = ask(rom, "OK");
    EXPECT_NE(out.find("\r\n"), std::string::npos);
    EXPECT_EQ(ask(rom, "OK"), "");
    EXPECT_EQ(ask(rom, "J"), "0\r\n637615927\r\n");
}

// The ROM starts user code only when the vector table's first eight words sum to
// 0; otherwise the chip stays in ISP, at reset as after "G".
TEST(IspRom, UserCodeStartsOnlyWithAValidVectorTable) {
    std::vector<uint8_t> valid = pattern(64, 3);
    Veltrano::Sim::setVectorChecksum(valid);
    std::vector<uint8_t> invalid = valid;
    invalid[0x1C] ^= 1;
    struct Case {
        const char* name;
        std::vector<uint8_t> flash;
        bool stay, started;
    } cases[] = {
        {"valid", valid, false, true},
        {"valid, the chip stays in the ROM", valid, true, false},
        {"checksum off by one bit", invalid, false, false},
        {"blank", {}, false, false},
    };
    for (const Case& c : cases) {
        IspRomSettings settings;
        settings.stayInRom = c.stay;
        settings.ispEntryHeld = true;
        IspRom rom(settings);
        rom.loadFlash(c.flash);
        synchronise(rom);
        ask(rom, "U 23130");
        EXPECT_EQ(ask(rom, "G 256 T"), "0\r\n") << c.name;
        EXPECT_EQ(rom.started(), c.started) << c.name;
        EXPECT_EQ(rom.startAddress(), 256u) << c.name;
        EXPECT_EQ(ask(rom, "J").empty(), c.started) << c.name;
    }
    // At reset without the ISP pin held.
    for (const Case& c : cases) {
        IspRom rom;
        rom.loadFlash(c.flash);
        EXPECT_EQ(rom.started(), c.started || c.stay) << c.name << " at reset";
        EXPECT_EQ(feed(rom, "?").empty(), c.started || c.stay) << c.name << " at reset";
    }
}

// Erase and copy keep the chip busy as long as the silicon takes; the caller is
// told where the reply's tail waits.
TEST(IspRom, EraseAndCopyTakeTheirTime) {
    IspRom rom;
    synchronise(rom);
    ask(rom, "U 23130");
    writeRam(rom, kRam, pattern(1024, 1));
    ask(rom, "P 0 3");
    std::string out;
    Veltrano::Sim::IspBusy busy;
    for (char c : std::string("E 0 3\r\n"))
        out += rom.receive(static_cast<uint8_t>(c), kBaud, &busy);
    EXPECT_EQ(out, "0\r\n");
    EXPECT_EQ(busy.at, 0u);
    EXPECT_EQ(busy.ms, 400u) << "100 ms a sector";
    ask(rom, "P 1 1");
    for (char c : std::string("C 4096 268439552 1024\r\n"))
        out = rom.receive(static_cast<uint8_t>(c), kBaud, &busy);
    EXPECT_EQ(out, "0\r\n");
    EXPECT_EQ(busy.ms, 4u) << "1 ms per 256 bytes";
    rom.receive('J', kBaud, &busy);
    EXPECT_EQ(busy.ms, 0u);
}

TEST(IspRom, AtAnotherRateThanTheLockedOneBytesAndRepliesAreGarbled) {
    IspRom rom;
    synchronise(rom);
    // Nothing the chip can read as a line end: no reply, and the garbage spoils the
    // line it is part of.
    EXPECT_EQ(feed(rom, "J\r\n", 57600), "");
    EXPECT_EQ(ask(rom, ""), "1\r\n");
    EXPECT_EQ(ask(rom, "J"), "0\r\n637615927\r\n");
    IspRom echoing;
    feed(echoing, "?Synchronized\r\n14746\r\n");
    const std::string echo = feed(echoing, "J\r\n", 57600);
    EXPECT_EQ(echo.size(), 3u);
    EXPECT_EQ(echo.find_first_of("J\r\n"), std::string::npos);
    // A new "?" at the other rate locks onto it.
    IspRom other;
    feed(other, "?", 57600);
    EXPECT_EQ(other.lockedBaud(), 57600u);
}

TEST(IspRom, FaultsAtAChosenCommand) {
    IspRomSettings fail;
    fail.failAt = {'C', 2};
    fail.failCode = 9;
    IspRom failing(fail);
    synchronise(failing);
    ask(failing, "U 23130");
    ask(failing, "P 0 0");
    EXPECT_EQ(ask(failing, "C 0 268439552 256"), "0\r\n");
    ask(failing, "P 0 0");
    EXPECT_EQ(ask(failing, "C 0 268439552 256"), "9\r\n");

    IspRomSettings silent;
    silent.silentFrom = {'P', 1};
    IspRom quiet(silent);
    synchronise(quiet);
    EXPECT_EQ(ask(quiet, "J"), "0\r\n637615927\r\n");
    EXPECT_EQ(ask(quiet, "P 0 0"), "");
    EXPECT_EQ(ask(quiet, "J"), "");

    IspRomSettings garble;
    garble.garbleAt = {'J', 1};
    IspRom garbling(garble);
    synchronise(garbling);
    const std::string garbled = ask(garbling, "J");
    EXPECT_EQ(garbled.size(), 14u);
    EXPECT_EQ(garbled.find("\r\n"), std::string::npos);
    EXPECT_EQ(ask(garbling, "J"), "0\r\n637615927\r\n");

    IspRomSettings early;
    early.earlyAt = {'J', 1};
    IspRom eager(early);
    synchronise(eager);
    EXPECT_EQ(feed(eager, "J\r"), "0\r\n637615927\r\n");
    EXPECT_EQ(feed(eager, "\n"), "");
    EXPECT_EQ(eager.commands().size(), 2u);

    IspRomSettings babble;
    babble.babble = "Hello there";
    IspRom babbling(babble);
    feed(babbling, "?Synchronized\r\n14746\r\n");
    EXPECT_EQ(ask(babbling, "N"), "N\r\nHello there\r\n");

    // A copy that programs one bit wrong: the compare finds it.
    IspRomSettings flip;
    flip.flipBitAtCopy = 2;
    IspRom flipping(flip);
    synchronise(flipping);
    ask(flipping, "U 23130");
    writeRam(flipping, kRam, pattern(256, 5));
    for (const char* flash : {"0", "256"}) {
        ask(flipping, "P 0 0");
        ASSERT_EQ(ask(flipping, std::string("C ") + flash + " 268439552 256"), "0\r\n");
    }
    EXPECT_EQ(ask(flipping, "M 0 268439552 256"), "0\r\n");
    EXPECT_EQ(ask(flipping, "M 256 268439552 256"), "10\r\n128\r\n");
}

} // namespace
