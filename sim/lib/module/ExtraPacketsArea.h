// A module that says more than it was asked: [23, 0xE7, n, ...] is echoed, and
// n unrequested packets ([23, 0xE7, 0xFF, i]) follow the echo at once, as a
// module answering each packet of a resync's sync burst, or sending on its own
// account, puts more on the line than the host's last request called for.
#pragma once

#include "ModuleArea.h"

namespace Veltrano::Sim {

class ExtraPacketsArea : public ModuleArea {
  public:
    static constexpr uint8_t kMarker = 0xE7;
    static constexpr uint8_t kUnasked = 0xFF;
    bool handle(VirtualModule& module, const ModuleFrame& frame) override;
};

} // namespace Veltrano::Sim
