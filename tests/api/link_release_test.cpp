// A Link letting go of its engine link while streaming: a copy subscribing in
// the middle of a disconnect, and a stream callback destroying the last copy
// of its own Link.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>

#include "ApiFixtures.h"

using namespace ApiTest;
using Veltrano::Sim::StreamSource;

namespace {

constexpr uint8_t kModule = 4;
constexpr uint8_t kClass = 18;

StreamSource source(uint8_t option, uint32_t value) {
    StreamSource s;
    s.command = kClass;
    s.option = option;
    s.value = value;
    return s;
}

size_t subscriptionsOf(Link& link) {
    const uint8_t any = Link::STREAM_WILDCARD;
    return link.filterActiveStreamKeys(any, any, any, any, any, true).size();
}

// A sample of the class reaches the Link's incoming queue within a second.
bool sampleQueued(Link& link) {
    unsigned char match[] = {kClass};
    unsigned char length = 1;
    unsigned char data[aPACKET_MAX_DATA];
    return link.receivePacket(kModule, match, &length, data, 1000) == aErrNone;
}

std::atomic<int> gSamples{0};

uint8 sCount(const aPacket*, void*) {
    gSamples++;
    return 0;
}

// Holds a delivery thread inside a callback until let go.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool letGo = false;

    // On the delivery thread: true the first time only, once let go.
    bool passFirst() {
        std::unique_lock<std::mutex> lock(mutex);
        if (entered) return false;
        entered = true;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(10), [&] { return letGo; });
        return true;
    }
    bool awaitEntered() {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), [&] { return entered; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex);
        letGo = true;
        changed.notify_all();
    }
};

// Subscribes through another copy of the Link from the first callback, once
// let go: a disconnect of the Link is then waiting for this very callback.
struct SubscribeInGap {
    Link* copy = nullptr;
    Gate gate;
    std::atomic<int> result{-1};

    static uint8 callback(const aPacket*, void* reference) {
        SubscribeInGap* self = static_cast<SubscribeInGap*>(reference);
        if (self->gate.passFirst())
            self->result = self->copy->registerStreamCallback(kModule, kClass, 2, 0, true, sCount, nullptr);
        return 0;
    }
};

