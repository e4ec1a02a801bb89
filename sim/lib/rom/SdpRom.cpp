#include "SdpRom.h"

#include <algorithm>

namespace Veltrano::Sim {

namespace {

uint32_t sBigEndian32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
}

std::vector<uint8_t> sLittleEndian(uint32_t word) {
    return {uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16), uint8_t(word >> 24)};
}

} // namespace

SdpRom::SdpRom() : SdpRom(Settings()) {}

SdpRom::SdpRom(Settings settings) : settings_(std::move(settings)) {}

void SdpRom::setSink(Sink sink) {
    std::lock_guard<std::mutex> lock(mutex_);
    sink_ = std::move(sink);
}

void SdpRom::setJumpObserver(JumpObserver observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    jumpObserver_ = std::move(observer);
}

void SdpRom::command(const uint8_t (&bytes)[kCommandSize]) {
    std::vector<Reply> replies;
    bool jumped = false;
    uint32_t address = sBigEndian32(bytes + 2);
    JumpObserver observer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (left_) return;
        ++commands_;
        // A new command ends a data phase that never completed.
        dataCount_ = 0;
        incoming_.clear();
        uint16_t type = static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
        dispatch(type, address, bytes[6], sBigEndian32(bytes + 7), sBigEndian32(bytes + 11), replies, jumped);
        observer = jumpObserver_;
    }
    emit(replies);
    if (!jumped) return;
    bool leaves = !observer || observer(address);
    std::lock_guard<std::mutex> lock(mutex_);
    left_ = leaves;
}

void SdpRom::dispatch(uint16_t type, uint32_t address, uint8_t format, uint32_t count, uint32_t value,
                      std::vector<Reply>& out, bool& jumped) {
    switch (type) {
    case kErrorStatus:
        if (settings_.faults.errorStatus == ErrorStatusReply::None) return;
        hab(out);
        if (settings_.faults.errorStatus == ErrorStatusReply::Full) status(out, lastStatus_);
        return;
    case kWriteFile:
    case kDcdWrite:
        dataCommand_ = type;
        dataAddress_ = address;
        dataCount_ = count;
        talked_ = false;
        if (settings_.faults.talkAtDataByte == 0) {
            talked_ = true;
            hab(out);
        }
        if (count == 0) finishData(out);
        return;
    case kWriteRegister: {
        hab(out);
        uint32_t width = format == 0x08 ? 1 : format == 0x10 ? 2 : 4;
        if (!inRam(address, width)) {
            status(out, lastStatus_ = kWriteRefused);
            return;
        }
        std::vector<uint8_t> word = sLittleEndian(value);
        word.resize(width);
        store(address, word);
        status(out, kRegisterWritten);
        return;
    }
    case kReadRegister: {
        hab(out);
        // Answered in whole words; a count past what the link could carry is cut.
        std::vector<uint8_t> bytes = read(address, std::min<uint32_t>(count, 0x10000));
        bytes.resize((bytes.size() + 3) / 4 * 4, 0);
        out.push_back({Part::Data, bytes});
        return;
    }
    case kSkipDcdHeader:
        hab(out);
        status(out, kSkipDcdDone);
        return;
    case kJumpAddress:
        hab(out);
        if (!inImage(address) || !vectorTableAt(address)) {
            status(out, lastStatus_ = kJumpRefused);
            return;
        }
        ++jumps_;
        lastJump_ = address;
        jumped = true;
        return;
    default:
        hab(out);
        status(out, lastStatus_ = kUnknownCommand);
        return;
    }
}

void SdpRom::data(const uint8_t* bytes, size_t count) {
    std::vector<Reply> replies;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (left_ || dataCount_ == 0) return;
        size_t take = std::min<size_t>(count, dataCount_ - incoming_.size());
        incoming_.insert(incoming_.end(), bytes, bytes + take);
        int64_t talkAt = settings_.faults.talkAtDataByte;
        if (!talked_ && talkAt > 0 && incoming_.size() >= static_cast<uint64_t>(talkAt)) {
            talked_ = true;
            hab(replies);
        }
        if (incoming_.size() == dataCount_) finishData(replies);
    }
    emit(replies);
}

