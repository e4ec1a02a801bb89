#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "aStream.h"
#include "scripted_transport.h"

namespace {

std::string str(const uint8* bytes, size_t n) { return std::string(reinterpret_cast<const char*>(bytes), n); }

TEST(StreamRead, NotReadyPartWayKeepsBytesForTheNextRead) {
    ScriptedTransport t;
    t.queueBytes("ab");
    aStream* s = t.stream();
    uint8 buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(aStream_Read(s, buffer, 4), aErrNotReady);
    EXPECT_EQ(str(buffer, 4), "\xEE\xEE\xEE\xEE");
    t.queueBytes("cdef");
    EXPECT_EQ(aStream_Read(s, buffer, 4), aErrNone);
    EXPECT_EQ(str(buffer, 4), "abcd");
    EXPECT_EQ(aStream_Read(s, buffer, 2), aErrNone);
    EXPECT_EQ(str(buffer, 2), "ef");
    aStream_Destroy(&s);
}

TEST(StreamRead, EndOfDataCopiesThePartialRead) {
    ScriptedTransport t;
    t.queueBytes("ab");
    t.setIdle(aErrEOF);
    aStream* s = t.stream();
    uint8 buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(aStream_Read(s, buffer, 4), aErrEOF);
    EXPECT_EQ(str(buffer, 4), "ab\xEE\xEE");
    aStream_Destroy(&s);
}

TEST(StreamRead, TransportFailureDropsBytesAndLeavesBufferAlone) {
    ScriptedTransport t;
    t.queueBytes("ab");
    t.queueFailure(aErrIO);
    t.queueBytes("c");
    aStream* s = t.stream();
    uint8 buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(aStream_Read(s, buffer, 4), aErrIO);
    EXPECT_EQ(str(buffer, 4), "\xEE\xEE\xEE\xEE");
    EXPECT_EQ(aStream_Read(s, buffer, 1), aErrNone);
    EXPECT_EQ(buffer[0], 'c');
    aStream_Destroy(&s);
}

// Interrupted reads of growing size make the ring wrap and grow several times; every
// byte must still come out once and in order.
TEST(StreamRead, PushBackRingWrapsAndGrowsInOrder) {
    ScriptedTransport t;
    aStream* s = t.stream();
    std::string expected;
    uint32 next = 0;
    auto feed = [&](uint32 n) {
        std::string bytes;
        for (uint32 i = 0; i < n; i++) bytes.push_back(static_cast<char>(next++ % 251));
        t.queueBytes(bytes);
        expected += bytes;
    };
    std::string got;
    std::vector<uint8> buffer(5000);
    const uint32 plan[][2] = {{300, 200}, {700, 1000}, {1200, 1500}, {2000, 100}, {0, 2500}, {5, 2000}};
    for (const auto& step : plan) {
        feed(step[0]);
        uint32 want = step[1];
        aErr err = aStream_Read(s, buffer.data(), want);
        if (err == aErrNone) got += str(buffer.data(), want);
        else EXPECT_EQ(err, aErrNotReady);
    }
    // Drain what is left one byte at a time.
    uint8 byte;
    while (aStream_Read(s, &byte, 1) == aErrNone) got.push_back(static_cast<char>(byte));
    EXPECT_EQ(got, expected);
    aStream_Destroy(&s);
}

TEST(StreamRead, RefusesWhatItCannotDo) {
    ScriptedTransport t;
    aStream* writeOnly = t.stream(false);
    uint8 byte;
    EXPECT_EQ(aStream_Read(writeOnly, &byte, 1), aErrMode);
    EXPECT_EQ(aStream_Read(writeOnly, nullptr, 1), aErrParam);
    EXPECT_EQ(aStream_Read(nullptr, &byte, 1), aErrParam);
    aStream_Destroy(&writeOnly);
    aStream* s = t.stream();
    EXPECT_EQ(aStream_Read(s, &byte, 0), aErrNone);
    aStream_Destroy(&s);
}

TEST(StreamWrite, BufferWriterTakesWholeWritesByteWriterTheRest) {
    struct Case {
        bool byteWriter, bufferWriter;
        std::string data;
        int putCalls, bufferCalls;
    } cases[] = {
        {true, true, "abc", 0, 1},
        {true, true, "a", 1, 0},
        {true, false, "abc", 3, 0},
        {false, true, "a", 0, 1},
    };
    for (const Case& c : cases) {
        ScriptedTransport t;
        aStream* s = t.stream(true, c.byteWriter, c.bufferWriter);
        EXPECT_EQ(aStream_Write(s, reinterpret_cast<const uint8*>(c.data.data()), c.data.size()), aErrNone);
        EXPECT_EQ(t.written(), c.data);
        EXPECT_EQ(t.putByteCalls, c.putCalls) << c.data;
        EXPECT_EQ(t.writeBufferCalls, c.bufferCalls) << c.data;
        aStream_Destroy(&s);
    }
}

TEST(StreamWrite, ByteWriterStopsAtFirstFailure) {
    ScriptedTransport t;
    t.failWriteCall(2, aErrIO);
    aStream* s = t.stream(true, true, false);
    EXPECT_EQ(aStream_Write(s, reinterpret_cast<const uint8*>("abcde"), 5), aErrIO);
    EXPECT_EQ(t.written(), "ab");
    EXPECT_EQ(t.putByteCalls, 3);
    aStream_Destroy(&s);
}

TEST(StreamWrite, RefusesWhatItCannotDo) {
    ScriptedTransport t;
    aStream* readOnly = t.stream(true, false, false);
    EXPECT_EQ(aStream_Write(readOnly, reinterpret_cast<const uint8*>("a"), 1), aErrMode);
    EXPECT_EQ(aStream_Write(readOnly, nullptr, 1), aErrParam);
    EXPECT_EQ(aStream_Write(nullptr, reinterpret_cast<const uint8*>("a"), 1), aErrParam);
    aStream_Destroy(&readOnly);
}

TEST(StreamDestroy, AnswersTransportResultAndClearsPointer) {
    ScriptedTransport t;
    t.destroyResult = aErrIO;
    aStream* s = t.stream();
    EXPECT_EQ(aStream_Destroy(&s), aErrIO);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(t.destroyCalls, 1);
    EXPECT_EQ(aStream_Destroy(&s), aErrParam);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(aStream_Destroy(nullptr), aErrParam);
    EXPECT_EQ(t.destroyCalls, 1);
}

TEST(StreamDestroy, ForeignRecordIsRefusedAndPointerCleared) {
    uint64 notAStream[16] = {};
    aStream* s = reinterpret_cast<aStream*>(notAStream);
    uint8 byte;
    EXPECT_EQ(aStream_Read(s, &byte, 1), aErrParam);
    EXPECT_EQ(aStream_Destroy(&s), aErrParam);
    EXPECT_EQ(s, nullptr);
}

} // namespace
