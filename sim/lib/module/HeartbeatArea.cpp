#include "HeartbeatArea.h"

#include "VirtualModule.h"

namespace Veltrano::Sim {

namespace {
constexpr uint8_t kHeartbeatCommand = 0x00;
constexpr uint8_t kAnswerOffset = 2;
} // namespace

bool HeartbeatArea::handle(VirtualModule& module, const ModuleFrame& frame) {
    if (frame.address != module.identity().address || frame.data.size() != 2 ||
        frame.data[0] != kHeartbeatCommand)
        return false;
    if (pending_ && frame.data[1] == expected_) {
        ++answered_;
        pending_ = false;
    } else {
        ++wrong_;
    }
    return true;
}

void HeartbeatArea::tick(VirtualModule& module, uint64_t nowMs) {
    uint32_t interval = intervalMs_;
    if (interval == 0) {
        nextMs_ = 0;
        return;
    }
    if (nextMs_ == 0) nextMs_ = nowMs + interval;
    if (nowMs < nextMs_) return;
    if (pending_) ++missed_;
    module.send(ModuleFrame{module.identity().address, {kHeartbeatCommand, nextState_}});
    ++sent_;
    pending_ = true;
    expected_ = static_cast<uint8_t>(nextState_ + kAnswerOffset);
    nextState_ ^= 1;
    nextMs_ = nowMs + interval;
}

uint64_t HeartbeatArea::dueMs() const {
    return intervalMs_ == 0 || nextMs_ == 0 ? kNever : nextMs_;
}

void HeartbeatArea::reset() {
    nextMs_ = 0;
    nextState_ = 0;
    pending_ = false;
}

HeartbeatCounts HeartbeatArea::counts() const {
    return {sent_, answered_, wrong_, missed_};
}

} // namespace Veltrano::Sim
