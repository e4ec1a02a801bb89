// Discovery over TCP/IP listens for replies on one fixed port, and a reply goes to
// one socket bound there only: two discoveries at once in this process would steal
// each other's replies. Modules updated at once therefore take turns to discover
// (briefly, while connecting); their transfers still overlap.
#ifndef UPDATER_DISCOVERYLOCK_H
#define UPDATER_DISCOVERYLOCK_H

#include <chrono>
#include <condition_variable>
#include <mutex>

// A lock whose wait can end at a time. Made of a mutex and a condition rather than
// std::timed_mutex, whose timed wait the thread sanitizer cannot follow (it then
// reports every unlock as one of a lock never taken).
class TurnLock {
  public:
    void lock() {
        std::unique_lock<std::mutex> guard(mutex_);
        freed_.wait(guard, [this] { return !taken_; });
        taken_ = true;
    }
    bool try_lock() {
        std::lock_guard<std::mutex> guard(mutex_);
        if (taken_) return false;
        taken_ = true;
        return true;
    }
    template <class Clock, class Duration>
    bool try_lock_until(const std::chrono::time_point<Clock, Duration>& end) {
        std::unique_lock<std::mutex> guard(mutex_);
        if (!freed_.wait_until(guard, end, [this] { return !taken_; })) return false;
        taken_ = true;
        return true;
    }
    void unlock() {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            taken_ = false;
        }
        freed_.notify_one();
    }

  private:
    std::mutex mutex_;
    std::condition_variable freed_;
    bool taken_ = false;
};

inline TurnLock& discoveryLock() {
    static TurnLock lock;
    return lock;
}

// The time a module has to show up again. A search for a module that does not
// answer holds the turn for seconds, so with many modules waiting the turn could
// eat the whole window: time spent waiting for the turn is not the module's and
// moves the window's end.
class ReturnWindow {
  public:
    using Clock = std::chrono::steady_clock;
    explicit ReturnWindow(std::chrono::milliseconds length) : end_(Clock::now() + length) {}
    bool open() const { return Clock::now() < end_; }
    // The discovery turn, waited for until the window's end at most; check owns_lock().
    std::unique_lock<TurnLock> takeTurn() {
        std::unique_lock<TurnLock> turn(discoveryLock(), std::defer_lock);
        const Clock::time_point asked = Clock::now();
        turn.try_lock_until(end_);
        end_ += Clock::now() - asked;
        return turn;
    }

  private:
    Clock::time_point end_;
};

#endif
