#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <thread>
#include <vector>

#include "aStream.h"
#include "aTime.h"
#include "loopback_listener.h"
#include "stream_test_util.h"

namespace {

struct Connected {
    LoopbackListener listener;
    aStream* stream = nullptr;
    int peer = -1;

    Connected() {
        EXPECT_EQ(aStream_CreateSocket(LoopbackListener::address(), listener.port(), &stream), aErrNone);
        peer = listener.accept();
        EXPECT_GE(peer, 0);
    }
    ~Connected() {
        aStream_Destroy(&stream);
        if (peer >= 0) close(peer);
    }
};

TEST(SocketStream, CarriesBytesBothWays) {
    Connected c;
    EXPECT_EQ(writeText(c.stream, "hello"), aErrNone);
    EXPECT_EQ(LoopbackListener::receive(c.peer, 5), "hello");
    uint8 byte = 'x';
    EXPECT_EQ(aStream_Write(c.stream, &byte, 1), aErrNone);
    EXPECT_EQ(LoopbackListener::receive(c.peer, 1), "x");

    uint8 none;
    EXPECT_EQ(aStream_Read(c.stream, &none, 1), aErrNotReady);
    ASSERT_EQ(send(c.peer, "world!", 6, 0), 6);
    EXPECT_EQ(readPolling(c.stream, 6), "world!");
    EXPECT_EQ(aStream_Read(c.stream, &none, 1), aErrNotReady);
}

TEST(SocketStream, LargeReadsAcrossManyBuffersKeepOrder) {
    Connected c;
    std::string sent;
    for (int i = 0; i < 20000; i++)
        sent.push_back(static_cast<char>(i * 7 % 256));
    ASSERT_EQ(send(c.peer, sent.data(), sent.size(), 0), static_cast<ssize_t>(sent.size()));
    std::string got;
    std::vector<uint8> chunk(333);
    uint32 start = aTime_GetMSTicks();
    while (got.size() + chunk.size() <= sent.size() && aTime_GetMSTicks() - start < 2000) {
        if (aStream_Read(c.stream, chunk.data(), chunk.size()) == aErrNone)
            got.append(reinterpret_cast<char*>(chunk.data()), chunk.size());
    }
    got += readPolling(c.stream, sent.size() - got.size());
    EXPECT_EQ(got, sent);
}

TEST(SocketStream, CreationFailures) {
    aStream* s = nullptr;
    EXPECT_EQ(aStream_CreateSocket(LoopbackListener::address(), 1, nullptr), aErrResource);
    LoopbackListener closed;
    uint16 port = closed.port();
    closed.stop();
    EXPECT_EQ(aStream_CreateSocket(LoopbackListener::address(), port, &s), aErrResource);
    EXPECT_EQ(s, nullptr);
}

// A peer that closes its side (a module rebooting) is noticed by the next read, which
// connects again at once; the new connection starts with the preamble.
TEST(SocketStream, PeerCloseIsNoticedAndTheConnectionRenewedWithThePreamble) {
    Connected c;
    const uint8 preamble[] = {0xAF, 0x01, 0x01};
    ASSERT_EQ(aStream_SetPreamble(c.stream, preamble, sizeof preamble), aErrNone);
    close(c.peer);
    c.peer = -1;
    aTime_MSSleep(20);
    uint8 byte;
    EXPECT_EQ(aStream_Read(c.stream, &byte, 1), aErrNotReady);
    c.peer = c.listener.accept(1000);
    ASSERT_GE(c.peer, 0) << "renewed without any write";
    EXPECT_EQ(writeText(c.stream, "after"), aErrNone);
    EXPECT_EQ(LoopbackListener::receive(c.peer, 8, 500), std::string("\xAF\x01\x01") + "after");
    ASSERT_EQ(send(c.peer, "back", 4, 0), 4);
    EXPECT_EQ(readPolling(c.stream, 4), "back");
    EXPECT_EQ(c.listener.accept(100), -1) << "one close, one new connection";
}

// A write finds a closed peer before it sends: the bytes go over a new connection
// instead of being lost on the old one.
TEST(SocketStream, WriteToClosedPeerGoesOverANewConnection) {
    Connected c;
    close(c.peer);
    c.peer = -1;
    aTime_MSSleep(20);
    EXPECT_EQ(writeText(c.stream, "request"), aErrNone);
    c.peer = c.listener.accept(1000);
    ASSERT_GE(c.peer, 0);
    EXPECT_EQ(LoopbackListener::receive(c.peer, 7, 500), "request");
}

TEST(SocketStream, ResetFoundByReadReconnectsOnce) {
    Connected c;
    LoopbackListener::resetConnection(c.peer);
    c.peer = -1;
    aTime_MSSleep(20);
    uint8 byte;
    EXPECT_EQ(aStream_Read(c.stream, &byte, 1), aErrNotReady);
    c.peer = c.listener.accept(1000);
    ASSERT_GE(c.peer, 0);
    EXPECT_EQ(c.listener.accept(100), -1);
    ASSERT_EQ(send(c.peer, "new", 3, 0), 3);
    EXPECT_EQ(readPolling(c.stream, 3), "new");
    EXPECT_EQ(writeText(c.stream, "ok"), aErrNone);
    EXPECT_EQ(LoopbackListener::receive(c.peer, 2), "ok");
}

// The link engine reads and writes from two threads; a reset seen by both must lead to
// one new connection that both then use.
TEST(SocketStream, ReaderAndWriterThreadsShareOneReconnection) {
    Connected c;
    std::atomic<bool> stop{false};
    std::string received;
    std::thread reader([&] {
        uint32 start = aTime_GetMSTicks();
        while (!stop && received.find("done") == std::string::npos && aTime_GetMSTicks() - start < 3000) {
            uint8 byte;
            if (aStream_Read(c.stream, &byte, 1) == aErrNone)
                received.push_back(static_cast<char>(byte));
            else
                aTime_MSSleep(1);
        }
    });
    std::thread writer([&] {
        while (!stop) {
            writeText(c.stream, "x");
            aTime_MSSleep(2);
        }
    });
    aTime_MSSleep(20);
    LoopbackListener::resetConnection(c.peer);
    c.peer = c.listener.accept(1000);
    EXPECT_GE(c.peer, 0);
    if (c.peer >= 0) {
        EXPECT_EQ(send(c.peer, "done", 4, 0), 4);
    }
    reader.join();
    stop = true;
    writer.join();
    EXPECT_NE(received.find("done"), std::string::npos);
    EXPECT_EQ(c.listener.accept(100), -1) << "one reset, one reconnection";
    EXPECT_FALSE(LoopbackListener::receive(c.peer, 1).empty())
        << "the writer goes on over the new connection";
}

// A write cut off part way by a reset goes out whole over the new connection: its peer
// must not begin on the tail of what the old one received.
TEST(SocketStream, WriteInterruptedByResetStartsAgainOnTheNewConnection) {
    Connected c;
    int small = 4096;
    setsockopt(c.peer, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    std::string data;
    for (int i = 0; i < 16 * 1024 * 1024; i++)
        data.push_back(static_cast<char>(i % 251));
    aErr written = aErrUnknown;
    std::thread writer([&] { written = writeText(c.stream, data); });
    aTime_MSSleep(150); // the writer has filled the connection and waits for room
    LoopbackListener::resetConnection(c.peer);
    c.peer = c.listener.accept(2000);
    std::string got;
    if (c.peer >= 0) got = LoopbackListener::receive(c.peer, data.size(), 2000);
    writer.join();
    ASSERT_GE(c.peer, 0);
    EXPECT_EQ(written, aErrNone);
    ASSERT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data) << "first byte received: " << int(static_cast<uint8>(got[0]));
}

TEST(SocketStream, FailedReconnectionIsTriedAgainAtTheNextUse) {
    Connected c;
    c.listener.stop();
    LoopbackListener::resetConnection(c.peer);
    c.peer = -1;
    aTime_MSSleep(20);
    uint8 byte;
    EXPECT_EQ(aStream_Read(c.stream, &byte, 1), aErrConnection);
    EXPECT_EQ(aStream_Read(c.stream, &byte, 1), aErrConnection);
    EXPECT_EQ(writeText(c.stream, "x"), aErrConnection);
    // The module is back: the next use connects.
    LoopbackListener again(c.listener.port());
    EXPECT_EQ(writeText(c.stream, "y"), aErrNone);
    c.peer = again.accept(1000);
    ASSERT_GE(c.peer, 0);
    EXPECT_EQ(LoopbackListener::receive(c.peer, 1), "y");
}

// The rest of a packet whose start a write without waiting put on a connection that
// then broke must not open the next connection: the new peer would begin on a tail.
TEST(SocketStream, RestOfAPacketBegunOnABrokenConnectionIsNotSentToTheNextPeer) {
    Connected c;
    const uint8 preamble[] = {0xAF, 0x01, 0x01};
    ASSERT_EQ(aStream_SetPreamble(c.stream, preamble, sizeof preamble), aErrNone);
    const uint8 packet[30] = {0x04, 28, 0x63};
    uint32 written = sizeof packet;
    for (int i = 0; i < 1000000 && written == sizeof packet; i++)
        aStream_TryWrite(c.stream, packet, sizeof packet, &written);
    ASSERT_GT(written, 0u) << "the connection filled up exactly at a packet's end";
    ASSERT_LT(written, sizeof packet);
    LoopbackListener::resetConnection(c.peer);
    c.peer = -1;
    aTime_MSSleep(20);
    aStream_Write(c.stream, packet + written, sizeof packet - written);
    c.peer = c.listener.accept(1000);
    ASSERT_GE(c.peer, 0);
    EXPECT_EQ(LoopbackListener::receive(c.peer, 64, 200), "\xAF\x01\x01") << "the preamble alone";
}

// A closed peer whose last bytes the reader has not taken yet: the writer waits for the
// reader to take them and renew the connection, then sends over the new one.
TEST(SocketStream, WriteWaitsForTheReaderToRenewAClosedConnection) {
    Connected c;
    ASSERT_EQ(send(c.peer, "bye", 3, 0), 3);
    close(c.peer);
    c.peer = -1;
    aTime_MSSleep(20);
    aErr written = aErrUnknown;
    std::thread writer([&] { written = writeText(c.stream, "request"); });
    aTime_MSSleep(150);
    EXPECT_EQ(readPolling(c.stream, 3), "bye");
    uint8 byte;
    aStream_Read(c.stream, &byte, 1);
    writer.join();
    EXPECT_EQ(written, aErrNone);
    c.peer = c.listener.accept(1000);
    ASSERT_GE(c.peer, 0);
    EXPECT_EQ(LoopbackListener::receive(c.peer, 7, 500), "request");
}

// A signal that lands while a connection is being made does not pass for success.
TEST(SocketStream, SignalDuringConnectionIsNotTakenForAConnection) {
    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = [](int) {};
    ASSERT_EQ(sigaction(SIGUSR1, &ignore, &previous), 0);
    // A listener whose backlog is full: the next connection waits for its handshake.
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = LoopbackListener::address();
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    std::vector<int> waiting;
    for (int i = 0; i < 4; i++) {
        waiting.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        connect(waiting.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    aTime_MSSleep(50);
    aStream* stream = nullptr;
    aErr created = aErrUnknown;
    std::thread connecting(
        [&] { created = aStream_CreateSocket(address.sin_addr.s_addr, ntohs(address.sin_port), &stream); });
    aTime_MSSleep(100);
    pthread_kill(connecting.native_handle(), SIGUSR1);
    connecting.join();
    EXPECT_EQ(created, aErrResource) << "the handshake never completed";
    aStream_Destroy(&stream);
    for (int fd : waiting)
        close(fd);
    close(listener);
    sigaction(SIGUSR1, &previous, nullptr);
}

TEST(SocketStream, WriteToStalledPeerGivesUpAfterTenAttempts) {
    Connected c;
    int small = 4096;
    setsockopt(c.peer, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    std::vector<uint8> big(64 * 1024 * 1024, 0x55);
    uint32 start = aTime_GetMSTicks();
    EXPECT_EQ(aStream_Write(c.stream, big.data(), big.size()), aErrBusy);
    uint32 elapsed = aTime_GetMSTicks() - start;
    EXPECT_GE(elapsed, 9u * 60u);
    EXPECT_LT(elapsed, 3000u);
}

} // namespace
