#include "RouterArea.h"

#include <algorithm>

#include "VirtualModule.h"

namespace Veltrano::Sim {

void RouterArea::forward(const ModuleFrame& frame) {
    VirtualModule* device = bus_.at(frame.address);
    if (!device || !system_.routing()) return;
    std::vector<uint8_t> wire = frame.wire();
    device->receive(wire.data(), wire.size());
    ++forwarded_;
}

void RouterArea::tick(VirtualModule&, uint64_t nowMs) {
    for (auto& [address, device] : bus_.devices())
        device->tick(nowMs);
}

uint64_t RouterArea::dueMs() const {
    uint64_t due = kNever;
    for (const auto& [address, device] : bus_.devices())
        due = std::min(due, device->dueMs());
    return due;
}

} // namespace Veltrano::Sim
