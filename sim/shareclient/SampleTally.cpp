#include "SampleTally.h"

#include <chrono>

namespace Veltrano::Sim {

using Veltrano::Halvorine::Link;

Veltrano::Halvorine::streamCallback SampleTally::callback() {
    return [](const aPacket* packet, void* reference) -> uint8 {
        static_cast<SampleTally*>(reference)->record(packet);
        return 0;
    };
}

void SampleTally::record(const aPacket* packet) {
    unsigned long long timestamp = 0;
    unsigned int value = 0;
    bool ours = Link::getStreamSample(packet, &timestamp, &value, nullptr) == aErrNone &&
                packet->data[0] == command_ && (packet->data[1] & 0x3F) == option_ &&
                (packet->data[2] & 0x1F) == index_;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ours) {
        ++foreign_;
        return;
    }
    if (samples_ == 0) {
        first_ = value;
    } else {
        if (value != last_ + 1) ++gaps_;
        if (timestamp < lastTimestamp_) ++disorder_;
    }
    last_ = value;
    lastTimestamp_ = timestamp;
    ++samples_;
    arrived_.notify_all();
}

bool SampleTally::awaitSamples(uint64_t samples, uint32_t waitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return samples_ >= samples; });
}

std::string SampleTally::summary() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return "stream " + std::to_string(samples_) + " first " + std::to_string(first_) + " gaps " +
           std::to_string(gaps_) + " disorder " + std::to_string(disorder_) + " foreign " +
           std::to_string(foreign_);
}

} // namespace Veltrano::Sim
