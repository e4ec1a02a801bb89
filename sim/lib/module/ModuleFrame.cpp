#include "ModuleFrame.h"

#include <utility>

namespace Veltrano::Sim {

std::vector<uint8_t> ModuleFrame::wire() const {
    std::vector<uint8_t> bytes;
    bytes.reserve(data.size() + 2);
    bytes.push_back(address);
    bytes.push_back(static_cast<uint8_t>(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

bool ModuleFramer::feed(uint8_t byte) {
    switch (stage_) {
    case Stage::Address:
        frame_ = ModuleFrame{};
        frame_.address = byte;
        stage_ = Stage::Size;
        return false;
    case Stage::Size:
        if (byte > kMaxFrameData) {
            rejected_ += 2;
            stage_ = Stage::Address;
            return false;
        }
        expected_ = byte;
        if (expected_ == 0) {
            stage_ = Stage::Address;
            return true;
        }
        stage_ = Stage::Data;
        return false;
    case Stage::Data:
        frame_.data.push_back(byte);
        if (frame_.data.size() < expected_) return false;
        stage_ = Stage::Address;
        return true;
    }
    return false;
}

ModuleFrame ModuleFramer::take() {
    return std::move(frame_);
}

} // namespace Veltrano::Sim
