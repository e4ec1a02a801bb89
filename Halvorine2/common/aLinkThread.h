/* A joinable thread with a bounded join, for the link's reader and writer. */
#ifndef HALVORINE_ALINKTHREAD_H
#define HALVORINE_ALINKTHREAD_H

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "aDefs.h"

class aLinkThread {
  public:
    aLinkThread() = default;
    ~aLinkThread();
    aLinkThread(const aLinkThread&) = delete;
    aLinkThread& operator=(const aLinkThread&) = delete;

    /* False when the thread cannot be started. */
    bool start(std::function<void()> body);
    bool started() const { return thread_.joinable(); }
    /* Waits up to limitMs for the thread to end and joins it. A thread still
     * running then is cancelled as a last resort; answers false in that case. */
    bool join(uint32 limitMs);

  private:
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
};

#endif
