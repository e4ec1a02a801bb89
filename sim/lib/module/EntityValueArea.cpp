#include "EntityValueArea.h"

#include "EntityOption.h"
#include "VirtualModule.h"

namespace Veltrano::Sim {

using Halvorine::EntityOption;
using Halvorine::EntityOptionTable;

namespace {
constexpr uint8_t kErrSize = 14;
constexpr uint8_t kErrInvalidOption = 29;
constexpr uint8_t kAppCommand = 5;
constexpr uint8_t kAppExecute = 1;
constexpr uint8_t kAppResult = 2;

uint32_t bigEndian(std::vector<uint8_t>::const_iterator bytes, unsigned int width) {
    uint32_t value = 0;
    for (unsigned int i = 0; i < width; ++i)
        value = (value << 8) | bytes[i];
    return value;
}
} // namespace

bool EntityValueArea::handle(VirtualModule& module, const ModuleFrame& frame) {
    std::optional<UeiRequest> request = UeiRequest::parse(frame);
    if (!request || request->get == request->set) return false;
    const EntityOptionTable* table = Halvorine::EntityOptionTable_find(request->command);
    if (!table) return false;
    const EntityOption* row = table->find(request->option);
    if (!row || (request->get ? !row->gets() : !row->sets()))
        refuse(module, *request, kErrInvalidOption);
    else if (request->get)
        get(module, *request, *row);
    else
        set(module, *request, *row);
    return true;
}

void EntityValueArea::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    incoming_.clear();
}

void EntityValueArea::get(VirtualModule& module, const UeiRequest& request, const EntityOption& row) {
    uint8_t address = module.identity().address;
    auto error = [&](uint8_t code) { return ueiReplyError(address, request, code); };
    if (request.tail.size() != (row.subindexed ? 1u : 0u)) return refuse(module, request, kErrSize);
    if (row.streamed()) {
        for (const ModuleFrame& chunk :
             ueiReplyChunks(address, request, bytes(request.command, request.index, request.option)))
            module.answer("entity.get", chunk, error);
        return;
    }
    int subindex = row.subindexed ? request.tail[0] : kNoSubindex;
    uint32_t stored = value(request.command, request.index, request.option, subindex);
    module.answer("entity.get",
                  ueiReplyValue(address, request, stored, static_cast<int>(EntityWidth_bytes(row.width))),
                  error);
}

void EntityValueArea::set(VirtualModule& module, const UeiRequest& request, const EntityOption& row) {
    if (row.streamed()) return setStreamed(module, request);
    unsigned int width = EntityWidth_bytes(row.width);
    size_t head = row.subindexed ? 1 : 0;
    if (request.tail.size() != head + width) return refuse(module, request, kErrSize);
    Entity entity{request.command, request.index, request.option};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (row.width == Halvorine::EntityWidth::None)
            ++calls_[entity];
        else
            values_[Slot{request.command, request.index, request.option,
                         row.subindexed ? request.tail[0] : kNoSubindex}] =
                bigEndian(request.tail.begin() + static_cast<long>(head), width);
    }
    uint8_t address = module.identity().address;
    module.answer("entity.set", ueiReplyEmpty(address, request),
                  [&](uint8_t code) { return ueiReplyError(address, request, code); });
    if (request.command == kAppCommand && request.option == kAppExecute) sendResult(module, request);
}

void EntityValueArea::setStreamed(VirtualModule& module, const UeiRequest& request) {
    Entity entity{request.command, request.index, request.option};
    std::unique_lock<std::mutex> lock(mutex_);
    UeiChunkCollector& collector = incoming_[entity];
    switch (collector.take(request)) {
    case UeiChunkCollector::Step::Ignored:
    case UeiChunkCollector::Step::More:
        return;
    case UeiChunkCollector::Step::OutOfStep:
        lock.unlock();
        return refuse(module, request, kErrSize);
    case UeiChunkCollector::Step::Done:
        break;
    }
    bytes_[entity] = collector.bytes();
    incoming_.erase(entity);
    lock.unlock();
    uint8_t address = module.identity().address;
    module.answer("entity.set", ueiReplyEmpty(address, request),
                  [&](uint8_t code) { return ueiReplyError(address, request, code); });
}

void EntityValueArea::refuse(VirtualModule& module, const UeiRequest& request, uint8_t error) {
    module.send(ueiReplyError(module.identity().address, request, error));
}

// An application's result is a reply to a get of option 2 that nobody asked.
void EntityValueArea::sendResult(VirtualModule& module, const UeiRequest& request) {
    UeiRequest result = request;
    result.option = kAppResult;
    result.get = true;
    result.set = false;
    result.tail.clear();
    module.send(
        ueiReplyValue(module.identity().address, result, value(kAppCommand, request.index, kAppResult), 4));
}

void EntityValueArea::setValue(uint8_t command, uint8_t index, uint8_t option, uint32_t value, int subindex) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_[Slot{command, index, option, subindex}] = value;
}

uint32_t EntityValueArea::value(uint8_t command, uint8_t index, uint8_t option, int subindex) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = values_.find(Slot{command, index, option, subindex});
    return found == values_.end() ? 0 : found->second;
}

void EntityValueArea::setBytes(uint8_t command, uint8_t index, uint8_t option,
                               const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    bytes_[Entity{command, index, option}] = bytes;
}

std::vector<uint8_t> EntityValueArea::bytes(uint8_t command, uint8_t index, uint8_t option) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = bytes_.find(Entity{command, index, option});
    return found == bytes_.end() ? std::vector<uint8_t>{} : found->second;
}

uint64_t EntityValueArea::calls(uint8_t command, uint8_t index, uint8_t option) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = calls_.find(Entity{command, index, option});
    return found == calls_.end() ? 0 : found->second;
}

} // namespace Veltrano::Sim
