// The echo test (command 23): the module sends the packet's data back as it
// came. Reply faults: "echo" (an error reply is [23] alone; corrupt alters the
// last echoed byte).
#pragma once

#include <atomic>

#include "ModuleArea.h"

namespace Veltrano::Sim {

class EchoArea : public ModuleArea {
  public:
    static constexpr uint8_t kCommand = 23;
    bool handle(VirtualModule& module, const ModuleFrame& frame) override;
};

} // namespace Veltrano::Sim
