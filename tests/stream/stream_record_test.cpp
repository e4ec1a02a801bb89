#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "aStream.h"
#include "scripted_transport.h"

namespace {

const uint8 kCRLF[] = {'\r', '\n'};

struct RecordCase {
    const char* name;
    std::string input;
    aErr idle;
    uint32 capacity;
    aErr expected;
    std::string record;
    std::string leftOver; // what the next reads see, until the transport runs dry
};

std::string drain(aStream* s) {
    std::string rest;
    uint8 byte;
    while (aStream_Read(s, &byte, 1) == aErrNone) rest.push_back(static_cast<char>(byte));
    return rest;
}

TEST(StreamRecord, ReadRecordCases) {
    const RecordCase cases[] = {
        {"plain", "abc\r\nxy", aErrNotReady, 16, aErrNone, "abc", "xy"},
        {"match advances across stored bytes", "a\rb\nz", aErrNotReady, 16, aErrNone, "ab", "z"},
        {"lone LF is stored", "a\nb\r\n", aErrNotReady, 16, aErrNone, "a\nb", ""},
        {"capacity ends the record", "abcdef\r\n", aErrNotReady, 4, aErrNone, "abcd", "ef\r\n"},
        {"end of data completes", "abc", aErrEOF, 16, aErrNone, "abc", ""},
        {"end of data with nothing stored", "\r", aErrEOF, 16, aErrEOF, "", ""},
        {"not ready gives every byte back", "ab\rc", aErrNotReady, 16, aErrNotReady, "", "ab\rc"},
    };
    for (const RecordCase& c : cases) {
        ScriptedTransport t;
        t.queueBytes(c.input);
        t.setIdle(c.idle);
        aStream* s = t.stream();
        uint8 buffer[32];
        std::memset(buffer, 0xEE, sizeof buffer);
        uint32 length = 99;
        EXPECT_EQ(aStream_ReadRecord(s, buffer, &length, c.capacity, kCRLF, 2), c.expected) << c.name;
        if (c.expected == aErrNone) {
            EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), length), c.record) << c.name;
        } else {
            EXPECT_EQ(length, 0u) << c.name;
            EXPECT_EQ(buffer[0], 0xEE) << c.name;
        }
        EXPECT_EQ(drain(s), c.leftOver) << c.name;
        aStream_Destroy(&s);
    }
}

TEST(StreamRecord, NotReadyRecordCompletesOnTheNextCall) {
    ScriptedTransport t;
    t.queueBytes("OK\r");
    aStream* s = t.stream();
    uint8 buffer[16];
    uint32 length = 0;
    EXPECT_EQ(aStream_ReadRecord(s, buffer, &length, sizeof buffer, kCRLF, 2), aErrNotReady);
    // The line end arrives split: the CR already seen must still count.
    t.queueBytes("\nnext\r\n");
    EXPECT_EQ(aStream_ReadRecord(s, buffer, &length, sizeof buffer, kCRLF, 2), aErrNone);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), length), "OK");
    EXPECT_EQ(aStream_ReadRecord(s, buffer, &length, sizeof buffer, kCRLF, 2), aErrNone);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), length), "next");
    aStream_Destroy(&s);
}

TEST(StreamRecord, TransportFailureIsAnsweredAndNothingCopied) {
    ScriptedTransport t;
    t.queueBytes("ab");
    t.queueFailure(aErrIO);
    aStream* s = t.stream();
    uint8 buffer[8] = {0xEE};
    EXPECT_EQ(aStream_ReadRecord(s, buffer, nullptr, sizeof buffer, kCRLF, 2), aErrIO);
    EXPECT_EQ(buffer[0], 0xEE);
    aStream_Destroy(&s);
}

TEST(StreamRecord, ParameterChecks) {
    ScriptedTransport t;
    aStream* s = t.stream();
    uint8 buffer[8];
    char text[8];
    EXPECT_EQ(aStream_ReadRecord(nullptr, buffer, nullptr, 8, kCRLF, 2), aErrParam);
    EXPECT_EQ(aStream_ReadRecord(s, nullptr, nullptr, 8, kCRLF, 2), aErrParam);
    EXPECT_EQ(aStream_ReadRecord(s, buffer, nullptr, 8, nullptr, 2), aErrParam);
    EXPECT_EQ(aStream_ReadRecord(s, buffer, nullptr, 8, kCRLF, 0), aErrParam);
    EXPECT_EQ(aStream_ReadRecord(s, buffer, nullptr, 0, kCRLF, 2), aErrParam);
    EXPECT_EQ(aStream_ReadCString(s, text, 0), aErrParam);
    EXPECT_EQ(aStream_ReadCString(s, text, 1), aErrParam);
    EXPECT_EQ(aStream_ReadCStringRecord(s, text, sizeof text, ""), aErrParam);
    EXPECT_EQ(aStream_ReadCStringRecord(s, text, sizeof text, nullptr), aErrParam);
    EXPECT_EQ(aStream_WriteRecord(s, buffer, 1, kCRLF, 0), aErrParam);
    EXPECT_EQ(aStream_WriteCString(s, nullptr), aErrParam);
    EXPECT_EQ(aStream_WriteCStringRecord(s, "a", nullptr), aErrParam);
    EXPECT_EQ(t.written(), "");
    aStream_Destroy(&s);
}

