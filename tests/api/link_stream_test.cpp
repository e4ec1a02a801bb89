// Link value streaming: stream samples and keys, subscriptions to a virtual
// module's streamed values (exact and wildcard), the cached values entities
// answer from, the delivery ring when full, and subscriptions ending under
// flowing samples (also from a callback, and by destroying the Link).
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>

#include "ApiFixtures.h"
#include "EntityClass.h"

using namespace ApiTest;
using Veltrano::Sim::StreamSource;

namespace {

constexpr uint8_t kModule = 4;
constexpr uint8_t kClass = 18;

aPacketPtr packetOf(Bytes data, uint8_t address = kModule) {
    return aPacketPtr(aPacket_CreateWithData(address, static_cast<uint8>(data.size()), data.data()));
}

Bytes sample(uint8_t option, uint8_t type, Bytes tail) {
    Bytes data{kClass, option, 0x43, type};
    data.insert(data.end(), tail.begin(), tail.end());
    return data;
}

const Bytes kTime{0, 0, 0, 1, 0, 0, 0, 2};

Bytes withTime(Bytes head, Bytes value) {
    head.insert(head.end(), kTime.begin(), kTime.end());
    head.insert(head.end(), value.begin(), value.end());
    head.push_back(0);
    return head;
}

TEST(StreamPackets, SamplesOfEveryTypeAndThePacketsThatAreNone) {
    struct Case {
        const char* name;
        Bytes data;
        uint8_t type;
        aErr decoded;
        uint32_t value;
        uint8_t subindex;
    };
    const Case cases[] = {
        {"8-bit", sample(5, 1, withTime({}, {0x9A})), 1, aErrNone, 0x9A, 0},
        {"16-bit", sample(5, 2, withTime({}, {0x12, 0x34})), 2, aErrNone, 0x1234, 0},
        {"32-bit", sample(5, 3, withTime({}, {1, 2, 3, 4})), 3, aErrNone, 0x01020304, 0},
        {"8-bit, subindex", sample(5, 5, withTime({7}, {0x9A})), 5, aErrNone, 0x9A, 7},
        {"16-bit, subindex", sample(5, 6, withTime({7}, {0x12, 0x34})), 6, aErrNone, 0x1234, 7},
        {"32-bit, subindex", sample(5, 7, withTime({7}, {1, 2, 3, 4})), 7, aErrNone, 0x01020304, 7},
        {"type 1 one byte too long", sample(5, 1, withTime({}, {0x9A, 0})), 1, aErrPacket, 0, 0},
        {"type 3 one byte short", sample(5, 3, withTime({}, {1, 2, 3})), 3, aErrPacket, 0, 0},
        {"chunk of a bytes value", {kClass, 5, 0x43, 1, 2, 3, 0x81}, 4, aErrSize, 0, 0},
        {"unknown type", sample(5, 8, withTime({}, {0x9A})), 0, aErrPacket, 0, 0},
        {"option with flags", {kClass, 0x45, 0x43, 1, 0, 0, 0, 0, 0, 0, 0, 0, 9, 0}, 0, aErrPacket, 0, 0},
        {"not streamed", {kClass, 5, 0x03, 1, 0, 0, 0, 0, 0, 0, 0, 0, 9, 0}, 0, aErrPacket, 0, 0},
        {"not a UEI payload", {73, 5, 0x43, 1, 0, 0, 0, 0, 0, 0, 0, 0, 9, 0}, 0, aErrPacket, 0, 0},
        {"four bytes", {kClass, 5, 0x43, 1}, 0, aErrPacket, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        aPacketPtr packet = packetOf(c.data);
        EXPECT_EQ(Link::getStreamPacketType(packet.get()), c.type);
        EXPECT_EQ(Link::isStreamPacket(packet.get()), c.type != 0);
        EXPECT_EQ(Link::isStreamSample(packet.get()), c.decoded == aErrNone);
        unsigned long long timestamp = 0;
        unsigned int value = 0;
        unsigned char subindex = 0xEE;
        EXPECT_EQ(Link::getStreamSample(packet.get(), &timestamp, &value, &subindex), c.decoded);
        if (c.decoded != aErrNone) continue;
        EXPECT_EQ(timestamp, 0x0000000100000002ull);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(subindex, c.subindex);
        EXPECT_EQ(Link::getStreamSample(packet.get(), nullptr, nullptr, nullptr), aErrNone);
    }
}

TEST(StreamPackets, KeysAndTimestampHalves) {
    unsigned long long key = Link::createStreamKey(4, 18, 5, 2, 7);
    EXPECT_EQ(key, 0x0704120502ull);
    const unsigned char elements[] = {4, 18, 5, 2, 7, 0};
    for (unsigned char e = 0; e < 6; ++e)
        EXPECT_EQ(Link::getStreamKeyElement(key, e), elements[e]) << "element " << int(e);
    unsigned int high = 0, low = 0;
    EXPECT_EQ(Link::getTimestampParts(0x0123456789ABCDEFull, &high, &low), aErrNone);
    EXPECT_EQ(high, 0x01234567u);
    EXPECT_EQ(low, 0x89ABCDEFu);
    EXPECT_EQ(Link::getTimestampParts(1, nullptr, nullptr), aErrNone);
}

// Counts the samples a callback gets and keeps the last value.
struct Received {
    std::atomic<int> samples{0};
    std::atomic<int> chunks{0};
    std::atomic<uint32_t> last{0};

    streamCallback callback() {
        return [](const aPacket* packet, void* reference) -> uint8 {
            Received* self = static_cast<Received*>(reference);
            unsigned int value = 0;
            aErr err = Link::getStreamSample(packet, nullptr, &value, nullptr);
            if (err == aErrSize) self->chunks++;
            if (err != aErrNone) return 0;
            self->last = value;
            self->samples++;
            return 0;
        };
    }
};

// A callback that blocks until released, and counts what it was given.
struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    std::atomic<int> calls{0};

    static uint8 callback(const aPacket*, void* reference) {
        Gate* gate = static_cast<Gate*>(reference);
        gate->calls++;
        std::unique_lock<std::mutex> lock(gate->mutex);
        gate->opened.wait_for(lock, std::chrono::seconds(10), [&] { return gate->open; });
        return 0;
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        opened.notify_all();
    }
};

class EntityOf18 : public EntityClassOf<kClass> {};

struct StreamFixture : ::testing::Test {
    StreamFixture() {
        link = m.module.getLink();
        entity.init(&m.module, 0);
    }
    // A callback held at the gate lets the Link's destructor join its thread.
    ~StreamFixture() override { gate.release(); }
    Veltrano::Sim::StreamArea& area() { return m.device.module().stream(); }
    size_t keysFor(uint8_t option, uint8_t subindex = 0) {
        return link->filterActiveStreamKeys(kModule, kClass, option, 0, subindex, true).size();
    }
    // A sample reaches the incoming queue (not the filter) within a second.
    bool sampleQueued() {
        unsigned char match[] = {kClass};
        unsigned char length = 1;
        unsigned char data[aPACKET_MAX_DATA];
        return link->receivePacket(kModule, match, &length, data, 1000) == aErrNone && length > 3 &&
               (data[2] & 0x40);
    }

