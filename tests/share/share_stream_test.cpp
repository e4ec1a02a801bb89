// Streaming through a link-sharing server: a sharedmodule process streams its
// counters while shareclient processes exchange echoes with it, some of them
// subscribed to a counter. Every subscriber must get each sample of its counter
// once and in order, from the first one on; nobody gets anybody else's replies,
// and a client that did not subscribe gets no samples at all.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <sstream>

#include "ShareFixtures.h"
#include "StreamedCounters.h"
#include "aTime.h"

using namespace ShareTest;
using Veltrano::Sim::counterStart;

namespace {

using Clock = std::chrono::steady_clock;

// Heartbeats carry the server's sample batches out; 20 ms keeps them small.
const std::vector<std::string> kStreaming = {"--heartbeat", "20", "--stream-rate", "1000"};

struct Tally {
    bool present = false;
    unsigned long long samples = 0, gaps = 0, disorder = 0, foreign = 0, drops = 0;
    unsigned long first = 0;
};

// The "stream ..." line of a shareclient's output.
Tally tallyOf(const std::string& out) {
    Tally t;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("stream ", 0) != 0) continue;
        t.present =
            std::sscanf(line.c_str(), "stream %llu first %lu gaps %llu disorder %llu foreign %llu drops %llu",
                        &t.samples, &t.first, &t.gaps, &t.disorder, &t.foreign, &t.drops) == 6;
    }
    return t;
}

// A subscriber's samples: at least `samples` of its counter, each once, in order,
// from the counter's first value.
void expectWholeStream(const SubprocessResult& result, uint8_t counter, unsigned long long samples) {
    Tally t = tallyOf(result.out);
    ASSERT_TRUE(t.present) << result.out << result.err;
    EXPECT_GE(t.samples, samples) << result.out;
    EXPECT_EQ(t.first, counterStart(counter)) << "the first samples are lost: " << result.out;
    EXPECT_EQ(t.gaps, 0u) << result.out;
    EXPECT_EQ(t.disorder, 0u) << result.out;
    EXPECT_EQ(t.foreign, 0u) << result.out;
    EXPECT_EQ(t.drops, 0u) << result.out;
}

struct Client {
    std::vector<std::string> args;
    std::future<SubprocessResult> run;
};

std::vector<Client> startClients(uint16_t port, std::vector<std::vector<std::string>> argsOfEach,
                                 int timeoutMs = 30000) {
    std::vector<Client> clients;
    for (auto& args : argsOfEach) {
        Client c{args, {}};
        c.run = std::async(std::launch::async,
                           [port, args, timeoutMs] { return runClient(port, args, timeoutMs); });
        clients.push_back(std::move(c));
    }
    return clients;
}

std::vector<std::string> subscriber(int id, int counter, int samples, int count = 200) {
    return {"--id",        std::to_string(id),      "--count",   std::to_string(count),
            "--subscribe", std::to_string(counter), "--samples", std::to_string(samples)};
}

TEST(ShareStream, SubscribersGetTheirOwnSamplesWhileEveryClientGetsOnlyItsReplies) {
    SharedModule server(kStreaming);
    // The first subscriber leaves early and unsubscribes: the others' streams go on.
    auto clients = startClients(server.port(), {subscriber(1, 0, 300),
                                                subscriber(2, 1, 900),
                                                subscriber(3, 2, 900),
                                                {"--id", "4", "--count", "300", "--await-streaming"}});
    for (size_t i = 0; i < 3; ++i) {
        SubprocessResult result = clients[i].run.get();
        SCOPED_TRACE("subscriber of counter " + std::to_string(i));
        EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
        EXPECT_EQ(result.out.rfind("ok 200\n", 0), 0u) << result.out;
        expectWholeStream(result, uint8_t(i), i == 0 ? 300 : 600);
        EXPECT_NE(result.out.find("\nstray 0\n"), std::string::npos) << result.out;
    }
    SubprocessResult plain = clients[3].run.get();
    EXPECT_EQ(plain.exitStatus, 0) << plain.err;
    EXPECT_EQ(plain.out, "ok 300\nstray 0\n") << "a client that did not subscribe gets no samples";
}

TEST(ShareStream, AValueStreamsOnWhenOneOfItsTwoSubscribersLeaves) {
    SharedModule server(kStreaming);
    auto clients = startClients(server.port(), {subscriber(1, 0, 100, 20), subscriber(2, 0, 1000, 20)});
    SubprocessResult early = clients[0].run.get();
    EXPECT_EQ(early.exitStatus, 0) << early.out << early.err;
    EXPECT_NE(early.out.find("\nstray 0\n"), std::string::npos)
        << "samples after it unsubscribed: " << early.out;
    SubprocessResult late = clients[1].run.get();
    EXPECT_EQ(late.exitStatus, 0) << "the other's unsubscription ended its stream: " << late.out;
    Tally t = tallyOf(late.out);
    EXPECT_GE(t.samples, 1000u) << late.out;
    EXPECT_EQ(t.gaps, 0u) << late.out;
}

TEST(ShareStream, ASubscriberThatVanishesMidRequestStealsNoReplyAndStopsNoStream) {
    SharedModule server({"--heartbeat", "20", "--stream-rate", "1000", "--echo-delay", "400"});
    SubprocessResult gone = runClient(server.port(), {"--id", "9", "--subscribe", "0", "--vanish"});
    ASSERT_EQ(gone.out, "gone\n") << gone.err;
    // Its slow echo is still with the module, and its counter streams on with nobody
    // to take it: the next requests queue behind the echo, batches go out to the gone.
    auto clients = startClients(server.port(), {subscriber(1, 1, 800, 20),
                                                subscriber(2, 2, 800, 20),
                                                {"--id", "8", "--count", "50", "--await-streaming"}});
    for (size_t i = 0; i < 2; ++i) {
        SubprocessResult result = clients[i].run.get();
        SCOPED_TRACE("subscriber of counter " + std::to_string(i + 1));
        EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
        expectWholeStream(result, uint8_t(i + 1), 800);
    }
    SubprocessResult next = clients[2].run.get();
    EXPECT_EQ(next.exitStatus, 0) << next.out;
    EXPECT_EQ(next.out, "ok 50\nstray 0\n");
}

TEST(ShareStream, TheServerStoppingUnderStreamingClientsEndsThemInBoundedTime) {
    auto server = std::make_unique<SharedModule>(kStreaming);
    auto clients = startClients(
        server->port(),
        {subscriber(1, 0, 1, 1000000), subscriber(2, 1, 1, 1000000), subscriber(3, 2, 1, 1000000)}, 20000);
    // Long enough for three client processes to subscribe on a loaded machine.
    aTime_MSSleep(2500);
    auto stopped = Clock::now();
    EXPECT_EQ(server->stop(), 0);
    for (size_t i = 0; i < clients.size(); ++i) {
        SCOPED_TRACE("subscriber of counter " + std::to_string(i));
        ASSERT_EQ(clients[i].run.wait_for(std::chrono::seconds(15)), std::future_status::ready);
        SubprocessResult result = clients[i].run.get();
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitStatus, 3) << "a request without reply: " << result.out << result.err;
        Tally t = tallyOf(result.out);
        EXPECT_GT(t.samples, 0u) << "it streamed before the server went: " << result.out;
        EXPECT_EQ(t.gaps, 0u) << result.out;
    }
    EXPECT_LT(Clock::now() - stopped, std::chrono::seconds(10));
}

} // namespace
