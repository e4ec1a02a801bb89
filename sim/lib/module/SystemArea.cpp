#include "SystemArea.h"

#include "UeiMessage.h"
#include "VirtualModule.h"

namespace Veltrano::Sim {

namespace {
constexpr uint8_t kErrSize = 14;
} // namespace

bool SystemArea::handle(VirtualModule& module, const ModuleFrame& frame) {
    std::optional<UeiRequest> request = UeiRequest::parse(frame);
    if (!request || request->command != kCommand || request->index != 0) return false;
    bool handled = request->get ? get(module, *request) : request->set && set(module, *request);
    if (handled) ++answered_;
    return handled;
}

void SystemArea::reset() {
    routing_ = false;
    incoming_.clear();
}

bool SystemArea::get(VirtualModule& module, const UeiRequest& request) {
    const ModuleIdentity& id = module.identity();
    uint32_t value = 0;
    int width = 1;
    switch (request.option) {
    case kModule:
        value = id.address;
        break;
    case kRouter:
        value = router_;
        break;
    case kVersion:
        value = id.version;
        width = 4;
        break;
    case kModel:
        value = id.model;
        break;
    case kSerialNumber:
        value = id.serialNumber;
        width = 4;
        break;
    case kBuild:
        value = id.build;
        width = 4;
        break;
    case kProtocolFeatures:
        value = features_;
        width = 4;
        break;
    case kIdentifier:
        // Asked with a subindex byte, the word it names.
        if (!hasIdentifier_ || request.tail.size() != 1 || request.tail[0] >= identifier_.size())
            return false;
        value = identifier_[request.tail[0]];
        width = 4;
        break;
    case kName:
        sendName(module, request);
        return true;
    default:
        return false;
    }
    module.answer("system.get", ueiReplyValue(id.address, request, value, width),
                  [&](uint8_t error) { return ueiReplyError(id.address, request, error); });
    return true;
}

bool SystemArea::set(VirtualModule& module, const UeiRequest& request) {
    uint8_t address = module.identity().address;
    switch (request.option) {
    case kRouter:
    case kRouteToMe:
        if (request.tail.size() != 1) return false;
        if (request.option == kRouter)
            router_ = request.tail[0];
        else
            routing_ = request.tail[0] != 0;
        break;
    case kReset:
        ++resets_;
        break;
    case kName:
        takeNameChunk(module, request);
        return true;
    default:
        return false;
    }
    module.answer("system.set", ueiReplyEmpty(address, request),
                  [&](uint8_t error) { return ueiReplyError(address, request, error); });
    return true;
}

void SystemArea::sendName(VirtualModule& module, const UeiRequest& request) {
    uint8_t address = module.identity().address;
    for (const ModuleFrame& chunk : ueiReplyChunks(address, request, name()))
        module.answer("system.get", chunk,
                      [&](uint8_t error) { return ueiReplyError(address, request, error); });
}

void SystemArea::takeNameChunk(VirtualModule& module, const UeiRequest& request) {
    uint8_t address = module.identity().address;
    switch (incoming_.take(request)) {
    case UeiChunkCollector::Step::Ignored:
    case UeiChunkCollector::Step::More:
        return;
    case UeiChunkCollector::Step::OutOfStep:
        // Out of step: refuse the whole value.
        module.send(ueiReplyError(address, request, kErrSize));
        return;
    case UeiChunkCollector::Step::Done:
        break;
    }
    setName(incoming_.bytes());
    incoming_.clear();
    module.answer("system.set", ueiReplyEmpty(address, request),
                  [&](uint8_t error) { return ueiReplyError(address, request, error); });
}

void SystemArea::setIdentifier(const std::array<uint32_t, 4>& words) {
    for (size_t i = 0; i < words.size(); ++i)
        identifier_[i] = words[i];
    hasIdentifier_ = true;
}

void SystemArea::setName(const std::vector<uint8_t>& name) {
    std::lock_guard<std::mutex> lock(nameMutex_);
    name_ = name;
}

std::vector<uint8_t> SystemArea::name() const {
    std::lock_guard<std::mutex> lock(nameMutex_);
    return name_;
}

} // namespace Veltrano::Sim