    // The callbacks' references outlive the Link and its delivery thread: a
    // sample delivered after a test's body has ended must not write into its
    // finished stack frame.
    Gate gate;
    Received got;
    ConnectedModule m;
    Link* link = nullptr;
    EntityOf18 entity;
};

StreamSource source(uint8_t option, uint32_t value, uint8_t width = 4) {
    StreamSource s;
    s.command = kClass;
    s.option = option;
    s.width = width;
    s.value = value;
    return s;
}

TEST_F(StreamFixture, ASampleIsFreshOnceThenStaleAndEntitiesAnswerFromIt) {
    ASSERT_EQ(m.connected, aErrNone);
    area().setSources({source(5, 0x12345678)});
    ASSERT_EQ(link->registerStreamCallback(kModule, kClass, 5, 0, true, got.callback(), &got), aErrNone);
    EXPECT_EQ(area().subscriptions(), std::set<uint32_t>{0x04120500u});
    unsigned char streaming = 0;
    EXPECT_EQ(link->isLinkStreaming(kModule, &streaming), aErrNone);
    EXPECT_EQ(streaming, 1);

    unsigned int value = 0;
    EXPECT_EQ(link->getStreamValue(kModule, kClass, 5, 0, 0, &value), aErrNotFound) << "no sample yet";
    area().burst(1);
    ASSERT_TRUE(eventuallyTrue([&] { return got.samples == 1; }));
    EXPECT_EQ(got.last, 0x12345678u);
    // The entity's get is answered from the sample, without asking the module.
    EXPECT_EQ(entity.getUEI32(5, &value), aErrNone);
    EXPECT_EQ(value, 0x12345678u);
    value = 0;
    EXPECT_EQ(entity.getUEI32(5, &value), aErrStreamStale);
    EXPECT_EQ(value, 0x12345678u);
    EXPECT_EQ(link->getStreamValue(kModule, kClass, 5, 0, 0, &value), aErrStreamStale);
    area().burst(1);
    ASSERT_TRUE(eventuallyTrue([&] { return got.samples == 2; }));
    EXPECT_EQ(link->getStreamValue(kModule, kClass, 5, 0, 0, &value), aErrNone);
    EXPECT_EQ(link->getStreamDrops(), 0u);
}

TEST_F(StreamFixture, AWildcardOptionTakesEveryOptionAndStatusListsExactKeysOnly) {
    ASSERT_EQ(m.connected, aErrNone);
    StreamSource withSubindex = source(3, 0xBEEF, 2);
    withSubindex.subindex = 7;
    StreamSource bytes = source(4, 0, 0);
    bytes.bytes = Bytes(30, 0x5A); // with its timestamp: two chunks
    area().setSources({source(1, 11, 1), source(2, 22), withSubindex, bytes});
    ASSERT_EQ(entity.registerOptionCallback(Link::STREAM_WILDCARD, true, got.callback(), &got), aErrNone);
    EXPECT_EQ(area().subscriptions(), std::set<uint32_t>{0x0412FF00u});
    area().burst(4);
    ASSERT_TRUE(eventuallyTrue([&] { return got.samples == 3 && got.chunks == 2; }));

    unsigned int value = 0;
    EXPECT_EQ(link->getStreamValue(kModule, kClass, 1, 0, 0, &value), aErrNone);
    EXPECT_EQ(value, 11u);
    EXPECT_EQ(link->getStreamValue(kModule, kClass, 3, 0, 7, &value), aErrNone);
    EXPECT_EQ(value, 0xBEEFu);
    EXPECT_EQ(link->getStreamValue(kModule, kClass, 3, 0, 0, &value), aErrNotFound)
        << "only subindex 7 streamed";

    StreamStatusEntry entries[5] = {};
    unsigned int count = 0;
    ASSERT_EQ(entity.getStreamStatus(entries, 5, &count), aErrNone);
    // Options 1, 2, 4 (the chunks) and 3 with subindex 7, in key order; never the wildcard itself.
    ASSERT_EQ(count, 4u);
    EXPECT_EQ(entries[0].key, Link::createStreamKey(kModule, kClass, 1, 0, 0));
    EXPECT_EQ(entries[0].value, 11u);
    EXPECT_EQ(entries[1].key, Link::createStreamKey(kModule, kClass, 2, 0, 0));
    EXPECT_EQ(entries[1].value, 22u);
    EXPECT_EQ(entries[2].key, Link::createStreamKey(kModule, kClass, 4, 0, 0));
    EXPECT_EQ(entries[3].key, Link::createStreamKey(kModule, kClass, 3, 0, 7));

    // Too small: only capacity entries are written, the count says how many there are.
    StreamStatusEntry small[3] = {};
    small[2] = {0xDEAD, 0xDEAD};
    EXPECT_EQ(entity.getStreamStatus(small, 2, &count), aErrSize);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(small[2].key, 0xDEADu);
    EXPECT_EQ(entity.getStreamStatus(nullptr, 2, &count), aErrParam);
    EXPECT_EQ(entity.getStreamStatus(small, 0, &count), aErrParam);

    // Unsubscribing the wildcard drops the exact keys it made.
    EXPECT_EQ(entity.setStreamEnabled(0), aErrNone);
    EXPECT_EQ(keysFor(Link::STREAM_WILDCARD, Link::STREAM_WILDCARD), 0u);
    EXPECT_TRUE(area().subscriptions().empty());
}

TEST_F(StreamFixture, RefusedSubscriptionsLeaveNothingBehind) {
    ASSERT_EQ(m.connected, aErrNone);
    EXPECT_EQ(link->enableStream(5, kClass, 1, 0, true), aErrParam);
    EXPECT_EQ(link->enableStream(0xFF, kClass, 1, 0, true), aErrParam);
    EXPECT_TRUE(area().subscriptions().empty());

    // The module refuses: its code is the answer, and samples it sends anyway
    // reach the incoming queue.
    m.device.fault("stream", ReplyFaultKind::ErrorReply, 0, 1, aErrBusy);
    EXPECT_EQ(link->enableStream(kModule, kClass, 1, 0, true), aErrBusy);
    EXPECT_EQ(keysFor(Link::STREAM_WILDCARD, Link::STREAM_WILDCARD), 0u);
    m.device.fault("stream", ReplyFaultKind::NoReply, 0, 1);
    EXPECT_EQ(link->enableStream(kModule, kClass, 1, 0, true), aErrTimeout);
    EXPECT_EQ(keysFor(Link::STREAM_WILDCARD, Link::STREAM_WILDCARD), 0u);
    area().setSources({source(1, 1)});
    area().setFreeRunning(true);
    area().burst(1);
    EXPECT_TRUE(sampleQueued());

    unsigned int count = 0;
    StreamStatusEntry entry;
    link->disconnect();
    EXPECT_EQ(link->enableStream(kModule, kClass, 1, 0, true), aErrConnection);
    EXPECT_EQ(keysFor(Link::STREAM_WILDCARD, Link::STREAM_WILDCARD), 0u);
    EXPECT_EQ(link->getStreamStatus(kModule, kClass, 1, 0, 0, &entry, 1, &count), aErrConnection);
}

TEST_F(StreamFixture, RemovingTheLastSubscriptionSendsSamplesToTheQueueAgain) {
    ASSERT_EQ(m.connected, aErrNone);
    area().setSources({source(1, 1)});
    area().setFreeRunning(true); // keeps streaming after the host said stop
    ASSERT_EQ(link->registerStreamCallback(kModule, kClass, 1, 0, true, got.callback(), &got), aErrNone);
    area().burst(1);
    ASSERT_TRUE(eventuallyTrue([&] { return got.samples == 1; }));
    EXPECT_EQ(link->enableStream(kModule, kClass, 1, 0, false), aErrNone);
    EXPECT_EQ(keysFor(1), 0u);
    area().burst(1);
    EXPECT_TRUE(sampleQueued());
    EXPECT_EQ(got.samples, 1);
    // A reset loses the filter; the next subscription puts it back.
    ASSERT_EQ(link->enableStream(kModule, kClass, 1, 0, true), aErrNone);
    link->reset();
    ASSERT_TRUE(eventuallyTrue([&] { return link->isConnected(); }));
    ASSERT_EQ(link->registerStreamCallback(kModule, kClass, 1, 0, true, got.callback(), &got), aErrNone);
    area().burst(1);
    EXPECT_TRUE(eventuallyTrue([&] { return got.samples == 2; }));
}

TEST_F(StreamFixture, AFullRingDropsSamplesAndCountsThem) {
    ASSERT_EQ(m.connected, aErrNone);
    area().setSources({source(1, 1)});
    ASSERT_EQ(link->registerStreamCallback(kModule, kClass, 1, 0, true, Gate::callback, &gate), aErrNone);
    area().burst(1);
    ASSERT_TRUE(eventuallyTrue([&] { return gate.calls == 1; }));
    // The callback holds the delivery thread: 499 samples wait on the ring, the rest are dropped.
    constexpr int kSent = 1200;
    area().burst(kSent);
    ASSERT_TRUE(eventuallyTrue([&] { return link->getStreamDrops() == kSent - 499; }, 5000))
        << link->getStreamDrops();
    gate.release();
    EXPECT_TRUE(eventuallyTrue([&] { return gate.calls == 500; }));
    unsigned int value = 0;
    EXPECT_EQ(link->getStreamValue(kModule, kClass, 1, 0, 0, &value), aErrNone)
        << "values are kept all the same";
    area().burst(1);
    EXPECT_TRUE(eventuallyTrue([&] { return gate.calls == 501; }));
    EXPECT_EQ(link->getStreamDrops(), static_cast<unsigned long long>(kSent - 499));
}

// A subindex of 0xFF makes the sample's own key the wildcard subscription's:
// its callback still hears of the sample once.
TEST_F(StreamFixture, ASampleWithSubindex0xFFReachesItsCallbackOnce) {
    ASSERT_EQ(m.connected, aErrNone);
    StreamSource withSubindex = source(1, 7, 2);
    withSubindex.subindex = 0xFF;
    area().setSources({withSubindex});
    ASSERT_EQ(link->registerStreamCallback(kModule, kClass, 1, 0, true, got.callback(), &got), aErrNone);
    area().burst(3);
    ASSERT_TRUE(eventuallyTrue([&] { return got.samples >= 3; }));
    aTime_MSSleep(50);
    EXPECT_EQ(got.samples, 3);
}

struct SelfRemoving {
    Link* link = nullptr;
    std::atomic<int> calls{0};
    std::atomic<int> result{-1};

