#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
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
