#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "aMutex.h"
#include "aTime.h"

TEST(Mutex, NameLimits) {
    std::string name255(255, 'n');
    aMutex* m = aMutex_Create(name255.c_str());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(aMutex_Identifier(m), name255);
    EXPECT_EQ(aMutex_Destroy(&m), aErrNone);
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(aMutex_Create(std::string(256, 'n').c_str()), nullptr);
    m = aMutex_Create(nullptr);
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(aMutex_Identifier(m), "");
    aMutex_Destroy(&m);
    EXPECT_EQ(aMutex_Lock(nullptr), aErrParam);
    EXPECT_EQ(aMutex_TryLock(nullptr), aErrParam);
    EXPECT_EQ(aMutex_Unlock(nullptr), aErrParam);
    EXPECT_EQ(aMutex_Destroy(nullptr), aErrParam);
}

TEST(Mutex, RecursiveForOwnerBusyForOthers) {
    aMutex* m = aMutex_Create("m");
    ASSERT_EQ(aMutex_Lock(m), aErrNone);
    ASSERT_EQ(aMutex_TryLock(m), aErrNone) << "owner may lock again";
    aErr other = aErrNone;
    std::thread([&] { other = aMutex_TryLock(m); }).join();
    EXPECT_EQ(other, aErrBusy);
    EXPECT_EQ(aMutex_Unlock(m), aErrNone);
    std::thread([&] { other = aMutex_TryLock(m); }).join();
    EXPECT_EQ(other, aErrBusy) << "still held once";
    EXPECT_EQ(aMutex_Unlock(m), aErrNone);
    std::thread([&] {
        other = aMutex_TryLock(m);
        if (other == aErrNone) aMutex_Unlock(m);
    }).join();
    EXPECT_EQ(other, aErrNone);
    aMutex_Destroy(&m);
}

TEST(Mutex, DestroyRefusedWhileAnotherThreadHolds) {
    aMutex* m = aMutex_Create("held");
    std::atomic<bool> locked{false}, release{false};
    std::thread holder([&] {
        aMutex_Lock(m);
        locked = true;
        for (int i = 0; i < 5000 && !release; ++i)
            aTime_MSSleep(1);
        aMutex_Unlock(m);
    });
    for (int i = 0; i < 5000 && !locked; ++i)
        aTime_MSSleep(1);
    ASSERT_TRUE(locked);
    EXPECT_EQ(aMutex_Destroy(&m), aErrBusy);
    EXPECT_NE(m, nullptr);
    release = true;
    holder.join();
    EXPECT_EQ(aMutex_Destroy(&m), aErrNone);
}

// A thread waiting in Lock keeps the mutex alive: the owner's Destroy is refused (it
// used to release the lock to the waiter and free the record under it).
TEST(Mutex, DestroyRefusedWhileAnotherThreadIsTaking) {
    aMutex* m = aMutex_Create("taken");
    ASSERT_EQ(aMutex_Lock(m), aErrNone);
    ASSERT_EQ(aMutex_Lock(m), aErrNone);
    std::atomic<bool> calling{false}, holding{false}, release{false};
    std::thread taker([&] {
        calling = true;
        if (aMutex_Lock(m) != aErrNone) return;
        holding = true;
        for (int i = 0; i < 5000 && !release; ++i)
            aTime_MSSleep(1);
        aMutex_Unlock(m);
    });
    for (int i = 0; i < 5000 && !calling; ++i)
        aTime_MSSleep(1);
    aTime_MSSleep(100); // time to block inside Lock

    EXPECT_EQ(aMutex_Destroy(&m), aErrBusy) << "another thread is taking it";
    ASSERT_NE(m, nullptr);
    EXPECT_FALSE(holding);
    EXPECT_EQ(aMutex_Unlock(m), aErrNone);
    EXPECT_EQ(aMutex_Unlock(m), aErrNone);
    for (int i = 0; i < 5000 && !holding; ++i)
        aTime_MSSleep(1);
    EXPECT_TRUE(holding) << "the waiter takes it once released";
    EXPECT_EQ(aMutex_Destroy(&m), aErrBusy) << "another thread holds it";
    release = true;
    taker.join();
    EXPECT_EQ(aMutex_Destroy(&m), aErrNone);
    EXPECT_EQ(m, nullptr);
}

TEST(Mutex, LockExcludesOtherThreads) {
    aMutex* m = aMutex_Create("counter");
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            aMutex_Lock(m);
            ++counter;
            aMutex_Unlock(m);
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
    aMutex_Destroy(&m);
}

TEST(Time, TicksAdvanceAndZeroSleepReturnsAtOnce) {
    uint32 start = aTime_GetMSTicks();
    EXPECT_EQ(aTime_MSSleep(0), aErrNone);
    EXPECT_LT(uint32(aTime_GetMSTicks() - start), 5u);
    EXPECT_EQ(aTime_MSSleep(20), aErrNone);
    uint32 elapsed = aTime_GetMSTicks() - start;
    EXPECT_GE(elapsed, 20u);
    EXPECT_LT(elapsed, 1000u);
}
