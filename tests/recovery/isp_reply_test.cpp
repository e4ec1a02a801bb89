// The ISP reply parsing, UU line encoding and the protocol's tables, without a port.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ISPReply.h"
#include "NXPSerial.h"
#include "UUEncode.h"

namespace {

struct CodeCase {
    const char* line;
    bool echo;
    bool found;
    long code;
};

TEST(IspReply, ReturnCodeIsTheLastNumberWithEchoAndTheFirstWithout) {
    const CodeCase cases[] = {
        {"0\r\n", true, true, 0},
        {"0\r\n", false, true, 0},
        {"29\r0\r\n", true, true, 0},      // an echo left in front
        {"P 0 29 10\r\n", true, true, 10}, // COMPARE_ERROR ends the line
        {"10 0\r\n", false, true, 10},     // echo off reads the start
        {"0x10\r\n", false, true, 16},     // base 0: hexadecimal
        {"010\r\n", true, true, 8},        // base 0: octal
        {"\r\n", true, false, 0},          // an empty line is no 0
        {"", false, false, 0},
        {"OK\r\n", false, false, 0},
        {"   \r\n", true, false, 0},
        {"RESEND", true, false, 0},
    };
    for (const CodeCase& c : cases) {
        long code = -99;
        EXPECT_EQ(ISPReply::returnCode(c.line, c.echo, &code), c.found) << c.line << " echo " << c.echo;
        if (c.found) {
            EXPECT_EQ(code, c.code) << c.line;
        }
        EXPECT_EQ(ISPReply::isSuccess(c.line, c.echo), c.found && c.code == 0) << c.line;
    }
}

TEST(IspReply, CodeNamesCoverTheTableAndEverythingElseIsUnknown) {
    EXPECT_STREQ(ISPReply::returnCodeName(0), "CMD_SUCCESS");
    EXPECT_STREQ(ISPReply::returnCodeName(9), "SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION");
    EXPECT_STREQ(ISPReply::returnCodeName(10), "COMPARE_ERROR");
    EXPECT_STREQ(ISPReply::returnCodeName(19), "CODE_READ_PROTECTION_ENABLED");
    for (long code : {-1L, 20L, 21L, 1000L})
        EXPECT_STREQ(ISPReply::returnCodeName(code), "Unknown error") << code;
}

TEST(IspReply, ChecksumRepliesAreMatchedExactly) {
    using R = ISPReply::ChecksumReply;
    const std::pair<const char*, R> cases[] = {
        {"OK\r\n", R::Ok},     {"RESEND\r\n", R::Resend}, {"OK", R::Other},
        {"OK\r\nx", R::Other}, {"ok\r\n", R::Other},      {"RESEND\n", R::Other},
        {"", R::Other},        {"0\r\n", R::Other},       {" OK\r\n", R::Other},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ISPReply::checksumReply(c.first), c.second) << c.first;
}

TEST(IspReply, UidWordsAreUnsignedBaseZero) {
    EXPECT_EQ(ISPReply::uidWord("4294967295\r\n"), 0xFFFFFFFFu);
    EXPECT_EQ(ISPReply::uidWord("0x1A2B\r\n"), 0x1A2Bu);
    EXPECT_EQ(ISPReply::uidWord("017\r\n"), 15u);
    EXPECT_EQ(ISPReply::uidWord("\r\n"), 0u);
    EXPECT_EQ(ISPReply::uidWord(nullptr), 0u);
}

TEST(IspUUEncode, LengthCharacterGroupsAndBacktickForZero) {
    const uint8_t cat[] = {'C', 'a', 't'};
    EXPECT_EQ(uuEncodeLine(cat, 3), "#0V%T");
    const uint8_t zeros[4] = {0, 0, 0, 0};
    EXPECT_EQ(uuEncodeLine(zeros, 4), "$````````"); // padding of the last group is zero too
    std::vector<uint8_t> full(45, 0xFF);
    const std::string line = uuEncodeLine(full.data(), full.size());
    EXPECT_EQ(line.size(), 61u);
    EXPECT_EQ(line[0], 'M');
    EXPECT_EQ(line.find(' '), std::string::npos);
    EXPECT_EQ(uuEncodeLine(full.data(), 46), line) << "a line carries at most 45 bytes";
}

TEST(IspTables, OpenRateTable) {
    const uint32_t cases[][3] = {{1200, 2400, 0},     {2400, 2400, 0},     {2401, 4800, 1},
                                 {100000, 115200, 6}, {115200, 115200, 6}, {230400, 230400, 7},
                                 {230401, 9600, 2},   {0, 2400, 0},        {57600, 57600, 5}};
    for (const auto& c : cases) {
        uint32_t index = 99;
        EXPECT_EQ(NXPSerial::baudRateFor(c[0], &index), c[1]) << c[0];
        EXPECT_EQ(index, c[2]) << c[0];
    }
}

TEST(IspTables, SectorMapAndCopyLengths) {
    const uint32_t sectors[][2] = {{0, 0},        {0xFFF, 0},      {0x1000, 1},   {0x0FFFF, 15},
                                   {0x10000, 16}, {0x17FFF, 16},   {0x18000, 17}, {0x7FFFF, 29},
                                   {0x80000, 30}, {0xFFFFFFFF, 30}};
    for (const auto& s : sectors)
        EXPECT_EQ(NXPSerial::sectorOf(s[0]), s[1]) << std::hex << s[0];
    const uint32_t lengths[][2] = {{0, 256},     {1, 256},     {256, 256},   {257, 512},  {513, 1024},
                                   {1024, 1024}, {1025, 4096}, {4096, 4096}, {5000, 5000}};
    for (const auto& l : lengths)
        EXPECT_EQ(NXPSerial::copyLength(l[0]), l[1]) << l[0];
}

TEST(IspTables, ChipParameters) {
    EXPECT_STREQ(kNXPChip.crystalLabel, "Crystal");
    EXPECT_EQ(static_cast<int>(kNXPChip.crystalMHz * 1000.0f + 0.5f), 14746);
    EXPECT_EQ(kNXPChip.ramBuffer, 0x10001000u);
    EXPECT_EQ(kNXPChip.bytesPerLine, 45u);
    EXPECT_EQ(kNXPChip.linesPerChecksum, 20u);
    EXPECT_EQ(kNXPChip.resendRetries, 3u);
}

} // namespace
