// The frame queue between link-sharing threads, and the client stream that writes
// through it without waiting.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ShareFixtures.h"
#include "aShareQueue.h"
#include "aStream_ZeroMQClient.h"

using namespace ShareTest;

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes sTake(aShareQueue* queue) {
    zframe_t* frame = aShareQueue_Take(queue);
    if (!frame) return {};
    Bytes bytes(zframe_data(frame), zframe_data(frame) + zframe_size(frame));
    zframe_destroy(&frame);
    return bytes;
}

bool sReadable(const aShareQueue* queue) {
    pollfd item = {aShareQueue_Descriptor(queue), POLLIN, 0};
    return poll(&item, 1, 0) == 1;
}

TEST(ShareQueue, FramesKeepTheirBoundariesOrderAndTheDescriptorTellsWhenOneWaits) {
    aShareQueue* queue = aShareQueue_Create(2);
    ASSERT_NE(queue, nullptr);
    EXPECT_FALSE(sReadable(queue));
    const Bytes first = {4, 1, 23}, second = {4, 0};
    EXPECT_EQ(aShareQueue_Put(queue, first.data(), first.size(), 0), aErrNone);
    EXPECT_EQ(aShareQueue_Put(queue, second.data(), second.size(), 0), aErrNone);
    EXPECT_EQ(aShareQueue_Put(queue, first.data(), first.size(), 2), aErrBusy) << "full";
    EXPECT_TRUE(sReadable(queue));
    EXPECT_TRUE(aShareQueue_Await(queue, 0));
    EXPECT_EQ(sTake(queue), first);
    EXPECT_TRUE(sReadable(queue)) << "a frame still waits";
    EXPECT_EQ(sTake(queue), second);
    EXPECT_FALSE(sReadable(queue));
    EXPECT_EQ(aShareQueue_Take(queue), nullptr);
    aShareQueue_Destroy(&queue);
    EXPECT_EQ(queue, nullptr);
}

// A command and its replies go as one: all of them, or (no room) none.
TEST(ShareQueue, FramesPutTogetherGoAllOrNone) {
    aShareQueue* queue = aShareQueue_Create(3);
    ASSERT_NE(queue, nullptr);
    const uint8_t one[] = {1}, two[] = {2, 2}, three[] = {3, 3, 3};
    zframe_t* tooMany[] = {zframe_new(one, 1), zframe_new(two, 2), zframe_new(three, 3), zframe_new(one, 1)};
    EXPECT_EQ(aShareQueue_PutFrames(queue, tooMany, 4, 0), aErrBusy);
    EXPECT_FALSE(sReadable(queue));
    zframe_t* fit[] = {zframe_new(two, 2), zframe_new(three, 3)};
    EXPECT_EQ(aShareQueue_PutFrames(queue, fit, 2, 0), aErrNone);
    zframe_t* overflow[] = {zframe_new(one, 1), zframe_new(one, 1)};
    EXPECT_EQ(aShareQueue_PutFrames(queue, overflow, 2, 1), aErrBusy) << "one place left for two";
    EXPECT_EQ(sTake(queue), (Bytes{2, 2}));
    EXPECT_EQ(sTake(queue), (Bytes{3, 3, 3}));
    EXPECT_EQ(aShareQueue_Take(queue), nullptr);
    aShareQueue_Destroy(&queue);
}

TEST(ShareQueue, AWaitEndsAtItsTimeOutOrAtAWake) {
    aShareQueue* queue = aShareQueue_Create(4);
    ASSERT_NE(queue, nullptr);
    auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(aShareQueue_Await(queue, 30));
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(25));
    std::thread waker([queue] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        aShareQueue_Wake(queue);
    });
    before = std::chrono::steady_clock::now();
    EXPECT_FALSE(aShareQueue_Await(queue, 5000)) << "woken, no frame";
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    waker.join();
    EXPECT_EQ(aShareQueue_Take(queue), nullptr);
    EXPECT_FALSE(sReadable(queue)) << "a take clears the wake";
    aShareQueue_Destroy(&queue);
}

// Two threads put while one takes: every frame arrives once, each thread's in order.
TEST(ShareQueue, ConcurrentPutsReachTheTakerInOrder) {
    constexpr int kFrames = 2000;
    aShareQueue* queue = aShareQueue_Create(16);
    ASSERT_NE(queue, nullptr);
    auto producer = [queue](uint8_t id) {
        for (int i = 0; i < kFrames; ++i) {
            const uint8_t bytes[3] = {id, uint8_t(i >> 8), uint8_t(i)};
            ASSERT_EQ(aShareQueue_Put(queue, bytes, sizeof bytes, 1000), aErrNone);
        }
    };
    std::thread a(producer, 0), b(producer, 1);
    int next[2] = {0, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((next[0] < kFrames || next[1] < kFrames) && std::chrono::steady_clock::now() < deadline) {
        if (!aShareQueue_Await(queue, 100)) continue;
        Bytes frame = sTake(queue);
        ASSERT_EQ(frame.size(), 3u);
        ASSERT_LT(frame[0], 2);
        EXPECT_EQ((frame[1] << 8) | frame[2], next[frame[0]]++);
    }
    a.join();
    b.join();
    EXPECT_EQ(next[0], kFrames);
    EXPECT_EQ(next[1], kFrames);
    aShareQueue_Destroy(&queue);
}

// Two packets written back to back, as a pooled link writes them, reach the server as
// two frames: one frame with both would be no packet, and the server would drop it.
TEST(ShareClientStream, AWriteThatNeverWaitsSendsOneFramePerPacket) {
    SharedModule server;
    aStream* stream = nullptr;
    ASSERT_EQ(aStream_CreateClient(kLoopback, server.port(), &stream), aErrNone);
    const uint8_t modelGet[] = {kModuleAddress, 3, 0x03, 0x48, 0x20};
    Bytes twice(modelGet, modelGet + sizeof modelGet);
    twice.insert(twice.end(), modelGet, modelGet + sizeof modelGet);
    uint32_t written = 0;
    EXPECT_EQ(aStream_TryWrite(stream, twice.data(), uint32_t(twice.size()), &written), aErrNone);
    EXPECT_EQ(written, twice.size());

    constexpr size_t kReplySize = 6; // the module's address, 4, then 0x03, two bytes, its model
    Bytes read;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (read.size() < 2 * kReplySize && std::chrono::steady_clock::now() < deadline) {
        uint8_t byte = 0;
        if (aStream_Read(stream, &byte, 1) == aErrNone)
            read.push_back(byte);
        else
            aStream_AwaitInput(stream, 100);
    }
    ASSERT_EQ(read.size(), 2 * kReplySize) << "both requests answered";
    for (size_t at : {size_t(0), kReplySize}) {
        EXPECT_EQ(read[at], kModuleAddress);
        EXPECT_EQ(read[at + 1], 4);
        EXPECT_EQ(read[at + 2], 0x03);
        EXPECT_EQ(read[at + 5], kModel);
    }
    EXPECT_EQ(aStream_Destroy(&stream), aErrNone);
}

} // namespace
