#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "aPacketFifo.h"
#include "aTime.h"

namespace {

// A packet from address 2 whose single data byte tags it.
aPacketPtr tagged(uint8 tag, uint8 address = 2) { return aPacketPtr(aPacket_CreateWithData(address, 1, &tag)); }

int tagOf(const aPacketPtr& packet) { return packet ? packet->data[0] : -1; }

bool matchTag(const aPacket* packet, void* ref) { return packet->data[0] == *static_cast<uint8*>(ref); }
bool acceptAll(const aPacket*, void*) { return true; }
bool acceptEven(const aPacket* packet, void*) { return packet->data[0] % 2 == 0; }

uint32 elapsedSince(uint32 start) { return aTime_GetMSTicks() - start; }

class FifoTest : public ::testing::Test {
  protected:
    void SetUp() override { fifo = aPacketFifo_Create(); }
    void TearDown() override {
        if (fifo != 0) aPacketFifo_Destroy(&fifo);
    }
    void put(uint8 tag) { ASSERT_EQ(aPacketFifo_Put(fifo, tagged(tag).get()), aErrNone); }
    std::vector<int> drainTags() {
        std::vector<int> tags;
        for (aPacketPtr p(aPacketFifo_Get(fifo)); p; p.reset(aPacketFifo_Get(fifo))) tags.push_back(tagOf(p));
        return tags;
    }
    uint64 fifo = 0;
};

TEST_F(FifoTest, CreateGivesDistinctNonZeroIds) {
    ASSERT_NE(fifo, 0u);
    std::set<uint64> ids = {fifo};
    std::vector<uint64> more;
    for (int i = 0; i < 20; ++i) {
        more.push_back(aPacketFifo_Create());
        ASSERT_NE(more.back(), 0u);
        ids.insert(more.back());
    }
    EXPECT_EQ(ids.size(), 21u);
    for (uint64& id : more) EXPECT_EQ(aPacketFifo_Destroy(&id), aErrNone);
}

TEST_F(FifoTest, PutQueuesAnIndependentCopy) {
    uint8 data[] = {7, 8, 9};
    aPacketPtr mine(aPacket_CreateWithData(4, 3, data));
    ASSERT_EQ(aPacketFifo_Put(fifo, mine.get()), aErrNone);
    mine->data[0] = 0x55;
    mine->address = 6;
    aPacketPtr got(aPacketFifo_Get(fifo));
    ASSERT_TRUE(got);
    EXPECT_NE(got.get(), mine.get());
    EXPECT_TRUE(aPacket_IsComplete(got.get()));
    EXPECT_EQ(got->address, 4);
    EXPECT_EQ(got->dataSize, 3);
    EXPECT_EQ(got->curSize, 5);
    EXPECT_EQ(got->data[0], 7);
    EXPECT_EQ(got->data[2], 9);
    EXPECT_EQ(aPacketFifo_GetLength(fifo), 0u);
    EXPECT_EQ(aPacketFifo_Get(fifo), nullptr);
}

TEST_F(FifoTest, KeepsArrivalOrder) {
    for (uint8 tag = 1; tag <= 5; ++tag) put(tag);
    EXPECT_EQ(aPacketFifo_GetLength(fifo), 5u);
    EXPECT_EQ(drainTags(), (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST_F(FifoTest, PutRefusesInvalidPackets) {
    aPacket forged = *tagged(1);
    forged.check = 0;
    EXPECT_EQ(aPacketFifo_Put(fifo, &forged), aErrParam);
    EXPECT_EQ(aPacketFifo_Put(fifo, nullptr), aErrParam);
    aPacket oversize = *tagged(1);
    oversize.dataSize = 29;
    EXPECT_EQ(aPacketFifo_Put(fifo, &oversize), aErrParam);
    EXPECT_EQ(aPacketFifo_GetLength(fifo), 0u);
}

TEST_F(FifoTest, OverflowDiscardsEverything) {
    for (int i = 0; i < 1000; ++i) put(uint8(i));
    EXPECT_EQ(aPacketFifo_GetLength(fifo), 1000u);
    put(0xAA);
    EXPECT_EQ(aPacketFifo_GetLength(fifo), 0u);
    // The queue works on afterwards, and AwaitFirst sees new arrivals.
    put(0x42);
    uint8 want = 0x42;
    aPacketPtr got(aPacketFifo_AwaitFirst(fifo, matchTag, &want, 0));
    EXPECT_EQ(tagOf(got), 0x42);
}

TEST_F(FifoTest, UnregisteredIdsAnswerEmpty) {
    uint64 destroyed = aPacketFifo_Create();
    ASSERT_EQ(aPacketFifo_Destroy(&destroyed), aErrNone);
    EXPECT_EQ(destroyed, 0u);
    uint64 gone = fifo + 1000000; // never created
    aPacketPtr packet = tagged(1);
    uint8 want = 1;
    for (uint64 id : {uint64(0), gone}) {
        EXPECT_EQ(aPacketFifo_Put(id, packet.get()), aErrParam) << id;
        EXPECT_EQ(aPacketFifo_GetLength(id), 0u) << id;
        EXPECT_EQ(aPacketFifo_Get(id), nullptr) << id;
        EXPECT_EQ(aPacketFifo_Await(id, 10), nullptr) << id;
        EXPECT_EQ(aPacketFifo_GetFirst(id, matchTag, &want), nullptr) << id;
        EXPECT_EQ(aPacketFifo_AwaitFirst(id, matchTag, &want, 10), nullptr) << id;
        EXPECT_EQ(aPacketFifo_DrainPackets(id, acceptAll, nullptr), 0u) << id;
        uint64 copy = id;
        EXPECT_EQ(aPacketFifo_Destroy(&copy), aErrNotFound) << id;
        EXPECT_EQ(copy, id);
    }
    EXPECT_EQ(aPacketFifo_Destroy(nullptr), aErrParam);
}

TEST_F(FifoTest, DestroyedIdIsNotReused) {
    uint64 id = fifo;
    ASSERT_EQ(aPacketFifo_Destroy(&fifo), aErrNone);
    fifo = aPacketFifo_Create();
    EXPECT_NE(fifo, id);
    EXPECT_EQ(aPacketFifo_Put(id, tagged(1).get()), aErrParam);
    EXPECT_EQ(aPacketFifo_GetLength(fifo), 0u);
}

TEST_F(FifoTest, GetFirstTakesMatchAndKeepsOrder) {
    for (uint8 tag = 1; tag <= 5; ++tag) put(tag);
    uint8 want = 3;
    aPacketPtr got(aPacketFifo_GetFirst(fifo, matchTag, &want));
    EXPECT_EQ(tagOf(got), 3);
    want = 9;
    EXPECT_EQ(aPacketFifo_GetFirst(fifo, matchTag, &want), nullptr);
    EXPECT_EQ(aPacketFifo_GetFirst(fifo, nullptr, nullptr), nullptr);
    EXPECT_EQ(drainTags(), (std::vector<int>{1, 2, 4, 5}));
}

TEST_F(FifoTest, GetFirstTakesFrontmostOfSeveralMatches) {
    for (uint8 tag : {5, 4, 7, 4, 6}) put(tag);
    aPacketPtr got(aPacketFifo_GetFirst(fifo, acceptEven, nullptr));
    EXPECT_EQ(tagOf(got), 4);
    EXPECT_EQ(drainTags(), (std::vector<int>{5, 7, 4, 6}));
}

TEST_F(FifoTest, DrainRemovesMatchesAndKeepsOthersInOrder) {
    for (uint8 tag = 1; tag <= 7; ++tag) put(tag);
    EXPECT_EQ(aPacketFifo_DrainPackets(fifo, acceptEven, nullptr), 3u);
    EXPECT_EQ(drainTags(), (std::vector<int>{1, 3, 5, 7}));
    for (uint8 tag = 1; tag <= 7; ++tag) put(tag);
    EXPECT_EQ(aPacketFifo_DrainPackets(fifo, nullptr, nullptr), 0u);
    EXPECT_EQ(aPacketFifo_DrainPackets(fifo, acceptAll, nullptr), 7u);
    EXPECT_EQ(aPacketFifo_GetLength(fifo), 0u);
}

TEST_F(FifoTest, AwaitTimesOutOnEmptyFifo) {
    uint32 start = aTime_GetMSTicks();
    EXPECT_EQ(aPacketFifo_Await(fifo, 50), nullptr);
    uint32 waited = elapsedSince(start);
    EXPECT_GE(waited, 49u);
    EXPECT_LT(waited, 1000u);
}

TEST_F(FifoTest, AwaitZeroDoesNotWait) {
    uint32 start = aTime_GetMSTicks();
    EXPECT_EQ(aPacketFifo_Await(fifo, 0), nullptr);
    uint8 want = 1;
    EXPECT_EQ(aPacketFifo_AwaitFirst(fifo, matchTag, &want, 0), nullptr);
    EXPECT_LT(elapsedSince(start), 500u);
    put(1);
    aPacketPtr got(aPacketFifo_Await(fifo, 0));
    EXPECT_EQ(tagOf(got), 1);
}

// A wait polls briefly before it sleeps; the poll must not outlast a short time-out.
TEST_F(FifoTest, ShortWaitsEndAtTheirTimeOut) {
    using Clock = std::chrono::steady_clock;
    uint8 want = 1;
    for (uint32 timeoutMs : {1u, 2u}) {
        for (bool filtered : {false, true}) {
            const auto start = Clock::now();
            aPacketPtr got(filtered ? aPacketFifo_AwaitFirst(fifo, matchTag, &want, timeoutMs)
                                    : aPacketFifo_Await(fifo, timeoutMs));
            const auto waited = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
            EXPECT_FALSE(got);
            EXPECT_GE(waited.count(), timeoutMs * 1000) << timeoutMs << " filtered " << filtered;
            EXPECT_LT(waited.count(), timeoutMs * 1000 + 100000) << timeoutMs << " filtered " << filtered;
        }
    }
}

// Whether the packet comes while the waiter polls or after it sleeps, it is taken.
TEST_F(FifoTest, AwaitTakesPacketsPutEarlyOrLate) {
    for (uint32 delayUs : {0u, 20u, 200u, 5000u}) {
        const uint8 tag = uint8(delayUs);
        std::thread producer([this, delayUs, tag] {
            std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
            aPacketFifo_Put(fifo, tagged(tag).get());
        });
        uint8 want = tag;
        aPacketPtr got(aPacketFifo_AwaitFirst(fifo, matchTag, &want, 5000));
        producer.join();
        EXPECT_EQ(tagOf(got), tag) << delayUs;
    }
}

TEST_F(FifoTest, AwaitReturnsPacketPutByAnotherThread) {
    uint32 start = aTime_GetMSTicks();
    std::thread producer([this] {
        aTime_MSSleep(30);
        aPacketFifo_Put(fifo, tagged(0x11).get());
    });
    aPacketPtr got(aPacketFifo_Await(fifo, 5000));
    uint32 waited = elapsedSince(start);
    producer.join();
    EXPECT_EQ(tagOf(got), 0x11);
    EXPECT_LT(waited, 2000u);
}

TEST_F(FifoTest, AwaitFirstSkipsNonMatchingArrivals) {
    put(1);
    std::thread producer([this] {
        for (uint8 tag : {2, 3, 4}) {
            aTime_MSSleep(10);
            aPacketFifo_Put(fifo, tagged(tag).get());
        }
    });
    uint8 want = 4;
    aPacketPtr got(aPacketFifo_AwaitFirst(fifo, matchTag, &want, 5000));
    producer.join();
    EXPECT_EQ(tagOf(got), 4);
    EXPECT_EQ(drainTags(), (std::vector<int>{1, 2, 3}));
}

// Records how often the filter saw each tag; matches only `wanted`.
struct SeenCounter {
    std::map<int, int> seen;
    int wanted;
    static bool filter(const aPacket* packet, void* ref) {
        auto* self = static_cast<SeenCounter*>(ref);
        self->seen[packet->data[0]]++;
        return packet->data[0] == self->wanted;
    }
};

TEST_F(FifoTest, AwaitFirstTestsEachEntryOnce) {
    for (uint8 tag = 1; tag <= 3; ++tag) put(tag);
    SeenCounter counter;
    counter.wanted = 20;
    std::thread producer([this] {
        for (uint8 tag = 10; tag <= 20; ++tag) {
            aTime_MSSleep(5);
            aPacketFifo_Put(fifo, tagged(tag).get());
        }
    });
    aPacketPtr got(aPacketFifo_AwaitFirst(fifo, SeenCounter::filter, &counter, 5000));
    producer.join();
    EXPECT_EQ(tagOf(got), 20);
    std::map<int, int> expected;
    for (int tag : {1, 2, 3}) expected[tag] = 1;
    for (int tag = 10; tag <= 20; ++tag) expected[tag] = 1;
    EXPECT_EQ(counter.seen, expected);
}

TEST_F(FifoTest, AwaitFirstSeesEntriesAfterFrontRemovals) {
    // Another reader takes entries while we wait; our own scan must neither
    // retest what it has seen nor miss what arrives.
    for (uint8 tag = 1; tag <= 4; ++tag) put(tag);
    SeenCounter counter;
    counter.wanted = 9;
    std::thread other([this] {
        aTime_MSSleep(20);
        aPacketPtr(aPacketFifo_Get(fifo));
        aPacketPtr(aPacketFifo_Get(fifo));
        for (uint8 tag : {7, 8, 9}) aPacketFifo_Put(fifo, tagged(tag).get());
    });
    aPacketPtr got(aPacketFifo_AwaitFirst(fifo, SeenCounter::filter, &counter, 5000));
    other.join();
    EXPECT_EQ(tagOf(got), 9);
    for (int tag : {1, 2, 3, 4, 7, 8, 9}) EXPECT_EQ(counter.seen[tag], 1) << tag;
    EXPECT_EQ(drainTags(), (std::vector<int>{3, 4, 7, 8}));
}

TEST_F(FifoTest, AwaitFirstDeadlineIsFixedAtCall) {
    // Steady non-matching traffic must not stretch the wait.
    std::atomic<bool> stop{false};
    std::thread producer([this, &stop] {
        while (!stop) {
            aPacketFifo_Put(fifo, tagged(1).get());
            aTime_MSSleep(5);
        }
    });
    uint8 want = 2;
    uint32 start = aTime_GetMSTicks();
    aPacketPtr got(aPacketFifo_AwaitFirst(fifo, matchTag, &want, 150));
    uint32 waited = elapsedSince(start);
    stop = true;
    producer.join();
    EXPECT_FALSE(got);
    EXPECT_GE(waited, 149u);
    EXPECT_LT(waited, 1000u);
}

TEST_F(FifoTest, DestroyWakesEveryWaiter) {
    constexpr int kWaiters = 6;
    std::atomic<int> returned{0};
    std::atomic<int> gotPacket{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i) {
        waiters.emplace_back([this, i, &returned, &gotPacket] {
            uint8 want = 0xEE;
            aPacket* packet = (i % 2 == 0) ? aPacketFifo_Await(fifo, 10000)
                                           : aPacketFifo_AwaitFirst(fifo, matchTag, &want, 10000);
            if (packet != nullptr) gotPacket++;
            aPacket_Destroy(&packet);
            returned++;
        });
    }
    aTime_MSSleep(100); // let them reach their waits
    uint32 start = aTime_GetMSTicks();
    uint64 id = fifo;
    ASSERT_EQ(aPacketFifo_Destroy(&fifo), aErrNone);
    EXPECT_EQ(fifo, 0u);
    for (std::thread& waiter : waiters) waiter.join();
    EXPECT_LT(elapsedSince(start), 2000u);
    EXPECT_EQ(returned, kWaiters);
    EXPECT_EQ(gotPacket, 0);
    EXPECT_EQ(aPacketFifo_Await(id, 10), nullptr);
}

TEST_F(FifoTest, DestroyFreesQueuedPackets) {
    for (uint8 tag = 1; tag <= 10; ++tag) put(tag);
    uint64 id = fifo;
    ASSERT_EQ(aPacketFifo_Destroy(&fifo), aErrNone);
    EXPECT_EQ(aPacketFifo_GetLength(id), 0u);
    EXPECT_EQ(aPacketFifo_Get(id), nullptr); // the sanitizer build checks nothing leaked
}

TEST_F(FifoTest, ProducersAndConsumersLoseNothing) {
    constexpr int kProducers = 3, kConsumers = 3, kPerProducer = 300;
    std::vector<std::thread> threads;
    for (int p = 0; p < kProducers; ++p) {
        threads.emplace_back([this, p] {
            for (int i = 0; i < kPerProducer; ++i) {
                uint8 data[2] = {uint8(p), uint8(i)};
                aPacketPtr packet(aPacket_CreateWithData(uint8(2 + 2 * p), 2, data));
                // Keep under the capacity so nothing is discarded.
                while (aPacketFifo_GetLength(fifo) > 500) aTime_MSSleep(1);
                aPacketFifo_Put(fifo, packet.get());
            }
        });
    }
    std::mutex seenMutex;
    std::vector<std::vector<int>> seen(kProducers);
    std::atomic<int> total{0};
    for (int c = 0; c < kConsumers; ++c) {
        threads.emplace_back([&, c] {
            uint8 want = uint8(c % kProducers);
            auto fromProducer = [](const aPacket* packet, void* ref) {
                return packet->data[0] == *static_cast<uint8*>(ref);
            };
            uint32 start = aTime_GetMSTicks();
            while (total < kProducers * kPerProducer && elapsedSince(start) < 20000) {
                // Consumer c takes only producer c's packets, so their order is checkable.
                aPacket* packet = aPacketFifo_AwaitFirst(fifo, fromProducer, &want, 50);
                if (packet == nullptr) continue;
                {
                    std::lock_guard<std::mutex> lock(seenMutex);
                    seen[packet->data[0]].push_back(packet->data[1]);
                }
                total++;
                aPacket_Destroy(&packet);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(total, kProducers * kPerProducer);
    for (int p = 0; p < kProducers; ++p) {
        std::vector<int> expected;
        for (int i = 0; i < kPerProducer; ++i) expected.push_back(uint8(i));
        EXPECT_EQ(seen[p], expected) << p;
    }
}

TEST(FifoRace, DestroyDuringTrafficIsSafe) {
    for (int round = 0; round < 20; ++round) {
        uint64 fifo = aPacketFifo_Create();
        ASSERT_NE(fifo, 0u);
        std::vector<std::thread> threads;
        threads.emplace_back([fifo] {
            for (int i = 0; i < 200; ++i) {
                if (aPacketFifo_Put(fifo, tagged(uint8(i)).get()) != aErrNone) break;
            }
        });
        threads.emplace_back([fifo] {
            for (int i = 0; i < 200; ++i) aPacketPtr(aPacketFifo_Await(fifo, 20));
        });
        threads.emplace_back([fifo] {
            uint8 want = 3;
            for (int i = 0; i < 200; ++i) {
                aPacketPtr(aPacketFifo_AwaitFirst(fifo, matchTag, &want, 20));
                aPacketFifo_DrainPackets(fifo, acceptEven, nullptr);
            }
        });
        aTime_MSSleep(uint32(round % 5));
        uint64 id = fifo;
        EXPECT_EQ(aPacketFifo_Destroy(&id), aErrNone);
        for (std::thread& thread : threads) thread.join();
        EXPECT_EQ(aPacketFifo_GetLength(fifo), 0u);
    }
}

} // namespace
