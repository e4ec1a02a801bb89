#include "FactoryDataArea.h"

#include <algorithm>

#include "VirtualModule.h"

namespace Veltrano::Sim {

namespace {
constexpr uint8_t kFirst = 0x40;
constexpr uint8_t kEnd = 0x20;
constexpr uint8_t kSet = 0x10;
constexpr uint8_t kIndexMask = 0x0F;
constexpr uint8_t kErrorFlag = 0x80;
constexpr uint8_t kErrSize = 14;
constexpr uint8_t kErrNotFound = 3;
constexpr size_t kChunkBytes = 26;

ModuleFrame errorReply(uint8_t address, uint8_t key, uint8_t error) {
    return ModuleFrame{address, {FactoryDataArea::kCommand, uint8_t((key & kIndexMask) | kErrorFlag), error}};
}
} // namespace

bool FactoryDataArea::handle(VirtualModule& module, const ModuleFrame& frame) {
    const std::vector<uint8_t>& d = frame.data;
    if (d.size() < 2 || d[0] != kCommand) return false;
    if (d[1] == kEnd)
        end(module, frame);
    else if (d[1] & kSet)
        set(module, frame);
    else
        get(module, frame);
    return true;
}

void FactoryDataArea::get(VirtualModule& module, const ModuleFrame& frame) {
    uint8_t key = frame.data[1];
    uint8_t index = key & kIndexMask;
    std::unique_lock<std::mutex> lock(mutex_);
    auto found = records_.find(index);
    if (found == records_.end() || (!(key & kFirst) && (transferIndex_ != index || setting_))) {
        lock.unlock();
        module.send(errorReply(frame.address, key, kErrNotFound));
        return;
    }
    if (key & kFirst) {
        transferIndex_ = index;
        setting_ = false;
        moved_ = 0;
    }
    const std::vector<uint8_t>& bytes = found->second;
    size_t count = std::min(kChunkBytes, bytes.size() - std::min(moved_, bytes.size()));
    ModuleFrame reply{frame.address, {kCommand, index}};
    reply.data.insert(reply.data.end(), bytes.begin() + moved_, bytes.begin() + moved_ + count);
    moved_ += count;
    lock.unlock();
    module.answer("factory.get", reply, [&](uint8_t error) { return errorReply(frame.address, key, error); });
}

void FactoryDataArea::set(VirtualModule& module, const ModuleFrame& frame) {
    uint8_t key = frame.data[1];
    uint8_t index = key & kIndexMask;
    std::unique_lock<std::mutex> lock(mutex_);
    if (key & kFirst) {
        transferIndex_ = index;
        setting_ = true;
        incoming_.clear();
    } else if (transferIndex_ != index || !setting_) {
        lock.unlock();
        module.send(errorReply(frame.address, key, kErrNotFound));
        return;
    }
    incoming_.insert(incoming_.end(), frame.data.begin() + 2, frame.data.end());
    lock.unlock();
    module.answer("factory.set", ModuleFrame{frame.address, {kCommand, index}},
                  [&](uint8_t error) { return errorReply(frame.address, key, error); });
}

void FactoryDataArea::end(VirtualModule& module, const ModuleFrame& frame) {
    const std::vector<uint8_t>& d = frame.data;
    size_t total = d.size() >= 4 ? static_cast<size_t>(d[2] << 8 | d[3]) : SIZE_MAX;
    std::unique_lock<std::mutex> lock(mutex_);
    bool ok = transferIndex_ >= 0 && total == (setting_ ? incoming_.size() : moved_);
    if (ok && setting_) records_[static_cast<uint8_t>(transferIndex_)] = incoming_;
    transferIndex_ = -1;
    incoming_.clear();
    lock.unlock();
    if (!ok) {
        module.send(errorReply(frame.address, kEnd, kErrSize));
        return;
    }
    module.answer("factory.end", ModuleFrame{frame.address, {kCommand, 0}},
                  [&](uint8_t error) { return errorReply(frame.address, kEnd, error); });
}

void FactoryDataArea::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    transferIndex_ = -1;
    incoming_.clear();
}

void FactoryDataArea::setRecord(uint8_t index, const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    records_[index & kIndexMask] = bytes;
}

std::vector<uint8_t> FactoryDataArea::record(uint8_t index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = records_.find(index & kIndexMask);
    return found == records_.end() ? std::vector<uint8_t>{} : found->second;
}

} // namespace Veltrano::Sim
