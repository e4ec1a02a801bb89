// A slow echo for sharing tests: [23, 0xDE, ...] is echoed only after a delay, so
// that a client can go away while its request is still with the module.
#pragma once

#include <deque>

#include "ModuleArea.h"

namespace Veltrano::Sim {

class DelayedEchoArea : public ModuleArea {
  public:
    static constexpr uint8_t kMarker = 0xDE;
    explicit DelayedEchoArea(uint32_t delayMs) : delayMs_(delayMs) {}
    bool handle(VirtualModule& module, const ModuleFrame& frame) override;
    void tick(VirtualModule& module, uint64_t nowMs) override;
    uint64_t dueMs() const override;
    void reset() override { pending_.clear(); }

  private:
    struct Pending {
        uint64_t dueMs;
        ModuleFrame frame;
    };
    uint32_t delayMs_;
    std::deque<Pending> pending_;
};

} // namespace Veltrano::Sim