    static uint8 callback(const aPacket*, void* reference) {
        SelfRemoving* self = static_cast<SelfRemoving*>(reference);
        if (self->calls++ == 0) self->result = self->link->enableStream(kModule, kClass, 1, 0, false);
        return 0;
    }
};

TEST_F(StreamFixture, ACallbackRemovingTheLastSubscriptionEndsItsOwnDelivery) {
    ASSERT_EQ(m.connected, aErrNone);
    SelfRemoving self;
    self.link = link;
    area().setSources({source(1, 1)});
    area().setFreeRunning(true);
    ASSERT_EQ(link->registerStreamCallback(kModule, kClass, 1, 0, true, SelfRemoving::callback, &self),
              aErrNone);
    area().burst(1);
    ASSERT_TRUE(eventuallyTrue([&] { return self.result != -1; }, 3000));
    EXPECT_EQ(self.result, aErrNone);
    EXPECT_EQ(keysFor(1), 0u);
    area().burst(1);
    EXPECT_TRUE(sampleQueued());
    // Subscribing again starts a new delivery thread.
    ASSERT_EQ(link->registerStreamCallback(kModule, kClass, 1, 0, true, SelfRemoving::callback, &self),
              aErrNone);
    area().burst(1);
    EXPECT_TRUE(eventuallyTrue([&] { return self.calls == 2; }));
}

// The filter runs holding the engine's filter lock and takes the stream
// mutex; subscribing must never hold the stream mutex while it installs or
// removes the filter.
TEST_F(StreamFixture, SubscribingWhileSamplesFlowNeverDeadlocks) {
    ASSERT_EQ(m.connected, aErrNone);
    area().setSources({source(1, 1)});
    area().setFreeRunning(true);
    // Each unsubscription removes the filter before the module hears of it:
    // meanwhile samples fill the link's queue, which a faster stream on a
    // loaded machine overflows, reply and all.
    area().setRate(2000);
    auto churn = std::async(std::launch::async, [&] {
        int failures = 0;
        for (int round = 0; round < 30; ++round) {
            failures +=
                link->registerStreamCallback(kModule, kClass, 1, 0, true, got.callback(), &got) != aErrNone;
            failures += link->enableStream(kModule, kClass, 1, 0, false) != aErrNone;
        }
        return failures;
    });
    ASSERT_EQ(churn.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(churn.get(), 0);
    // Samples still reach a subscription once the churn is over (during it, a
    // loaded machine may deliver none before each unsubscription).
    ASSERT_EQ(link->registerStreamCallback(kModule, kClass, 1, 0, true, got.callback(), &got), aErrNone);
    EXPECT_TRUE(eventuallyTrue([&] { return got.samples > 0; }));
    area().setRate(0);
}

// Subscribing and unsubscribing under a fast stream, then ending the module
// while samples still flow, round after round in one process (bounded in
// time): the churn's teardown leaves nothing that a later round trips over.
TEST(StreamStress, ChurnThenTeardownWhileSamplesFlowRoundAfterRound) {
    constexpr int kRounds = 8;
    constexpr uint32_t kBudgetMs = 15000;
    const uint32_t start = aTime_GetMSTicks();
    for (int rounds = 0; rounds < kRounds && aTime_GetMSTicks() - start < kBudgetMs; ++rounds) {
        SCOPED_TRACE(rounds);
        Received got; // outlives the module and its delivery thread
        auto m = std::make_unique<ConnectedModule>();
        ASSERT_EQ(m->connected, aErrNone);
        Veltrano::Sim::StreamArea& area = m->device.module().stream();
        area.setSources({source(1, 1)});
        area.setFreeRunning(true);
        area.setRate(2000);
        Link* link = m->module.getLink();
        for (int churn = 0; churn < 5; ++churn) {
            ASSERT_EQ(link->registerStreamCallback(kModule, kClass, 1, 0, true, got.callback(), &got), aErrNone);
            ASSERT_EQ(link->enableStream(kModule, kClass, 1, 0, false), aErrNone);
        }
        ASSERT_EQ(link->registerStreamCallback(kModule, kClass, 1, 0, true, got.callback(), &got), aErrNone);
        ASSERT_TRUE(eventuallyTrue([&] { return got.samples > 0; }));
        m.reset(); // the module and the stream end while samples flow
        const int seen = got.samples;
        aTime_MSSleep(5);
        EXPECT_EQ(got.samples, seen) << "no delivery after the Link went";
    }
}

// Another Link on the same module shares the engine link, which outlives the
// streaming Link: the filter must not.
TEST(StreamLifetime, TheFilterGoesWithItsLinkWhenAnotherSharesTheEngineLink) {
    ModuleOn device(Carrier::Tcp);
    Module other;
    ASSERT_EQ(connectModule(other, device.spec()), aErrNone);
    device.module().stream().setSources({source(1, 1)});
    device.module().stream().setFreeRunning(true);
    Received got;
    {
        Module streaming;
        ASSERT_EQ(connectModule(streaming, device.spec()), aErrNone);
        ASSERT_EQ(
            streaming.getLink()->registerStreamCallback(kModule, kClass, 1, 0, true, got.callback(), &got),
            aErrNone);
        device.module().stream().burst(1);
        ASSERT_TRUE(eventuallyTrue([&] { return got.samples == 1; }));
    }
    device.module().stream().burst(1);
    unsigned char match[] = {kClass};
    unsigned char length = 1;
    unsigned char data[aPACKET_MAX_DATA];
    EXPECT_EQ(other.getLink()->receivePacket(kModule, match, &length, data, 1000), aErrNone);
    EXPECT_EQ(got.samples, 1);
}

TEST(StreamLifetime, TwoLinksOnOneEngineLinkBothReceiveTheirSamples) {
    Received gotFirst; // outlive the Links
    Received gotSecond;
    ModuleOn device(Carrier::Tcp);
    device.module().stream().setSources({source(1, 1)});
    device.module().stream().setFreeRunning(true);
    Module first;
    Module second;
    ASSERT_EQ(connectModule(first, device.spec()), aErrNone);
    ASSERT_EQ(connectModule(second, device.spec()), aErrNone);
    ASSERT_EQ(
        first.getLink()->registerStreamCallback(kModule, kClass, 1, 0, true, gotFirst.callback(), &gotFirst),
        aErrNone);
    ASSERT_EQ(second.getLink()->registerStreamCallback(kModule, kClass, 1, 0, true, gotSecond.callback(),
                                                       &gotSecond),
              aErrNone);
    device.module().stream().burst(1);
    EXPECT_TRUE(eventuallyTrue([&] { return gotSecond.samples == 1; }));
    EXPECT_TRUE(eventuallyTrue([&] { return gotFirst.samples == 1; }));
}

TEST(StreamLifetime, LinksGoWhileSamplesFlow) {
    for (bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroyed" : "disconnected");
        ModuleOn device(Carrier::Tcp);
        auto module = std::make_unique<Module>();
        ASSERT_EQ(connectModule(*module, device.spec()), aErrNone);
        Received got;
        device.module().stream().setSources({source(1, 1), source(2, 2)});
        device.module().stream().setRate(20000);
        Link* link = module->getLink();
        ASSERT_EQ(link->registerStreamCallback(kModule, kClass, Link::STREAM_WILDCARD, 0, true,
                                               got.callback(), &got),
                  aErrNone);
        ASSERT_TRUE(eventuallyTrue([&] { return got.samples > 500; }));
        if (destroy) {
            module.reset();
        } else {
            EXPECT_EQ(link->disconnect(), aErrNone);
            EXPECT_EQ(link->filterActiveStreamKeys(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, true).size(), 0u);
        }
        // Delivery has stopped by the time the call returns.
        int seen = got.samples;
        aTime_MSSleep(20);
        EXPECT_EQ(got.samples, seen);
    }
}

} // namespace
