// The beacon-interface guard: which settings it takes, the lock it holds, and the
// setting it puts back.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "zBeaconInterface.h"

namespace {

using namespace std::chrono_literals;

// Another thread taking the lock and releasing it at once. The lock must be free again
// before the probe goes (its thread is joined).
class LockProbe {
  public:
    LockProbe()
        : thread_([this] {
              zBeaconInterface_getAndLock();
              zBeaconInterface_unlock();
              done_ = true;
          }) {}
    ~LockProbe() { thread_.join(); }
    bool doneWithin(std::chrono::milliseconds bound) {
        auto deadline = std::chrono::steady_clock::now() + bound;
        while (!done_ && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(5ms);
        return done_;
    }

  private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

bool lockFree() {
    return LockProbe().doneWithin(2000ms);
}

TEST(BeaconInterface, RefusesAnythingButAnAddressEmptyOrStarWithoutLocking) {
    struct Case {
        const char* setting;
        bool valid;
    } cases[] = {{"", true},        {"*", true},           {"127.0.0.1", true}, {"203.0.113.5", true},
                 {"eth0", false},   {"lo", false},         {"**", false},       {" ", false},
                 {"10.0.0", false}, {"10.0.0.256", false}, {"::1", false},      {nullptr, false}};
    for (const Case& c : cases) {
        const std::string label = c.setting ? c.setting : "(null)";
        EXPECT_EQ(zBeaconInterface_isValid(c.setting), c.valid) << label;
        bool locked = zBeaconInterface_setAndLock(c.setting);
        EXPECT_EQ(locked, c.valid) << label;
        if (locked) {
            EXPECT_STREQ(zBeaconInterface_get(), c.setting);
            LockProbe other;
            EXPECT_FALSE(other.doneWithin(100ms)) << label;
            zBeaconInterface_unlock();
            EXPECT_TRUE(other.doneWithin(2000ms)) << label;
        }
        EXPECT_TRUE(lockFree()) << label;
    }
}

TEST(BeaconInterface, RestorePutsBackTheSettingFromBeforeThePair) {
    ASSERT_TRUE(zBeaconInterface_setAndLock("198.51.100.1"));
    zBeaconInterface_unlock();
    ASSERT_TRUE(zBeaconInterface_backupSetAndLock("10.0.0.5"));
    EXPECT_STREQ(zBeaconInterface_get(), "10.0.0.5");
    EXPECT_STREQ(zBeaconInterface_getBackup(), "198.51.100.1");
    zBeaconInterface_restoreAndUnlock();
    EXPECT_STREQ(zBeaconInterface_get(), "198.51.100.1");
    EXPECT_TRUE(lockFree());

    EXPECT_STREQ(zBeaconInterface_getBackupAndLock(), "198.51.100.1");
    zBeaconInterface_unlock();
    EXPECT_TRUE(lockFree());
}

TEST(BeaconInterface, AnotherThreadWaitsForTheHolder) {
    ASSERT_TRUE(zBeaconInterface_setAndLock("198.51.100.1"));
    auto other = std::async(std::launch::async, [] {
        bool locked = zBeaconInterface_setAndLock("203.0.113.1");
        std::string seen = zBeaconInterface_get();
        zBeaconInterface_unlock();
        return locked ? seen : std::string("refused");
    });
    EXPECT_EQ(other.wait_for(200ms), std::future_status::timeout);
    EXPECT_STREQ(zBeaconInterface_get(), "198.51.100.1");
    zBeaconInterface_unlock();
    ASSERT_EQ(other.wait_for(2000ms), std::future_status::ready);
    EXPECT_EQ(other.get(), "203.0.113.1");
}

// The lock is not recursive: the holder asking again must neither hang nor lose it, and
// only the holder can release it.
TEST(BeaconInterface, HolderCannotDeadlockItselfAndOthersCannotUnlockIt) {
    ASSERT_TRUE(zBeaconInterface_setAndLock("198.51.100.1"));
    EXPECT_FALSE(zBeaconInterface_setAndLock("203.0.113.1"));
    EXPECT_FALSE(zBeaconInterface_backupSetAndLock("203.0.113.1"));
    EXPECT_STREQ(zBeaconInterface_getAndLock(), "198.51.100.1");
    std::async(std::launch::async, [] {
        zBeaconInterface_unlock();
        zBeaconInterface_restoreAndUnlock();
    }).wait();
    EXPECT_STREQ(zBeaconInterface_get(), "198.51.100.1");
    LockProbe other;
    EXPECT_FALSE(other.doneWithin(100ms));
    zBeaconInterface_unlock();
    EXPECT_TRUE(other.doneWithin(2000ms));
}

} // namespace