void SdpRom::finishData(std::vector<Reply>& out) {
    bool fits = inRam(dataAddress_, dataCount_);
    if (fits) store(dataAddress_, incoming_);
    hab(out);
    uint32_t done = dataCommand_ == kWriteFile ? settings_.faults.writeFileStatus : kRegisterWritten;
    status(out, fits ? done : (lastStatus_ = kWriteRefused));
    dataCount_ = 0;
    incoming_.clear();
}

uint32_t SdpRom::dataExpected() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dataCount_ - static_cast<uint32_t>(incoming_.size());
}

bool SdpRom::left() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return left_;
}

void SdpRom::hab(std::vector<Reply>& out) const {
    out.push_back({Part::Hab, sLittleEndian(settings_.habMode)});
}

void SdpRom::status(std::vector<Reply>& out, uint32_t word) const {
    out.push_back({Part::Status, sLittleEndian(word)});
}

bool SdpRom::inRam(uint32_t address, uint32_t count) const {
    for (const Window& w : settings_.ram)
        if (address >= w.start && uint64_t(address) + count <= uint64_t(w.start) + w.size) return true;
    return false;
}

bool SdpRom::inImage(uint32_t address) const {
    auto region = memory_.upper_bound(address);
    if (region == memory_.begin()) return false;
    --region;
    return address - region->first < region->second.size();
}

bool SdpRom::vectorTableAt(uint32_t address) const {
    constexpr size_t kIvtBytes = 0x20, kSelfAt = 0x14;
    std::vector<uint8_t> ivt = read(address, kIvtBytes);
    const uint32_t self = uint32_t(ivt[kSelfAt]) | uint32_t(ivt[kSelfAt + 1]) << 8 |
                          uint32_t(ivt[kSelfAt + 2]) << 16 | uint32_t(ivt[kSelfAt + 3]) << 24;
    return ivt[0] == 0xD1 && ivt[1] == 0x00 && ivt[2] == 0x20 && (ivt[3] & 0xF0) == 0x40 && self == address;
}

void SdpRom::store(uint32_t address, const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return;
    uint64_t start = address;
    uint64_t end = start + bytes.size();
    // Regions that overlap or touch the new bytes merge with them.
    auto first = memory_.upper_bound(address);
    if (first != memory_.begin() &&
        std::prev(first)->first + uint64_t(std::prev(first)->second.size()) >= start)
        --first;
    auto last = first;
    while (last != memory_.end() && last->first <= end) {
        start = std::min<uint64_t>(start, last->first);
        end = std::max<uint64_t>(end, last->first + uint64_t(last->second.size()));
        ++last;
    }
    std::vector<uint8_t> merged(static_cast<size_t>(end - start), 0);
    for (auto it = first; it != last; ++it)
        std::copy(it->second.begin(), it->second.end(), merged.begin() + (it->first - start));
    std::copy(bytes.begin(), bytes.end(), merged.begin() + (address - start));
    memory_.erase(first, last);
    memory_.emplace(static_cast<uint32_t>(start), std::move(merged));
}

void SdpRom::emit(const std::vector<Reply>& replies) {
    Sink sink;
    bool silent, garble;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sink = sink_;
        silent = settings_.faults.silent;
        garble = settings_.faults.garble;
    }
    if (!sink || silent) return;
    for (Reply reply : replies) {
        if (garble)
            for (uint8_t& byte : reply.bytes)
                byte = static_cast<uint8_t>(~byte);
        sink(reply.part, reply.bytes);
    }
}

void SdpRom::restart() {
    std::lock_guard<std::mutex> lock(mutex_);
    left_ = false;
    lastStatus_ = kStatusOk;
    dataCount_ = 0;
    incoming_.clear();
}

void SdpRom::setFaults(const Faults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.faults = faults;
}

SdpRom::Memory SdpRom::memory() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return memory_;
}

std::vector<uint8_t> SdpRom::bytes(uint32_t address, size_t n) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return read(address, n);
}

std::vector<uint8_t> SdpRom::read(uint32_t address, size_t n) const {
    std::vector<uint8_t> out(n, 0);
    for (const auto& [start, region] : memory_)
        for (size_t i = 0; i < region.size(); ++i) {
            uint64_t at = uint64_t(start) + i;
            if (at >= address && at < uint64_t(address) + n) out[at - address] = region[i];
        }
    return out;
}

uint64_t SdpRom::commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

uint64_t SdpRom::jumps() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return jumps_;
}

uint32_t SdpRom::lastJump() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastJump_;
}

} // namespace Veltrano::Sim
