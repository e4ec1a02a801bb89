// The system entity (class 3): serial number, model, module address and firmware
// version. The host's model query is this entity's model get.
#pragma once

#include <atomic>

#include "ModuleArea.h"

namespace Veltrano::Sim {

class SystemArea : public ModuleArea {
  public:
    static constexpr uint8_t kCommand = 3;
    enum Option : uint8_t { kModule = 1, kVersion = 7, kModel = 8, kSerialNumber = 9 };

    bool handle(VirtualModule& module, const ModuleFrame& frame) override;
    uint64_t requestsAnswered() const { return answered_; }

  private:
    std::atomic<uint64_t> answered_{0};
};

} // namespace Veltrano::Sim
