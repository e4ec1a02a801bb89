#include "DelayedEchoArea.h"

#include "EchoArea.h"
#include "VirtualModule.h"

namespace Veltrano::Sim {

bool DelayedEchoArea::handle(VirtualModule&, const ModuleFrame& frame) {
    if (frame.data.size() < 2 || frame.data[0] != EchoArea::kCommand || frame.data[1] != kMarker)
        return false;
    pending_.push_back({0, frame}); // timed from the next tick: handle has no clock
    return true;
}

void DelayedEchoArea::tick(VirtualModule& module, uint64_t nowMs) {
    for (Pending& p : pending_)
        if (p.dueMs == 0) p.dueMs = nowMs + delayMs_;
    while (!pending_.empty() && pending_.front().dueMs <= nowMs) {
        module.send(pending_.front().frame);
        pending_.pop_front();
    }
}

uint64_t DelayedEchoArea::dueMs() const {
    // A request not yet timed needs a tick at once.
    return pending_.empty() ? kNever : pending_.front().dueMs;
}

} // namespace Veltrano::Sim
