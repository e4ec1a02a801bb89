#include <gtest/gtest.h>

#include <cerrno>

#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "aFile.h"

namespace {

struct OpenFile {
    aFile* file;
    explicit OpenFile(const std::string& path, int mode) : file(aFile_Open(path.c_str(), mode)) {}
    ~OpenFile() {
        if (file) aFile_Close(&file);
    }
};

} // namespace

TEST(File, OpenRefusesBadArguments) {
    TempDir dir;
    EXPECT_EQ(aFile_Open(nullptr, aFileModeRead), nullptr);
    EXPECT_EQ(aFile_Open((dir / "missing").c_str(), aFileModeRead), nullptr);
    EXPECT_EQ(aFile_Open((dir / "x").c_str(), 3), nullptr);
    EXPECT_EQ(aFile_Open(dir.path().c_str(), aFileModeRead), nullptr) << "a directory is not a file";
    EXPECT_EQ(errno, EISDIR);
    std::string longPath = dir.path() + "/" + std::string(300, 'a');
    EXPECT_EQ(aFile_Open(longPath.c_str(), aFileModeWrite), nullptr);
    EXPECT_EQ(errno, ENAMETOOLONG) << "callers log errno of a failed open";
}

TEST(File, CloseClearsHandleAndRefusesTwice) {
    TempDir dir;
    aFile* file = aFile_Open((dir / "f").c_str(), aFileModeWrite);
    ASSERT_NE(file, nullptr);
    aFile* copy = file;
    EXPECT_EQ(aFile_Close(&file), aErrNone);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(aFile_Close(&file), aErrParam);
    EXPECT_EQ(aFile_Close(nullptr), aErrParam);
    (void)copy;
}

TEST(File, ModesGateReadAndWrite) {
    TempDir dir;
    std::string path = dir.write("f", "hello");
    uint8 buf[8];
    uint32 n = 99;
    {
        OpenFile r(path, aFileModeRead);
        EXPECT_EQ(aFile_Write(r.file, buf, 1, &n), aErrMode);
        EXPECT_EQ(aFile_Printf(r.file, "x"), aErrMode);
    }
    {
        OpenFile w(path, aFileModeWrite);  // truncates
        EXPECT_EQ(aFile_Read(w.file, buf, 1, &n), aErrMode);
        EXPECT_EQ(aFile_Printf(w.file, "%s-%d", "ab", 7), aErrNone);
    }
    EXPECT_EQ(TempDir::read(path), "ab-7");
    {
        OpenFile a(path, aFileModeAppend);
        EXPECT_EQ(aFile_Write(a.file, reinterpret_cast<const uint8*>("!!"), 2, &n), aErrNone);
        EXPECT_EQ(n, 2u);
        uint32 size = 0;
        EXPECT_EQ(aFile_GetSize(a.file, &size), aErrNone);
        EXPECT_EQ(size, 6u);
        EXPECT_EQ(aFile_Seek(a.file, 0, 0), aErrNone);
        EXPECT_EQ(aFile_Read(a.file, buf, 6, &n), aErrNone);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), n), "ab-7!!");
        EXPECT_EQ(aFile_SetUnbuffered(a.file), aErrMode);
    }
}

TEST(File, ReadAtEndAndZeroLength) {
    TempDir dir;
    OpenFile f(dir.write("f", "abc"), aFileModeRead);
    uint8 buf[10];
    uint32 n = 7;
    EXPECT_EQ(aFile_Seek(f.file, 0, 2), aErrNone);
    EXPECT_EQ(aFile_Read(f.file, buf, 10, &n), aErrEOF);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(aFile_Read(f.file, buf, 0, &n), aErrNone);
    EXPECT_EQ(aFile_Read(f.file, nullptr, 1, &n), aErrParam);
}

TEST(File, SeekBounds) {
    TempDir dir;
    OpenFile f(dir.write("f", "0123456789"), aFileModeRead);
    struct Case {
        int32 offset;
        int origin;
        aErr result;
    } cases[] = {{0, 2, aErrNone}, {1, 2, aErrRange}, {-1, 0, aErrRange}, {10, 0, aErrNone},
                 {-10, 2, aErrNone}, {-11, 2, aErrRange}, {3, 7, aErrNone} /* unknown origin = start */};
    for (const Case& c : cases) EXPECT_EQ(aFile_Seek(f.file, c.offset, c.origin), c.result) << c.offset;
    uint32 at = 0;
    EXPECT_EQ(aFile_GetPosition(f.file, &at), aErrNone);
    EXPECT_EQ(at, 3u);
    EXPECT_EQ(aFile_Seek(f.file, 2, 1), aErrNone);
    EXPECT_EQ(aFile_GetPosition(f.file, &at), aErrNone);
    EXPECT_EQ(at, 5u);
}

TEST(File, ReadLineSplitsLongLinesAndKeepsPosition) {
    TempDir dir;
    OpenFile f(dir.write("f", "abcdefg\nxy\r\nend"), aFileModeRead);
    char buf[5];
    uint32 len = 0;
    EXPECT_EQ(aFile_ReadLine(f.file, buf, 5, &len), aErrOverrun);
    EXPECT_STREQ(buf, "abcd");
    EXPECT_EQ(aFile_ReadLine(f.file, buf, 5, &len), aErrNone);
    EXPECT_STREQ(buf, "efg\n");
    EXPECT_EQ(len, 4u);
    EXPECT_EQ(aFile_ReadLine(f.file, buf, 5, &len), aErrNone);
    EXPECT_STREQ(buf, "xy\r\n");
    EXPECT_EQ(aFile_ReadLine(f.file, buf, 5, &len), aErrNone) << "last line without a line feed";
    EXPECT_STREQ(buf, "end");
    EXPECT_EQ(aFile_ReadLine(f.file, buf, 5, &len), aErrEOF);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(aFile_ReadLine(f.file, buf, 1, &len), aErrSize);
}

TEST(File, PrintfLimitAndExistsAndDelete) {
    TempDir dir;
    std::string path = dir / "f";
    {
        OpenFile f(path, aFileModeWrite);
        std::string big(65536, 'x');
        EXPECT_EQ(aFile_Printf(f.file, "%s", big.c_str()), aErrIO);
        big.pop_back();
        EXPECT_EQ(aFile_Printf(f.file, "%s", big.c_str()), aErrNone);
    }
    EXPECT_EQ(TempDir::read(path).size(), 65535u);
    EXPECT_TRUE(aFile_Exists(path.c_str()));
    EXPECT_FALSE(aFile_Exists(dir.path().c_str()));
    EXPECT_EQ(aFile_Delete(path.c_str()), aErrNone);
    EXPECT_FALSE(aFile_Exists(path.c_str()));
    EXPECT_EQ(aFile_Delete(path.c_str()), aErrNotFound);
    EXPECT_EQ(aFile_Delete(nullptr), aErrParam);
}

TEST(File, PrintfFromManyThreadsKeepsEachLineWhole) {
    TempDir dir;
    std::string path = dir / "log";
    {
        OpenFile f(path, aFileModeAppend);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < 50; ++i) aFile_Printf(f.file, "thread %d line %03d\n", t, i);
            });
        for (auto& th : threads) th.join();
    }
    std::string text = TempDir::read(path);
    EXPECT_EQ(text.size(), 4u * 50u * std::string("thread 0 line 000\n").size());
    for (int t = 0; t < 4; ++t)
        EXPECT_NE(text.find("thread " + std::to_string(t) + " line 049\n"), std::string::npos);
}
