#include "StoreSlotArea.h"

#include <algorithm>

#include "VirtualModule.h"

namespace Veltrano::Sim {

namespace {

enum : uint8_t { kCapacity = 1, kSize = 2, kOpenRead = 3, kOpenWrite = 4, kRead = 6, kWrite = 7, kClose = 8 };
constexpr uint8_t kErrorFlag = 0x80;
constexpr uint8_t kErrNotFound = 3;
constexpr uint8_t kErrOverrun = 15;
constexpr uint8_t kErrParam = 2;
constexpr size_t kReadChunk = 24;
constexpr size_t kMaxWriteChunk = 25;
constexpr uint8_t kNoHandle = 255;

// The reply head [4, option, head...] and its error form with the code after it.
ModuleFrame reply(uint8_t address, std::vector<uint8_t> head) {
    return ModuleFrame{address, std::move(head)};
}

ModuleFrame errorReply(uint8_t address, std::vector<uint8_t> head, uint8_t error) {
    head[1] |= kErrorFlag;
    head.push_back(error);
    return ModuleFrame{address, std::move(head)};
}

const char* faultName(uint8_t option) {
    switch (option) {
    case kCapacity:
        return "store.capacity";
    case kSize:
        return "store.size";
    case kOpenRead:
    case kOpenWrite:
        return "store.open";
    case kRead:
        return "store.read";
    case kWrite:
        return "store.write";
    default:
        return "store.close";
    }
}

} // namespace

bool StoreSlotArea::handle(VirtualModule& module, const ModuleFrame& frame) {
    const std::vector<uint8_t>& d = frame.data;
    if (d.size() < 3 || d[0] != kCommand) return false;
    if (d[1] >= kCapacity && d[1] <= kOpenWrite) {
        if (d.size() != 4) return false;
        slotRequest(module, frame);
        return true;
    }
    if (d[1] < kRead || d[1] > kClose) return false;
    handleRequest(module, frame);
    return true;
}

void StoreSlotArea::slotRequest(VirtualModule& module, const ModuleFrame& frame) {
    const std::vector<uint8_t>& d = frame.data;
    std::vector<uint8_t> head(d.begin(), d.begin() + 4);
    uint8_t option = d[1];
    std::unique_lock<std::mutex> lock(mutex_);
    auto found = slots_.find({d[2], d[3]});
    if (found == slots_.end()) {
        lock.unlock();
        module.send(errorReply(frame.address, head, kErrNotFound));
        return;
    }
    ModuleFrame answer = reply(frame.address, head);
    if (option == kCapacity || option == kSize) {
        uint16_t value = option == kCapacity ? found->second.capacity : uint16_t(found->second.bytes.size());
        answer.data.push_back(static_cast<uint8_t>(value >> 8));
        answer.data.push_back(static_cast<uint8_t>(value));
    } else {
        uint8_t handle = nextHandle_;
        nextHandle_ = static_cast<uint8_t>(nextHandle_ % (kNoHandle - 1) + 1);
        open_[handle] = Open{found->first, option == kOpenWrite, 0, {}};
        answer.data.push_back(handle);
    }
    lock.unlock();
    module.answer(faultName(option), answer,
                  [&](uint8_t error) { return errorReply(frame.address, head, error); });
}

void StoreSlotArea::handleRequest(VirtualModule& module, const ModuleFrame& frame) {
    const std::vector<uint8_t>& d = frame.data;
    std::vector<uint8_t> head(d.begin(), d.begin() + 3);
    uint8_t option = d[1];
    ModuleFrame answer = reply(frame.address, head);
    size_t checked = VirtualModule::kLastByte;
    std::unique_lock<std::mutex> lock(mutex_);
    auto open = open_.find(d[2]);
    uint8_t refusal = 0;
    if (open == open_.end() || (open->second.write != (option == kWrite) && option != kClose)) {
        refusal = kErrParam;
    } else if (option == kRead) {
        const std::vector<uint8_t>& bytes = slots_[open->second.slot].bytes;
        size_t count = std::min(kReadChunk, bytes.size() - std::min(open->second.offset, bytes.size()));
        answer.data.insert(answer.data.end(), bytes.begin() + open->second.offset,
                           bytes.begin() + open->second.offset + count);
        open->second.offset += count;
    } else if (option == kWrite) {
        size_t count = d.size() - 3;
        writeChunks_.push_back(count);
        if (count == 0 || count > kMaxWriteChunk ||
            open->second.written.size() + count > slots_[open->second.slot].capacity) {
            refusal = kErrOverrun;
        } else {
            open->second.written.insert(open->second.written.end(), d.begin() + 3, d.end());
            uint8_t sum = 0;
            for (size_t i = 3; i < d.size(); ++i)
                sum = static_cast<uint8_t>(sum + d[i]);
            answer.data.push_back(sum);
            checked = 3;
        }
    } else {
        if (open->second.write) slots_[open->second.slot].bytes = open->second.written;
        open_.erase(open);
        answer.data.push_back(0);
    }
    lock.unlock();
    if (refusal) {
        module.send(errorReply(frame.address, head, refusal));
        return;
    }
    module.answer(
        faultName(option), answer, [&](uint8_t error) { return errorReply(frame.address, head, error); },
        checked);
}

void StoreSlotArea::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_.clear();
}

void StoreSlotArea::setSlot(uint8_t store, uint8_t slot, uint16_t capacity,
                            const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    slots_[{store, slot}] = Slot{capacity, bytes};
}

std::vector<uint8_t> StoreSlotArea::slot(uint8_t store, uint8_t slot) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = slots_.find({store, slot});
    return found == slots_.end() ? std::vector<uint8_t>{} : found->second.bytes;
}

std::vector<size_t> StoreSlotArea::writeChunks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writeChunks_;
}

} // namespace Veltrano::Sim

namespace Veltrano::Sim {

size_t StoreSlotArea::openSlots() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_.size();
}

} // namespace Veltrano::Sim
