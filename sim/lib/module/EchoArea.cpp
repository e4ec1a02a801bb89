#include "EchoArea.h"

#include "VirtualModule.h"

namespace Veltrano::Sim {

bool EchoArea::handle(VirtualModule& module, const ModuleFrame& frame) {
    if (frame.data.empty() || frame.data[0] != kCommand) return false;
    module.answer("echo", frame, [&](uint8_t) { return ModuleFrame{frame.address, {kCommand}}; });
    return true;
}

} // namespace Veltrano::Sim
