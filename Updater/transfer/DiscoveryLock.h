// Discovery over TCP/IP listens for replies on one fixed port, and a reply goes to
// one socket bound there only: two discoveries at once in this process would steal
// each other's replies. Modules updated at once therefore take turns to discover
// (briefly, while connecting); their transfers still overlap.
#ifndef UPDATER_DISCOVERYLOCK_H
#define UPDATER_DISCOVERYLOCK_H

#include <chrono>
#include <mutex>

inline std::timed_mutex& discoveryLock() {
    static std::timed_mutex lock;
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
    std::unique_lock<std::timed_mutex> takeTurn() {
        std::unique_lock<std::timed_mutex> turn(discoveryLock(), std::defer_lock);
        const Clock::time_point asked = Clock::now();
        turn.try_lock_until(end_);
        end_ += Clock::now() - asked;
        return turn;
    }

  private:
    Clock::time_point end_;
};

#endif
