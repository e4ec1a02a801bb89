// Value streaming (command 93): the host subscribes to entity values with a set
// of option 1 (enable) or 2 (disable) carrying the word module << 24 | command
// << 16 | option << 8 | index (0xFF in a field: any), confirmed by a reply of
// option 0xC1 or 0xC2 and specifier 0; a get of option 1 answers 1 while any
// subscription stands. Reply faults: "stream" (an error reply keeps the
// confirmation's option, with 0x80 as specifier and the code after it).
//
// While streaming, the module sends samples of the sources a subscription
// covers (or of every source, when free running) at the chosen rate, taking the
// sources in turn, plus any burst asked for. A sample is command, option,
// index | 0x40, type, [subindex,] timestamp (8 bytes), value, 0, all
// big-endian; a bytes source sends the timestamp followed by its bytes as
// chunks of 24 with the usual sequence byte. The timestamp is streamClockUs()
// at the moment of sending.
//
// Threads: the setters and observers may be used from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "ModuleArea.h"

namespace Veltrano::Sim {

struct StreamSource {
    uint8_t command = 0;
    uint8_t option = 0;
    uint8_t index = 0;
    std::optional<uint8_t> subindex;
    // Value bytes: 1, 2 or 4; 0 streams `bytes` instead.
    uint8_t width = 4;
    uint32_t value = 0;
    // Added to the value after each sample (a counter when 1).
    uint32_t step = 0;
    std::vector<uint8_t> bytes;
};

// Microseconds of the monotonic clock: the samples' timestamps.
uint64_t streamClockUs();

class StreamArea : public ModuleArea {
  public:
    static constexpr uint8_t kCommand = 93;

    bool handle(VirtualModule& module, const ModuleFrame& frame) override;
    void tick(VirtualModule& module, uint64_t nowMs) override;
    uint64_t dueMs() const override;
    void reset() override;

    void setSources(std::vector<StreamSource> sources);
    // Samples per second over all sources; 0 stops the steady flow.
    void setRate(uint32_t samplesPerSecond);
    // Sends count more samples at the next tick.
    void burst(uint32_t count);
    // Streams every source whether subscribed or not (a module that keeps
    // streaming after the host said stop).
    void setFreeRunning(bool on);
    bool streaming() const;
    // Subscription words standing now.
    std::set<uint32_t> subscriptions() const;
    // Samples (a bytes value counts once) sent since the module was made.
    uint64_t samplesSent() const { return sent_.load(); }

  private:
    void answerControl(VirtualModule& module, const ModuleFrame& frame);
    bool covered(const StreamSource& source, uint8_t address) const;
    void sendSample(VirtualModule& module, StreamSource& source);
    // The next source to stream, or null when none is due.
    StreamSource* nextSource(uint8_t address);

    mutable std::mutex mutex_;
    std::vector<StreamSource> sources_;
    std::set<uint32_t> subscriptions_;
    bool freeRunning_ = false;
    uint32_t rate_ = 0;
    uint32_t burst_ = 0;
    uint64_t rateStartMs_ = 0; // 0: the flow starts at the next tick
    uint64_t rateSent_ = 0;
    uint64_t lastTickMs_ = 0;
    size_t next_ = 0;
    std::atomic<uint64_t> sent_{0};
};

} // namespace Veltrano::Sim
