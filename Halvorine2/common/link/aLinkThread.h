/* A joinable thread for the link's reader and writer. It is never cancelled: its owner
 * ends it by flags and by interrupting the stream it waits on. */
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
    /* Waits up to limitMs for the thread to end and joins it; false when it is
     * still running then (it is left running, to be joined later). */
    bool join(uint32 limitMs);
    /* Waits until the thread has ended and joins it. */
    void join();

  private:
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
};

#endif