// Once a disconnect has stopped the stream, no copy of the Link can put the
// filter back on the engine link it is letting go of (here another Link keeps
// that engine link, and would feed a disconnected Link's callbacks).
TEST(LinkRelease, NoCopySubscribesWhileADisconnectStopsTheStream) {
    ModuleOn device(Carrier::Tcp);
    Module other;
    ASSERT_EQ(connectModule(other, device.spec()), aErrNone);
    Module streaming;
    ASSERT_EQ(connectModule(streaming, device.spec()), aErrNone);
    Link* link = streaming.getLink();
    Link copy = *link;
    Veltrano::Sim::StreamArea& area = device.module().stream();
    area.setSources({source(1, 1)});
    area.setFreeRunning(true);

    SubscribeInGap gap;
    gap.copy = &copy;
    gSamples = 0;
    ASSERT_EQ(link->registerStreamCallback(kModule, kClass, 1, 0, true, SubscribeInGap::callback, &gap),
              aErrNone);
    area.burst(1);
    ASSERT_TRUE(gap.gate.awaitEntered());
    auto disconnecting = std::async(std::launch::async, [&] { return link->disconnect(); });
    // The subscriptions are gone: the disconnect now waits for the callback.
    bool cleared = eventuallyTrue([&] { return subscriptionsOf(*link) == 0; }, 5000);
    gap.gate.release();
    ASSERT_TRUE(cleared);
    ASSERT_EQ(disconnecting.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(disconnecting.get(), aErrNone);

    EXPECT_EQ(gap.result, aErrConnection) << "the Link was letting go of its engine link";
    EXPECT_EQ(subscriptionsOf(copy), 0u);
    EXPECT_FALSE(copy.isConnected());
    area.setSources({source(2, 2)});
    area.burst(1);
    EXPECT_TRUE(sampleQueued(*other.getLink())) << "the sample is the other Link's";
    EXPECT_EQ(gSamples, 0);
}

// Destroys the Link's last copy from its first stream callback.
struct LastCopy {
    std::unique_ptr<Module> owner;
    std::atomic<bool> destroyed{false};

    static uint8 callback(const aPacket*, void* reference) {
        LastCopy* self = static_cast<LastCopy*>(reference);
        if (!self->destroyed) {
            self->owner.reset();
            self->destroyed = true;
        }
        return 0;
    }
};

TEST(LinkRelease, ACallbackMayDestroyTheLastCopyOfItsLink) {
    ModuleOn device(Carrier::Tcp);
    Veltrano::Sim::StreamArea& area = device.module().stream();
    area.setSources({source(1, 1)});
    area.setRate(2000); // more samples queued behind the one that destroys
    LastCopy last;
    last.owner = std::make_unique<Module>();
    ASSERT_EQ(connectModule(*last.owner, device.spec()), aErrNone);
    ASSERT_EQ(
        last.owner->getLink()->registerStreamCallback(kModule, kClass, 1, 0, true, LastCopy::callback, &last),
        aErrNone);
    ASSERT_TRUE(eventuallyTrue([&] { return last.destroyed.load(); }, 5000));
    EXPECT_EQ(last.owner, nullptr);

    // The thread that ended itself is joined as deliveries come and go.
    for (int round = 0; round < 2; ++round) {
        Module next;
        ASSERT_EQ(connectModule(next, device.spec()), aErrNone);
        gSamples = 0;
        ASSERT_EQ(next.getLink()->registerStreamCallback(kModule, kClass, 1, 0, true, sCount, nullptr),
                  aErrNone);
        EXPECT_TRUE(eventuallyTrue([&] { return gSamples > 10; }));
    }
    area.setRate(0);
}

// A callback that ended its own delivery (it removed the last subscription)
// is still waited for when the Link is destroyed from elsewhere: once the
// destructor returns, no callback of the Link runs.
struct EndsItsDelivery {
    Link* link = nullptr;
    Gate gate;
    std::atomic<bool> returned{false};

    static uint8 callback(const aPacket*, void* reference) {
        EndsItsDelivery* self = static_cast<EndsItsDelivery*>(reference);
        if (self->gate.entered) return 0; // only the delivery thread reads it
        self->link->enableStream(kModule, kClass, 1, 0, false);
        if (self->gate.passFirst()) self->returned = true;
        return 0;
    }
};

TEST(LinkRelease, DestroyingALinkWaitsForACallbackThatEndedItsDelivery) {
    ModuleOn device(Carrier::Tcp);
    device.module().stream().setSources({source(1, 1)});
    auto owned = std::make_unique<Module>();
    ASSERT_EQ(connectModule(*owned, device.spec()), aErrNone);
    EndsItsDelivery ends;
    ends.link = owned->getLink();
    ASSERT_EQ(
        ends.link->registerStreamCallback(kModule, kClass, 1, 0, true, EndsItsDelivery::callback, &ends),
        aErrNone);
    device.module().stream().burst(1);
    ASSERT_TRUE(ends.gate.awaitEntered());
    auto destroying = std::async(std::launch::async, [&] { owned.reset(); });
    EXPECT_EQ(destroying.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    ends.gate.release();
    ASSERT_EQ(destroying.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(ends.returned);
}

// A Link still streaming when the program ends, destroyed with the program's
// statics: this one is made before the library's (it comes first on the link
// line) and so goes after them.
struct StreamingAtExit {
    std::unique_ptr<ModuleOn> device;
    std::unique_ptr<Module> module;
};
StreamingAtExit gStreamingAtExit;

void sStreamUntilExit() {
    gStreamingAtExit.device = std::make_unique<ModuleOn>(Carrier::Tcp);
    Veltrano::Sim::StreamArea& area = gStreamingAtExit.device->module().stream();
    area.setSources({source(1, 1)});
    area.setRate(2000);
    gStreamingAtExit.module = std::make_unique<Module>();
    if (connectModule(*gStreamingAtExit.module, gStreamingAtExit.device->spec()) != aErrNone) std::_Exit(3);
    gSamples = 0;
    if (gStreamingAtExit.module->getLink()->registerStreamCallback(kModule, kClass, 1, 0, true, sCount,
                                                                   nullptr) != aErrNone)
        std::_Exit(4);
    if (!eventuallyTrue([] { return gSamples > 10; })) std::_Exit(5);
    std::exit(0);
}

// The program ends while a Link streams: the Link, and the reader feeding it,
// still find the library's streaming bookkeeping alive.
TEST(LinkReleaseDeathTest, AProgramMayEndWhileALinkStreams) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(sStreamUntilExit(), ::testing::ExitedWithCode(0), "");
}

} // namespace
