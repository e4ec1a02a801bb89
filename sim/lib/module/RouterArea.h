// Routing: a module with other modules on its I2C bus passes packets addressed
// to them along, and their replies back to the host, while routing to the host
// is on (the system entity's route-to-me, option 20). Off, both are dropped.
// The modules on the bus keep one connection for the router's lifetime.
#pragma once

#include <atomic>

#include "ModuleArea.h"
#include "ModuleBus.h"
#include "SystemArea.h"

namespace Veltrano::Sim {

class RouterArea : public ModuleArea {
  public:
    RouterArea(ModuleBus& bus, SystemArea& system) : bus_(bus), system_(system) {}

    // Frames for the module itself are not this area's.
    bool handle(VirtualModule&, const ModuleFrame&) override { return false; }
    void tick(VirtualModule& module, uint64_t nowMs) override;
    uint64_t dueMs() const override;

    // A frame addressed to another module: passed to it when it sits on the
    // bus and routing is on.
    void forward(const ModuleFrame& frame);
    uint64_t forwarded() const { return forwarded_; }

  private:
    ModuleBus& bus_;
    SystemArea& system_;
    std::atomic<uint64_t> forwarded_{0};
};

} // namespace Veltrano::Sim
