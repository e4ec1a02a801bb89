#include "VirtualModule.h"

#include <time.h>

#include <algorithm>

#include "EchoArea.h"
#include "ModuleInfoArea.h"
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
    auto entityValues = std::make_unique<EntityValueArea>();
    auto i2c = std::make_unique<I2CArea>(bus_);
    auto storeSlots = std::make_unique<StoreSlotArea>();
    auto factoryData = std::make_unique<FactoryDataArea>();
    auto upgrade = std::make_unique<UpgradeArea>();
    auto stream = std::make_unique<StreamArea>();
    heartbeat_ = heartbeat.get();
    linkControl_ = linkControl.get();
    system_ = system.get();
    entityValues_ = entityValues.get();
    i2c_ = i2c.get();
    storeSlots_ = storeSlots.get();
    factoryData_ = factoryData.get();
    upgrade_ = upgrade.get();
    stream_ = stream.get();
    auto router = std::make_unique<RouterArea>(bus_, *system_);
    router_ = router.get();
    for (uint8_t slot = 0; slot < 4; ++slot)
        storeSlots_->setSlot(0, slot, 1024);
    areas_.push_back(std::move(linkControl));
    areas_.push_back(std::move(heartbeat));
    areas_.push_back(std::move(system));
    areas_.push_back(std::move(entityValues));
    areas_.push_back(std::make_unique<ModuleInfoArea>());
    areas_.push_back(std::make_unique<EchoArea>());
    areas_.push_back(std::move(i2c));
    areas_.push_back(std::move(storeSlots));
    areas_.push_back(std::move(factoryData));
    areas_.push_back(std::move(upgrade));
    areas_.push_back(std::move(stream));
    areas_.push_back(std::move(router));
}

void VirtualModule::connect(Output output) {
    std::lock_guard<std::mutex> lock(mutex_);
    output_ = std::move(output);
    framer_ = ModuleFramer{};
    hostSpoke_ = false;
    connectionPackets_ = 0;
    connectionBytesOut_ = 0;
    closeRequested_ = false;
    requestCounts_.clear();
    lateReplies_.clear();
    for (auto& area : areas_)
        area->reset();
}

void VirtualModule::disconnect() {
    std::lock_guard<std::mutex> lock(mutex_);
    output_ = nullptr;
}

void VirtualModule::receive(const uint8_t* bytes, size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closeRequested_ || awayNow()) return;
    for (size_t i = 0; i < count; ++i) {
        if (!framer_.feed(bytes[i])) continue;
        ModuleFrame frame = framer_.take();
        ++connectionPackets_;
        ++totalPackets_;
        hostSpoke_ = true;
        handleFrame(frame);
        // What follows a reboot or a dropped link in the same read is lost.
        if (closeRequested_ || awayNow()) return;
    }
}

void VirtualModule::handleFrame(const ModuleFrame& frame) {
    bool controlAddress = frame.address == kSyncAddress || frame.address == kForceRouteAddress;
    if (!controlAddress && frame.address != identity_.address) {
        router_->forward(frame); // to a module on the bus, when routing lets it
        return;
    }
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
    if (!hostSpoke_ || awayNow()) return;
    while (!lateReplies_.empty() && lateReplies_.begin()->first <= nowMs) {
        ModuleFrame reply = std::move(lateReplies_.begin()->second);
        lateReplies_.erase(lateReplies_.begin());
        send(reply);
    }
    for (auto& area : areas_)
        area->tick(*this, nowMs);
}

uint64_t VirtualModule::dueMs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t due = ModuleArea::kNever;
    if (!hostSpoke_) return due;
    if (!lateReplies_.empty()) due = lateReplies_.begin()->first;
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
    return closeRequested_ || (faults_.closeAfterPackets >= 0 &&
                               connectionPackets_ >= static_cast<uint64_t>(faults_.closeAfterPackets));
}

void VirtualModule::dropConnection() {
    closeRequested_ = true;
    output_ = nullptr;
    lateReplies_.clear();
}

void VirtualModule::goAway(uint32_t awayMs, bool returns) {
    // A module on a router's bus has no connection of its own: it just falls
    // silent on the bus until it is back.
    if (!onBus_) dropConnection();
    awayUntilMs_ = returns ? moduleClockMs() + awayMs : ModuleArea::kNever;
    ++departures_;
}

void VirtualModule::setFirmware(uint32_t version, uint32_t build) {
    identity_.version = version;
    identity_.build = build;
}

void VirtualModule::adoptSerialNumber(uint32_t serialNumber) {
    identity_.serialNumber = serialNumber;
}

void VirtualModule::setSerialNumber(uint32_t serialNumber) {
    std::lock_guard<std::mutex> lock(mutex_);
    identity_.serialNumber = serialNumber;
}

bool VirtualModule::awayNow() const {
    return awayUntilMs_ != 0 && (awayUntilMs_ == ModuleArea::kNever || moduleClockMs() < awayUntilMs_);
}

bool VirtualModule::away() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return awayNow();
}

uint64_t VirtualModule::departures() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return departures_;
}

ModuleIdentity VirtualModule::currentIdentity() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return identity_;
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

std::optional<ReplyFault> VirtualModule::nextFault(const char* request) {
    auto planned = faults_.replies.find(request);
    uint32_t seen = requestCounts_[request]++;
    if (planned == faults_.replies.end()) return std::nullopt;
    const ReplyFault& fault = planned->second;
    if (seen < fault.skip) return std::nullopt;
    if (fault.times >= 0 && seen - fault.skip >= static_cast<uint32_t>(fault.times)) return std::nullopt;
    return fault;
}

void VirtualModule::answer(const char* request, ModuleFrame reply,
                           const std::function<ModuleFrame(uint8_t)>& error, size_t checked) {
    answerAs(nextFault(request), std::move(reply), error, checked);
}

void VirtualModule::answerAs(const std::optional<ReplyFault>& fault, ModuleFrame reply,
                             const std::function<ModuleFrame(uint8_t)>& error, size_t checked) {
    if (!fault) {
        send(reply);
        return;
    }
    switch (fault->kind) {
    case ReplyFaultKind::NoReply:
        return;
    case ReplyFaultKind::ErrorReply:
        send(error(fault->error));
        return;
    case ReplyFaultKind::Corrupt:
        if (!reply.data.empty()) {
            size_t at = checked < reply.data.size() ? checked : reply.data.size() - 1;
            reply.data[at] = static_cast<uint8_t>(~reply.data[at]);
        }
        send(reply);
        return;
    case ReplyFaultKind::Short:
        if (!reply.data.empty()) reply.data.pop_back();
        send(reply);
        return;
    case ReplyFaultKind::Late:
        lateReplies_.emplace(moduleClockMs() + fault->lateMs, std::move(reply));
        return;
    }
}

void VirtualModule::attachToBus(VirtualModule& module) {
    std::lock_guard<std::mutex> lock(mutex_);
    bus_.attach(*this, module);
    std::lock_guard<std::mutex> deviceLock(module.mutex_);
    module.onBus_ = true;
}

void VirtualModule::setFaults(const ModuleFaults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_ = faults;
    requestCounts_.clear(); // a new plan counts requests from here
}

void VirtualModule::addArea(std::unique_ptr<ModuleArea> area) {
    std::lock_guard<std::mutex> lock(mutex_);
    areas_.push_back(std::move(area));
}

void VirtualModule::addFirstArea(std::unique_ptr<ModuleArea> area) {
    std::lock_guard<std::mutex> lock(mutex_);
    areas_.insert(areas_.begin(), std::move(area));
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
