// One protocol area of the virtual module (link control, heartbeats, the system
// entity, ...). The module offers every frame addressed to it, or to a control
// address, to its areas in turn until one takes it.
#pragma once

#include <cstdint>
#include <limits>

#include "ModuleFrame.h"

namespace Veltrano::Sim {

class VirtualModule;

class ModuleArea {
  public:
    static constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

    virtual ~ModuleArea() = default;
    // True when the frame belongs to this area (answered or deliberately ignored).
    virtual bool handle(VirtualModule& module, const ModuleFrame& frame) = 0;
    // Areas that send on their own account do it here; nowMs is monotonic.
    virtual void tick(VirtualModule& /*module*/, uint64_t /*nowMs*/) {}
    // Monotonic time of the next tick this area needs, or kNever.
    virtual uint64_t dueMs() const { return kNever; }
    // A new connection begins: forget per-connection state.
    virtual void reset() {}
};

} // namespace Veltrano::Sim
