// The link's own control packets: a sync [0xAD, 0] is answered with an empty
// packet from the module's address; force route [0xAF, 1, on] switches routing of
// the module's traffic to this connection.
#pragma once

#include <atomic>

#include "ModuleArea.h"

namespace Veltrano::Sim {

class LinkControlArea : public ModuleArea {
  public:
    bool handle(VirtualModule& module, const ModuleFrame& frame) override;
    void reset() override;

    uint64_t syncsAnswered() const { return syncs_; }
    bool routeForced() const { return routeForced_; }
    uint64_t routeRequests() const { return routeRequests_; }

  private:
    std::atomic<uint64_t> syncs_{0};
    std::atomic<bool> routeForced_{false};
    std::atomic<uint64_t> routeRequests_{0};
};

} // namespace Veltrano::Sim
