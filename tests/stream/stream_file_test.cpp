#include <gtest/gtest.h>

#include <string>

#include "TempDir.h"
#include "aStream.h"
#include "stream_test_util.h"

namespace {

TEST(FileStream, FlushCopiesAWholeFile) {
    TempDir dir;
    std::string content;
    for (int i = 0; i < 3000; i++) content.push_back(static_cast<char>(i * 13 % 256));
    std::string source = dir.write("in.bin", content);
    aStream* input = nullptr;
    aStream* output = nullptr;
    ASSERT_EQ(aStream_CreateFileInput(source.c_str(), &input), aErrNone);
    ASSERT_EQ(aStream_CreateFileOutput((dir / "out.bin").c_str(), &output), aErrNone);
    EXPECT_EQ(aStream_Flush(input, output), aErrNone);
    EXPECT_EQ(aStream_Destroy(&input), aErrNone);
    EXPECT_EQ(aStream_Destroy(&output), aErrNone);
    EXPECT_EQ(TempDir::read(dir / "out.bin"), content);
}

TEST(FileStream, InputReadsToTheEndAndIsReadOnly) {
    TempDir dir;
    std::string path = dir.write("in.txt", std::string("line one\r\nab\0", 13));
    aStream* s = nullptr;
    ASSERT_EQ(aStream_CreateFileInput(path.c_str(), &s), aErrNone);
    char text[32];
    EXPECT_EQ(aStream_ReadCStringRecord(s, text, sizeof text, "\r\n"), aErrNone);
    EXPECT_STREQ(text, "line one");
    EXPECT_EQ(aStream_ReadCString(s, text, sizeof text), aErrNone);
    EXPECT_STREQ(text, "ab");
    uint8 bytes[4] = {0xEE};
    EXPECT_EQ(aStream_Read(s, bytes, 4), aErrEOF);
    EXPECT_EQ(bytes[0], 0xEE);
    EXPECT_EQ(writeText(s, "x"), aErrMode);
    aStream_Destroy(&s);
}

TEST(FileStream, OutputTruncatesAndIsWriteOnly) {
    TempDir dir;
    std::string path = dir.write("out.txt", "old content that must go");
    aStream* s = nullptr;
    ASSERT_EQ(aStream_CreateFileOutput(path.c_str(), &s), aErrNone);
    EXPECT_EQ(aStream_WriteCStringRecord(s, "new", "\n"), aErrNone);
    EXPECT_EQ(writeText(s, "!"), aErrNone);
    uint8 byte;
    EXPECT_EQ(aStream_Read(s, &byte, 1), aErrMode);
    aStream_Destroy(&s);
    EXPECT_EQ(TempDir::read(path), std::string("new\n\0!", 6));
}

TEST(FileStream, ReadFailureIsReadError) {
    aStream* s = nullptr;
    // Opens for reading, but reading at offset 0 (unmapped memory) fails.
    ASSERT_EQ(aStream_CreateFileInput("/proc/self/mem", &s), aErrNone);
    uint8 byte;
    EXPECT_EQ(aStream_Read(s, &byte, 1), aErrRead);
    aStream_Destroy(&s);
}

TEST(FileStream, CreationFailures) {
    TempDir dir;
    std::string tooLong = dir / std::string(300, 'a');
    struct Case {
        bool input;
        const char* path;
    } cases[] = {
        {true, nullptr},
        {false, nullptr},
        {true, "/no/such/dir/file"},
        {false, "/no/such/dir/file"},
        {false, tooLong.c_str()},
    };
    for (const Case& c : cases) {
        aStream* s = reinterpret_cast<aStream*>(&dir);
        aErr err = c.input ? aStream_CreateFileInput(c.path, &s) : aStream_CreateFileOutput(c.path, &s);
        EXPECT_EQ(err, aErrResource) << (c.path ? c.path : "NULL");
        EXPECT_EQ(s, nullptr);
    }
    EXPECT_EQ(aStream_CreateFileInput((dir / "x").c_str(), nullptr), aErrResource);
}

} // namespace