TEST(StreamText, ReadCStringStopsAtNulAndLeavesTheRest) {
    ScriptedTransport t;
    t.queueBytes(std::string("ab\0cd", 5));
    aStream* s = t.stream();
    char text[8];
    EXPECT_EQ(aStream_ReadCString(s, text, sizeof text), aErrNone);
    EXPECT_STREQ(text, "ab");
    EXPECT_EQ(drain(s), "cd");
    aStream_Destroy(&s);
}

TEST(StreamText, ReadCStringFillsAtMostSizeMinusOne) {
    ScriptedTransport t;
    t.queueBytes("abcdef");
    aStream* s = t.stream();
    char text[4];
    EXPECT_EQ(aStream_ReadCString(s, text, sizeof text), aErrNone);
    EXPECT_STREQ(text, "abc");
    char line[8];
    EXPECT_EQ(aStream_ReadCStringRecord(s, line, sizeof line, "\r\n"), aErrNotReady);
    t.queueBytes("\r\n");
    EXPECT_EQ(aStream_ReadCStringRecord(s, line, sizeof line, "\r\n"), aErrNone);
    EXPECT_STREQ(line, "def");
    aStream_Destroy(&s);
}

TEST(StreamText, WritersAppendTheirTerminators) {
    ScriptedTransport t;
    aStream* s = t.stream();
    EXPECT_EQ(aStream_WriteCString(s, "ab"), aErrNone);
    EXPECT_EQ(aStream_WriteCString(s, ""), aErrNone);
    EXPECT_EQ(aStream_WriteCStringRecord(s, "cd", "\r\n"), aErrNone);
    EXPECT_EQ(aStream_WriteRecord(s, reinterpret_cast<const uint8*>("ef"), 2, kCRLF, 2), aErrNone);
    EXPECT_EQ(t.written(), std::string("ab\0\0cd\r\n\0ef\r\n", 13));
    aStream_Destroy(&s);
}

TEST(StreamText, FailedTextLeavesTerminatorUnwritten) {
    ScriptedTransport t;
    t.failWriteCall(0, aErrWrite);
    aStream* s = t.stream();
    EXPECT_EQ(aStream_WriteCStringRecord(s, "cd", "\r\n"), aErrWrite);
    EXPECT_EQ(t.written(), "");
    EXPECT_EQ(t.writeBufferCalls, 1);
    aStream_Destroy(&s);
}

TEST(StreamFlush, CopiesUntilEndOfDataBypassingPushBack) {
    ScriptedTransport in, out;
    in.queueBytes("xyz");
    aStream* input = in.stream();
    uint8 buffer[4];
    ASSERT_EQ(aStream_Read(input, buffer, 4), aErrNotReady); // "xyz" now waits in the ring
    in.queueBytes("hello");
    in.setIdle(aErrEOF);
    aStream* output = out.stream();
    EXPECT_EQ(aStream_Flush(input, output), aErrNone);
    EXPECT_EQ(out.written(), "hello");
    EXPECT_EQ(out.putByteCalls, 5);
    aStream_Destroy(&input);
    aStream_Destroy(&output);
}

TEST(StreamFlush, AnswersFailuresOfEitherSide) {
    {
        ScriptedTransport in, out;
        in.queueBytes("ab");
        in.setIdle(aErrNotReady);
        aStream* input = in.stream();
        aStream* output = out.stream();
        EXPECT_EQ(aStream_Flush(input, output), aErrNotReady);
        EXPECT_EQ(out.written(), "ab");
        aStream_Destroy(&input);
        aStream_Destroy(&output);
    }
    {
        ScriptedTransport in, out;
        in.queueBytes("abc");
        in.setIdle(aErrEOF);
        out.failWriteCall(1, aErrWrite);
        aStream* input = in.stream();
        aStream* output = out.stream();
        EXPECT_EQ(aStream_Flush(input, output), aErrWrite);
        EXPECT_EQ(out.written(), "a");
        aStream_Destroy(&input);
        aStream_Destroy(&output);
    }
    {
        ScriptedTransport in, out;
        aStream* input = in.stream();
        aStream* bufferOnly = out.stream(true, false, true);
        EXPECT_EQ(aStream_Flush(input, bufferOnly), aErrMode);
        EXPECT_EQ(aStream_Flush(bufferOnly, nullptr), aErrParam);
        aStream_Destroy(&input);
        aStream_Destroy(&bufferOnly);
    }
}

} // namespace
