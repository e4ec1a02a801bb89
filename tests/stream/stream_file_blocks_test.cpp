// File streams move bytes in blocks: copies are quick, bytes land in order, and a
// failure to write reaches the caller at the latest on destroy.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "TempDir.h"
#include "aStream.h"
#include "stream_test_util.h"

namespace {

std::string pattern(size_t length, unsigned seed) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; i++)
        bytes[i] = static_cast<char>((i * 2654435761u + seed) >> 13);
    return bytes;
}

// Runs body in a child process and waits for it at most timeoutMs, so a copy that
// falls back to a system call per byte fails the test instead of stalling it. The
// child's exit status, or -1 when it ran out of time (it is killed then).
int runBounded(const std::function<int()>& body, int timeoutMs) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

aErr copyFile(const std::string& from, const std::string& to) {
    aStream* input = nullptr;
    aStream* output = nullptr;
    aErr err = aStream_CreateFileInput(from.c_str(), &input);
    if (err == aErrNone) err = aStream_CreateFileOutput(to.c_str(), &output);
    if (err == aErrNone) err = aStream_Flush(input, output);
    aErr closedIn = aStream_Destroy(&input);
    aErr closedOut = aStream_Destroy(&output);
    return err != aErrNone ? err : closedIn != aErrNone ? closedIn : closedOut;
}

TEST(FileStreamBlocks, FlushCopiesAMebibyteWellUnderASecond) {
    TempDir dir;
    const std::string content = pattern(1 << 20, 7);
    const std::string source = dir.write("in.bin", content);
    const int status = runBounded([&] { return copyFile(source, dir / "out.bin"); }, 1000);
    ASSERT_EQ(status, aErrNone) << "-1: the copy took longer than a second";
    EXPECT_TRUE(TempDir::read(dir / "out.bin") == content) << "the copy differs from its source";
}

// Single bytes, short runs and a run longer than a block, crossing block borders: the
// file holds them in order, a prefix of them while the stream is open and all of them
// once it is destroyed.
TEST(FileStreamBlocks, OutputKeepsOrderAcrossBlocks) {
    TempDir dir;
    const std::string path = dir / "out.bin";
    aStream* s = nullptr;
    ASSERT_EQ(aStream_CreateFileOutput(path.c_str(), &s), aErrNone);
    const std::string runs[] = {"a", pattern(65535, 1), "b", "cd", pattern(200000, 2),
                                "e", pattern(70000, 3)};
    std::string expected;
    for (const std::string& run : runs) {
        ASSERT_EQ(writeText(s, run), aErrNone);
        expected += run;
        const std::string sofar = TempDir::read(path);
        EXPECT_TRUE(expected.compare(0, sofar.size(), sofar) == 0)
            << "the file is no prefix of what was written";
    }
    for (char c : std::string("xyz")) {
        ASSERT_EQ(aStream_Write(s, reinterpret_cast<const uint8*>(&c), 1), aErrNone);
        expected += c;
    }
    EXPECT_EQ(aStream_Destroy(&s), aErrNone);
    EXPECT_TRUE(TempDir::read(path) == expected);
}

// A device that refuses every byte (/dev/full): the failure reaches the caller, at the
// latest from destroy, and once a block is lost nothing later is written. One that
// accepts everything and cannot be synced (/dev/null) is no failure.
TEST(FileStreamBlocks, WriteFailureReachesTheCaller) {
    struct Case {
        const char* device;
        size_t length;
        aErr write, destroy;
    } cases[] = {
        {"/dev/full", 10, aErrNone, aErrWrite},
        {"/dev/full", 100000, aErrWrite, aErrWrite},
        {"/dev/null", 100000, aErrNone, aErrNone},
    };
    for (const Case& c : cases) {
        aStream* s = nullptr;
        ASSERT_EQ(aStream_CreateFileOutput(c.device, &s), aErrNone) << c.device;
        EXPECT_EQ(writeText(s, pattern(c.length, 4)), c.write) << c.device << " " << c.length;
        EXPECT_EQ(writeText(s, "z"), c.write) << c.device << " " << c.length;
        EXPECT_EQ(aStream_Destroy(&s), c.destroy) << c.device << " " << c.length;
    }
}

// Reads cross buffer borders in pieces of any size, and bytes appended after the end
// was reached are read next.
TEST(FileStreamBlocks, InputReadsAcrossBuffersAndPastAnEarlierEnd) {
    TempDir dir;
    const std::string first = pattern(10000, 5), more = pattern(5000, 6);
    const std::string path = dir.write("in.bin", first);
    aStream* s = nullptr;
    ASSERT_EQ(aStream_CreateFileInput(path.c_str(), &s), aErrNone);
    std::string got;
    uint8 piece[97];
    aErr err;
    while ((err = aStream_Read(s, piece, sizeof piece)) == aErrNone)
        got.append(reinterpret_cast<char*>(piece), sizeof piece);
    EXPECT_EQ(err, aErrEOF);
    got.append(reinterpret_cast<char*>(piece), first.size() % sizeof piece);
    EXPECT_TRUE(got == first);

    std::ofstream(path, std::ios::binary | std::ios::app) << more;
    EXPECT_TRUE(readPolling(s, more.size() + 1, 0, &err) == more);
    EXPECT_EQ(err, aErrEOF);
    aStream_Destroy(&s);
}

} // namespace
