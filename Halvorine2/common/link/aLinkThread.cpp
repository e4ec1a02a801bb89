#include "aLinkThread.h"

#include <chrono>

aLinkThread::~aLinkThread() {
    join();
}

bool aLinkThread::start(std::function<void()> body) {
    if (thread_.joinable()) return false;
    done_ = false;
    try {
        thread_ = std::thread([this, body = std::move(body)] {
            body();
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
            ended_.notify_all();
        });
    } catch (...) {
        return false;
    }
    return true;
}

bool aLinkThread::join(uint32 limitMs) {
    if (!thread_.joinable()) return true;
    bool ended;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        ended = ended_.wait_for(lock, std::chrono::milliseconds(limitMs), [this] { return done_; });
    }
    if (ended) thread_.join();
    return ended;
}

void aLinkThread::join() {
    if (thread_.joinable()) thread_.join();
}
