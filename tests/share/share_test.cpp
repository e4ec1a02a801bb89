// Link sharing end to end: a virtual module on the virtual USB bus of a
// sharedmodule process, used by shareclient processes and by links of this one.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "ShareFixtures.h"
#include "aDiscovery.h"
#include "aLink.h"
#include "aStream_ZeroMQClient.h"
#include "aTime.h"

using namespace ShareTest;

namespace {

using Clock = std::chrono::steady_clock;

uint32_t runningClient(uint16_t port) {
    uint32_t ref = aLink_CreateClient(kLoopback, port, 0);
    for (int i = 0; ref && i < 300 && aLink_GetStatus(ref) != RUNNING; ++i)
        aTime_MSSleep(10);
    return ref;
}

// The echo of data from the module through the link, or nothing within waitMs.
std::vector<uint8_t> echo(uint32_t ref, std::vector<uint8_t> data, uint32_t waitMs = 3000) {
    aPacket* packet = aPacket_CreateWithData(kModuleAddress, uint8_t(data.size()), data.data());
    aLink_PutPacket(ref, packet);
    aPacket_Destroy(&packet);
    aPacket* reply = aLink_AwaitPacket(ref, waitMs);
    if (!reply) return {};
    std::vector<uint8_t> got(reply->data, reply->data + reply->dataSize);
    aPacket_Destroy(&reply);
    return got;
}

std::vector<std::future<SubprocessResult>> startClients(uint16_t port, int clients, const char* count) {
    std::vector<std::future<SubprocessResult>> running;
    for (int id = 1; id <= clients; ++id)
        running.push_back(std::async(std::launch::async, [port, id, count] {
            return runClient(port, {"--id", std::to_string(id), "--count", count});
        }));
    return running;
}

TEST(Share, ClientProcessesEachGetOnlyTheirOwnReplies) {
    SharedModule server;
    // This process uses the module at the same time, through a link of its own.
    uint32_t ref = runningClient(server.port());
    ASSERT_NE(ref, 0u);
    auto clients = startClients(server.port(), 4, "300");
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(echo(ref, {23, 0x77, uint8_t(i)}), (std::vector<uint8_t>{23, 0x77, uint8_t(i)}));
    for (auto& client : clients) {
        SubprocessResult result = client.get();
        EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
        EXPECT_EQ(result.out, "ok 300\n");
    }
    aLink_Destroy(&ref);
}

TEST(Share, AOneDataByteReplyReachesItsClient) {
    SharedModule server;
    uint32_t ref = runningClient(server.port());
    ASSERT_NE(ref, 0u);
    // Three bytes on the wire, as long as a command frame inside the server.
    EXPECT_EQ(echo(ref, {23}), std::vector<uint8_t>{23});
    EXPECT_EQ(echo(ref, {23, 1, 2}), (std::vector<uint8_t>{23, 1, 2}))
        << "the next reply is still this one's";
    aLink_Destroy(&ref);
}

TEST(Share, AClientThatVanishesMidRequestStealsNoReply) {
    SharedModule server({"--echo-delay", "500"});
    SubprocessResult gone = runClient(server.port(), {"--id", "9", "--vanish"});
    ASSERT_EQ(gone.out, "gone\n") << gone.err;
    // Its slow echo is still with the module: the next requests queue behind it.
    SubprocessResult next = runClient(server.port(), {"--id", "8", "--count", "20"});
    EXPECT_EQ(next.exitStatus, 0) << next.out;
    EXPECT_EQ(next.out, "ok 20\n");
}

TEST(Share, TheServerStoppingUnderItsClientsEndsTheirRequestsInBoundedTime) {
    auto server = std::make_unique<SharedModule>();
    uint32_t ref = runningClient(server->port());
    ASSERT_NE(ref, 0u);
    ASSERT_EQ(echo(ref, {23, 5}), (std::vector<uint8_t>{23, 5}));
    auto clients = startClients(server->port(), 2, "1000000");
    aTime_MSSleep(300);
    EXPECT_EQ(server->stop(), 0);
    for (auto& client : clients) {
        ASSERT_EQ(client.wait_for(std::chrono::seconds(15)), std::future_status::ready);
        SubprocessResult result = client.get();
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitStatus, 3) << "a request without reply: " << result.out;
    }
    EXPECT_TRUE(echo(ref, {23, 6}, 500).empty());
    auto before = Clock::now();
    EXPECT_EQ(aLink_Destroy(&ref), aErrNone);
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(3));
}

TEST(Share, ALoopbackServerIsFoundByBeacon) {
    SharedModule server;
    linkSpec* found = aDiscovery_FindModule(ASOLVAN, kSerial, 0);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->type, ASOLVAN);
    EXPECT_EQ(found->model, kModel);
    EXPECT_EQ(found->ipAddress, kLoopback);
    EXPECT_EQ(found->ipPort, server.port());
    aLinkSpec_Destroy(&found);
    EXPECT_EQ(aDiscovery_FindModule(ASOLVAN, kSerial + 1, 0), nullptr);
}

TEST(Share, ClientStreamOperations) {
    aStream* stream = nullptr;
    EXPECT_EQ(aStream_CreateClient(kLoopback, 1, nullptr), aErrParam);
    EXPECT_EQ(aStream_CreateClient(kLoopback, 0, &stream), aErrParam);
    // Connecting does not wait for a server: nothing needs to listen.
    ASSERT_EQ(aStream_CreateClient(kLoopback, 9, &stream), aErrNone);
    uint8_t byte = 1;
    EXPECT_EQ(aStream_Write(stream, &byte, 1), aErrUnimplemented) << "packets go whole";
    // A read with no traffic waits about a second for the server before it gives up.
    auto before = Clock::now();
    EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrNotReady);
    EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(900));
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(5));
    EXPECT_EQ(aStream_AwaitInput(stream, 100), aErrTimeout);
    EXPECT_EQ(aStream_Interrupt(stream), aErrNone);
    // Interrupted, neither wait lasts.
    before = Clock::now();
    EXPECT_EQ(aStream_AwaitInput(stream, 5000), aErrCancel);
    EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrNotReady);
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(1));
    EXPECT_EQ(aStream_Destroy(&stream), aErrNone);
}

} // namespace
