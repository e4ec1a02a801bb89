// The samples of one streamed counter as a subscriber gets them: how many, the
// first value, and what would betray a lost, reordered or misrouted sample (a
// counter value that does not follow the last one, a timestamp earlier than the
// last one, a sample of another value).
//
// Threads: record() runs on a Link's delivery thread; the others on any thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "Link.h"

namespace Veltrano::Sim {

class SampleTally {
  public:
    SampleTally(uint8_t command, uint8_t option, uint8_t index)
        : command_(command), option_(option), index_(index) {}

    // A stream callback for Link::registerStreamCallback, with this tally as reference.
    static Veltrano::Halvorine::streamCallback callback();
    void record(const aPacket* packet);
    // True once `samples` samples are in, false after waitMs without them.
    bool awaitSamples(uint64_t samples, uint32_t waitMs);
    // "stream N first F gaps G disorder D foreign X".
    std::string summary() const;

  private:
    const uint8_t command_, option_, index_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    uint64_t samples_ = 0, gaps_ = 0, disorder_ = 0, foreign_ = 0;
    uint32_t first_ = 0, last_ = 0;
    uint64_t lastTimestamp_ = 0;
};

} // namespace Veltrano::Sim
