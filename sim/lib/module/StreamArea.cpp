#include "StreamArea.h"

#include <algorithm>
#include <chrono>

#include "UeiMessage.h"
#include "VirtualModule.h"

namespace Veltrano::Sim {

namespace {

constexpr uint8_t kEnable = 1;
constexpr uint8_t kDisable = 2;
constexpr uint8_t kSetReplyFlags = 0xC0;
constexpr uint8_t kErrorMark = 0x80;
constexpr uint8_t kStreamedMark = 0x40;
constexpr uint8_t kAny = 0xFF;
constexpr size_t kChunkBytes = 24;
constexpr uint8_t kMoreChunks = 0x80;
// A tick sends at most this many rate samples: a stalled carrier does not flood.
constexpr uint64_t kMaxPerTick = 2000;

void appendBigEndian(std::vector<uint8_t>& bytes, uint64_t value, int width) {
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<uint8_t>(value >> shift));
}

uint8_t sampleType(const StreamSource& source) {
    uint8_t type = source.width == 1 ? 1 : source.width == 2 ? 2 : 3;
    return source.subindex ? static_cast<uint8_t>(type + 4) : type;
}

bool fieldCovers(uint8_t field, uint8_t value) {
    return field == kAny || field == value;
}

} // namespace

uint64_t streamClockUs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

bool StreamArea::handle(VirtualModule& module, const ModuleFrame& frame) {
    if (frame.address != module.identity().address || frame.data.empty() || frame.data[0] != kCommand)
        return false;
    answerControl(module, frame);
    return true;
}

void StreamArea::answerControl(VirtualModule& module, const ModuleFrame& frame) {
    std::optional<UeiRequest> request = UeiRequest::parse(frame);
    if (!request) return;
    const uint8_t address = module.identity().address;
    if (request->get && request->option == kEnable) {
        module.answer("stream", ueiReplyValue(address, *request, streaming() ? 1 : 0, 1),
                      [&](uint8_t code) { return ueiReplyError(address, *request, code); });
        return;
    }
    bool control = request->set && (request->option == kEnable || request->option == kDisable);
    if (!control || request->tail.size() != 4) {
        module.send(ueiReplyError(address, *request, 2));
        return;
    }
    const uint8_t confirmation = static_cast<uint8_t>(request->option | kSetReplyFlags);
    auto error = [&](uint8_t code) {
        return ModuleFrame{address, {kCommand, confirmation, kErrorMark, code}};
    };
    std::optional<ReplyFault> fault = module.nextFault("stream");
    if (!fault || fault->kind != ReplyFaultKind::ErrorReply) {
        uint32_t word = 0;
        for (uint8_t byte : request->tail)
            word = word << 8 | byte;
        std::lock_guard<std::mutex> lock(mutex_);
        if (request->option == kEnable)
            subscriptions_.insert(word);
        else
            subscriptions_.erase(word);
    }
    module.answerAs(fault, ModuleFrame{address, {kCommand, confirmation, 0}}, error);
}

void StreamArea::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    subscriptions_.clear();
    rateStartMs_ = 0;
    rateSent_ = 0;
}

void StreamArea::setSources(std::vector<StreamSource> sources) {
    std::lock_guard<std::mutex> lock(mutex_);
    sources_ = std::move(sources);
    next_ = 0;
}

void StreamArea::setRate(uint32_t samplesPerSecond) {
    std::lock_guard<std::mutex> lock(mutex_);
    rate_ = samplesPerSecond;
    rateStartMs_ = 0;
    rateSent_ = 0;
}

void StreamArea::burst(uint32_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    burst_ += count;
}

void StreamArea::setFreeRunning(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    freeRunning_ = on;
}

bool StreamArea::streaming() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !subscriptions_.empty();
}

std::set<uint32_t> StreamArea::subscriptions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return subscriptions_;
}

bool StreamArea::covered(const StreamSource& source, uint8_t address) const {
    if (freeRunning_) return true;
    for (uint32_t word : subscriptions_) {
        if (static_cast<uint8_t>(word >> 24) != address) continue;
        if (fieldCovers(static_cast<uint8_t>(word >> 16), source.command) &&
            fieldCovers(static_cast<uint8_t>(word >> 8), source.option) &&
            fieldCovers(static_cast<uint8_t>(word), source.index))
            return true;
    }
    return false;
}

StreamSource* StreamArea::nextSource(uint8_t address) {
    for (size_t tried = 0; tried < sources_.size(); ++tried) {
        StreamSource& source = sources_[next_ % sources_.size()];
        next_ = (next_ + 1) % sources_.size();
        if (covered(source, address)) return &source;
    }
    return nullptr;
}

uint64_t StreamArea::dueMs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sources_.empty()) return kNever;
    if (burst_ > 0) return 0;
    if (rate_ == 0) return kNever;
    return lastTickMs_ + 1;
}

void StreamArea::tick(VirtualModule& module, uint64_t nowMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    lastTickMs_ = nowMs;
    uint64_t owed = burst_;
    burst_ = 0;
    if (rate_ > 0) {
        if (rateStartMs_ == 0) rateStartMs_ = nowMs;
        uint64_t due = (nowMs - rateStartMs_ + 1) * rate_ / 1000;
        if (due > rateSent_ + kMaxPerTick) rateSent_ = due - kMaxPerTick;
        owed += due > rateSent_ ? due - rateSent_ : 0;
        rateSent_ = std::max(rateSent_, due);
    }
    const uint8_t address = module.identity().address;
    for (uint64_t n = 0; n < owed; ++n) {
        StreamSource* source = nextSource(address);
        if (!source) return;
        sendSample(module, *source);
    }
}

void StreamArea::sendSample(VirtualModule& module, StreamSource& source) {
    const uint8_t address = module.identity().address;
    const uint8_t specifier = static_cast<uint8_t>((source.index & 0x1F) | kStreamedMark);
    const uint64_t timestamp = streamClockUs();
    if (source.width == 0) {
        std::vector<uint8_t> value;
        appendBigEndian(value, timestamp, 8);
        value.insert(value.end(), source.bytes.begin(), source.bytes.end());
        size_t chunks = (value.size() + kChunkBytes - 1) / kChunkBytes;
        for (size_t chunk = 0; chunk < chunks; ++chunk) {
            ModuleFrame frame{address, {source.command, source.option, specifier}};
            auto from = value.begin() + static_cast<std::ptrdiff_t>(chunk * kChunkBytes);
            auto to = value.begin() +
                      static_cast<std::ptrdiff_t>(std::min(value.size(), (chunk + 1) * kChunkBytes));
            frame.data.insert(frame.data.end(), from, to);
            bool more = chunk + 1 < chunks;
            frame.data.push_back(static_cast<uint8_t>((chunk & 0x7F) | (more ? kMoreChunks : 0)));
            module.send(frame);
        }
    } else {
        ModuleFrame frame{address, {source.command, source.option, specifier, sampleType(source)}};
        if (source.subindex) frame.data.push_back(*source.subindex);
        appendBigEndian(frame.data, timestamp, 8);
        appendBigEndian(frame.data, source.value, source.width);
        frame.data.push_back(0);
        module.send(frame);
        source.value += source.step;
    }
    sent_.fetch_add(1);
}

} // namespace Veltrano::Sim
