#include "ExtraPacketsArea.h"

#include "EchoArea.h"
#include "VirtualModule.h"

namespace Veltrano::Sim {

bool ExtraPacketsArea::handle(VirtualModule& module, const ModuleFrame& frame) {
    if (frame.data.size() < 3 || frame.data[0] != EchoArea::kCommand || frame.data[1] != kMarker)
        return false;
    module.send(frame);
    for (uint8_t i = 0; i < frame.data[2]; ++i)
        module.send(ModuleFrame{frame.address, {EchoArea::kCommand, kMarker, kUnasked, i}});
    return true;
}

} // namespace Veltrano::Sim
