#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <thread>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "aStream.h"
#include "aStreamDescriptorIO.h"
#include "aTime.h"
#include "stream_test_util.h"

namespace {

struct Pair {
    aStream* stream = nullptr;
    int peer = -1;
    Pair() {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        EXPECT_EQ(aStream_CreateDescriptor(fds[0], &stream), aErrNone);
        peer = fds[1];
    }
    ~Pair() {
        aStream_Destroy(&stream);
        if (peer >= 0) close(peer);
    }
};

TEST(DescriptorStream, CarriesBytesBothWaysWithoutBlocking) {
    Pair p;
    uint8 byte;
    EXPECT_EQ(aStream_Read(p.stream, &byte, 1), aErrNotReady);
    EXPECT_EQ(writeText(p.stream, "abc"), aErrNone);
    char got[3];
    ASSERT_EQ(read(p.peer, got, 3), 3);
    EXPECT_EQ(std::string(got, 3), "abc");
    ASSERT_EQ(write(p.peer, "xyz", 3), 3);
    EXPECT_EQ(readPolling(p.stream, 3), "xyz");
}

TEST(DescriptorStream, PeerGoneReadsEndAndWritesFailWithoutSignal) {
    Pair p;
    ASSERT_EQ(write(p.peer, "z", 1), 1);
    close(p.peer);
    p.peer = -1;
    uint8 bytes[2];
    EXPECT_EQ(aStream_Read(p.stream, bytes, 2), aErrEOF);
    EXPECT_EQ(bytes[0], 'z');
    EXPECT_EQ(aStream_Read(p.stream, bytes, 1), aErrEOF);
    EXPECT_EQ(writeText(p.stream, "lost"), aErrIO);
}

// A pipe whose reader has gone raises SIGPIPE on write, which would end the process:
// the stream answers aErrIO instead, and leaves a SIGPIPE that was already waiting.
TEST(DescriptorStream, WriteToPipeWithoutReaderFailsWithoutSignal) {
    auto previous = signal(SIGPIPE, SIG_DFL);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    aStream* stream = nullptr;
    ASSERT_EQ(aStream_CreateDescriptor(fds[1], &stream), aErrNone);
    EXPECT_EQ(writeText(stream, "lost"), aErrIO);
    uint32 written = 0;
    EXPECT_EQ(aStream_TryWrite(stream, reinterpret_cast<const uint8*>("x"), 1, &written), aErrIO);
    sigset_t pipeOnly, before, pending;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &before);
    raise(SIGPIPE);
    EXPECT_EQ(writeText(stream, "lost"), aErrIO);
    sigpending(&pending);
    EXPECT_TRUE(sigismember(&pending, SIGPIPE)) << "someone else's signal stays";
    timespec none = {0, 0};
    sigtimedwait(&pipeOnly, nullptr, &none);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    aStream_Destroy(&stream);
    signal(SIGPIPE, previous);
}

TEST(DescriptorStream, RefusesBadArguments) {
    aStream* s = nullptr;
    EXPECT_EQ(aStream_CreateDescriptor(-1, &s), aErrParam);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_EQ(aStream_CreateDescriptor(fds[0], nullptr), aErrParam);
    EXPECT_EQ(fcntl(fds[0], F_GETFD), 0) << "descriptor must stay open after a refusal";
    close(fds[0]);
    close(fds[1]);
}

TEST(DescriptorWrite, WaitForRoomIsBounded) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
    std::vector<uint8> big(8 * 1024 * 1024, 1);
    uint32 start = aTime_GetMSTicks();
    EXPECT_EQ(aStreamDescriptor_WriteAll(fds[0], big.data(), big.size(), 200), aErrIO);
    EXPECT_EQ(errno, ETIMEDOUT);
    uint32 elapsed = aTime_GetMSTicks() - start;
    EXPECT_GE(elapsed, 190u);
    EXPECT_LT(elapsed, 1500u);
    close(fds[0]);
    close(fds[1]);
}

} // namespace

namespace {

// A write that never waits: what the descriptor takes at once, nothing once it is
// full; transports without one say so.
TEST(DescriptorStream, TryWriteTakesWhatGoesAtOnce) {
    Pair p;
    const uint8 packet[] = {0x04, 0x01, 0x63};
    uint32 written = 99;
    EXPECT_EQ(aStream_TryWrite(p.stream, packet, sizeof packet, &written), aErrNone);
    EXPECT_EQ(written, 3u);
    std::vector<uint8> chunk(512, 0x55);
    uint32 start = aTime_GetMSTicks();
    while (aStream_TryWrite(p.stream, chunk.data(), chunk.size(), &written) == aErrNone)
        ASSERT_LT(aTime_GetMSTicks() - start, 2000u);
    EXPECT_EQ(aStream_TryWrite(p.stream, packet, sizeof packet, &written), aErrNotReady) << "full";
    EXPECT_EQ(written, 0u);
    EXPECT_LT(aTime_GetMSTicks() - start, 2000u);
    std::vector<uint8> big(1024, 0);
    EXPECT_EQ(aStream_TryWrite(p.stream, big.data(), big.size(), &written), aErrNotReady) << "too big";

    aStreamWriteBufferProc sink = [](const uint8*, uint32, void*) -> aErr { return aErrNone; };
    aStream* noTry = aStream_Create(nullptr, nullptr, sink, nullptr, nullptr);
    EXPECT_EQ(aStream_TryWrite(noTry, packet, sizeof packet, &written), aErrUnimplemented);
    EXPECT_EQ(aStream_Interrupt(noTry), aErrUnimplemented);
    aStream_Destroy(&noTry);
}

// An interruption from another thread ends a write waiting for room and an input wait
// at once, and later ones no longer wait.
TEST(DescriptorStream, InterruptionEndsEveryWait) {
    Pair p;
    std::vector<uint8> big(8 * 1024 * 1024, 1);
    aErr written = aErrUnknown;
    uint32 start = aTime_GetMSTicks();
    std::thread writer([&] { written = aStream_Write(p.stream, big.data(), big.size()); });
    aTime_MSSleep(50);
    EXPECT_EQ(aStream_Interrupt(p.stream), aErrNone);
    writer.join();
    EXPECT_EQ(written, aErrCancel);
    EXPECT_LT(aTime_GetMSTicks() - start, 1000u);
    start = aTime_GetMSTicks();
    EXPECT_EQ(aStream_AwaitInput(p.stream, 2000), aErrCancel);
    EXPECT_EQ(aStream_Write(p.stream, big.data(), big.size()), aErrCancel);
    EXPECT_LT(aTime_GetMSTicks() - start, 500u);
}

} // namespace
