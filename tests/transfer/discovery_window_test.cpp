// The window a module has to come back in: waiting for the discovery turn, while
// another module's search holds it, does not use the window up, and the wait
// itself ends with the window when the turn never comes.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include "DiscoveryLock.h"

namespace {

using namespace std::chrono_literals;

TEST(ReturnWindow, TimeWaitedForTheTurnMovesTheEndAndTheWaitIsBounded) {
    // Another search holds the turn longer than the whole window, then lets go.
    std::promise<void> holding;
    std::thread searcher([&holding] {
        std::lock_guard<TurnLock> held(discoveryLock());
        holding.set_value();
        std::this_thread::sleep_for(500ms);
    });
    holding.get_future().wait();
    ReturnWindow window(300ms);
    std::unique_lock<TurnLock> first = window.takeTurn();
    EXPECT_FALSE(first.owns_lock()) << "the wait ends with the window";
    EXPECT_TRUE(window.open()) << "the time waited was not the module's";
    std::unique_lock<TurnLock> second = window.takeTurn();
    EXPECT_TRUE(second.owns_lock());
    EXPECT_TRUE(window.open());
    searcher.join();
    second.unlock();
    std::this_thread::sleep_for(350ms);
    EXPECT_FALSE(window.open()) << "time not spent waiting counts";
}

} // namespace
