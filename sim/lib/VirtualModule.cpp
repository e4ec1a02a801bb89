#include "VirtualModule.h"

#include <time.h>

#include <algorithm>

#include "UeiMessage.h"
#include "aUEI.h"

namespace Veltrano::Sim {

namespace {
constexpr uint8_t kErrUnimplemented = 21;

// Commands whose packets do not follow the entity convention are never answered
// with an entity error.
bool isEntityCommand(const ModuleFrame& frame) {
    aPacket* packet =
        aPacket_CreateWithData(frame.address, static_cast<uint8>(frame.data.size()), frame.data.data());
    bool entity = packet && aUEI_isUEIPayload(packet);
    aPacket_Destroy(&packet);
    return entity;
}
} // namespace

uint64_t moduleClockMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

VirtualModule::VirtualModule(ModuleIdentity identity) : identity_(identity) {
    auto heartbeat = std::make_unique<HeartbeatArea>(identity.heartbeatIntervalMs);
    auto linkControl = std::make_unique<LinkControlArea>();
    auto system = std::make_unique<SystemArea>();
    heartbeat_ = heartbeat.get();
    linkControl_ = linkControl.get();
    system_ = system.get();
    areas_.push_back(std::move(linkControl));
    areas_.push_back(std::move(heartbeat));
    areas_.push_back(std::move(system));
}

void VirtualModule::connect(Output output) {
    std::lock_guard<std::mutex> lock(mutex_);
    output_ = std::move(output);
    framer_ = ModuleFramer{};
    hostSpoke_ = false;
    connectionPackets_ = 0;
    connectionBytesOut_ = 0;
    for (auto& area : areas_)
        area->reset();
}

void VirtualModule::disconnect() {
    std::lock_guard<std::mutex> lock(mutex_);
    output_ = nullptr;
}

void VirtualModule::receive(const uint8_t* bytes, size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < count; ++i) {
        if (!framer_.feed(bytes[i])) continue;
        ModuleFrame frame = framer_.take();
        ++connectionPackets_;
        ++totalPackets_;
        hostSpoke_ = true;
        handleFrame(frame);
    }
}

void VirtualModule::handleFrame(const ModuleFrame& frame) {
    bool controlAddress = frame.address == kSyncAddress || frame.address == kForceRouteAddress;
    if (!controlAddress && frame.address != identity_.address) return;
    for (auto& area : areas_)
        if (area->handle(*this, frame)) return;
    answerUnknownRequest(frame);
}

void VirtualModule::answerUnknownRequest(const ModuleFrame& frame) {
    if (frame.address != identity_.address || frame.data.empty() || !isEntityCommand(frame)) return;
    std::optional<UeiRequest> request = UeiRequest::parse(frame);
    if (request) send(ueiReplyError(identity_.address, *request, kErrUnimplemented));
}

void VirtualModule::tick(uint64_t nowMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!hostSpoke_) return;
    for (auto& area : areas_)
        area->tick(*this, nowMs);
}

uint64_t VirtualModule::dueMs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t due = ModuleArea::kNever;
    if (!hostSpoke_) return due;
    for (const auto& area : areas_)
        due = std::min(due, area->dueMs());
    return due;
}

bool VirtualModule::silent() const {
    return faults_.silentAfterPackets >= 0 &&
           connectionPackets_ > static_cast<uint64_t>(faults_.silentAfterPackets);
}

bool VirtualModule::wantsClose() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_.closeAfterPackets >= 0 &&
           connectionPackets_ >= static_cast<uint64_t>(faults_.closeAfterPackets);
}

void VirtualModule::send(const ModuleFrame& frame) {
    if (!output_ || silent()) return;
    if (faults_.closeAfterPackets >= 0 &&
        connectionPackets_ > static_cast<uint64_t>(faults_.closeAfterPackets))
        return;
    std::vector<uint8_t> wire = frame.wire();
    std::vector<uint8_t> out;
    out.reserve(wire.size());
    for (uint8_t byte : wire) {
        uint64_t index = connectionBytesOut_++;
        if (faults_.dropBytes.count(index)) continue;
        out.push_back(faults_.garbleBytes.count(index) ? static_cast<uint8_t>(byte ^ 0xFF) : byte);
    }
    totalBytesOut_ += out.size();
    if (!out.empty()) output_(out.data(), out.size());
}

void VirtualModule::setFaults(const ModuleFaults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_ = faults;
}

void VirtualModule::addArea(std::unique_ptr<ModuleArea> area) {
    std::lock_guard<std::mutex> lock(mutex_);
    areas_.push_back(std::move(area));
}

uint64_t VirtualModule::packetsReceived() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return totalPackets_;
}

uint64_t VirtualModule::bytesSent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return totalBytesOut_;
}

} // namespace Veltrano::Sim
