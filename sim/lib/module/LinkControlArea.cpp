#include "LinkControlArea.h"

#include "VirtualModule.h"

namespace Veltrano::Sim {

bool LinkControlArea::handle(VirtualModule& module, const ModuleFrame& frame) {
    if (frame.address == kSyncAddress && frame.data.empty()) {
        ++syncs_;
        // No error form exists: an error or corrupt answer comes from address 0.
        ModuleFrame answer{module.identity().address, {}};
        module.answer("sync", answer, [](uint8_t) { return ModuleFrame{0, {}}; });
        return true;
    }
    if (frame.address == kForceRouteAddress && frame.data.size() == 1) {
        ++routeRequests_;
        routeForced_ = frame.data[0] != 0;
        return true;
    }
    return false;
}

void LinkControlArea::reset() {
    routeForced_ = false;
}

} // namespace Veltrano::Sim
