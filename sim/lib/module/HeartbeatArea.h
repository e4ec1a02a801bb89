// Heartbeats: every interval the module sends [address, 2, 0, s], s alternating
// between 0 (up) and 1 (down), and expects the host to answer [address, 2, 0, s + 2]
// before the next one. Counts what the host did.
#pragma once

#include <atomic>

#include "ModuleArea.h"

namespace Veltrano::Sim {

struct HeartbeatCounts {
    uint64_t sent = 0;
    uint64_t answered = 0; // right answer in time
    uint64_t wrong = 0;    // an answer with the wrong state, or none pending
    uint64_t missed = 0;   // no answer before the next heartbeat
};

class HeartbeatArea : public ModuleArea {
  public:
    explicit HeartbeatArea(uint32_t intervalMs) : intervalMs_(intervalMs) {}

    bool handle(VirtualModule& module, const ModuleFrame& frame) override;
    void tick(VirtualModule& module, uint64_t nowMs) override;
    uint64_t dueMs() const override;
    void reset() override;

    // 0 switches heartbeats off.
    void setInterval(uint32_t intervalMs) { intervalMs_ = intervalMs; }
    HeartbeatCounts counts() const;

  private:
    std::atomic<uint32_t> intervalMs_;
    uint64_t nextMs_ = 0;
    uint8_t nextState_ = 0;
    bool pending_ = false;
    uint8_t expected_ = 0;
    std::atomic<uint64_t> sent_{0}, answered_{0}, wrong_{0}, missed_{0};
};

} // namespace Veltrano::Sim
