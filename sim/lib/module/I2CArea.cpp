#include "I2CArea.h"

#include <algorithm>

#include "VirtualModule.h"

namespace Veltrano::Sim {

namespace {
constexpr uint8_t kReadBit = 0x01;
constexpr uint8_t kPullupAddress = 1;
constexpr uint8_t kStatusError = 0x80;
constexpr uint8_t kErrTimeout = 18;
constexpr uint8_t kErrParam = 2;
constexpr size_t kMaxTransfer = 23;
} // namespace

bool I2CArea::handle(VirtualModule& module, const ModuleFrame& frame) {
    const std::vector<uint8_t>& d = frame.data;
    if (d.size() < 4 || d[0] != kCommand || d[1] != 0) return false;
    if (d.size() == 4 && d[2] == kPullupAddress) {
        pullup_ = d[3] != 0;
        ModuleFrame reply{frame.address, {kCommand, 0, kPullupAddress, d[3], 0}};
        module.answer("i2c.pullup", reply, [&](uint8_t error) {
            return ModuleFrame{frame.address,
                               {kCommand, 0, kPullupAddress, d[3], uint8_t(kStatusError | error)}};
        });
        return true;
    }
    if (d.size() < 5) return false;
    speed_ = d[4];
    if (d[2] & kReadBit)
        read(module, frame);
    else
        write(module, frame);
    return true;
}

void I2CArea::write(VirtualModule& module, const ModuleFrame& frame) {
    const std::vector<uint8_t>& d = frame.data;
    uint8_t address = d[2];
    size_t length = d[3];
    uint8_t status = 0;
    if (length > kMaxTransfer || d.size() != 5 + length)
        status = kStatusError | kErrParam;
    else if (!bus_.at(address) || bus_.at(address)->away()) // nobody, or rebooting
        status = kStatusError | kErrTimeout;
    else
        bus_.memory(address).assign(d.begin() + 5, d.end());
    ++writes_;
    ModuleFrame reply{frame.address, {kCommand, 0, address, 0, status}};
    module.answer(
        "i2c.write", reply,
        [&](uint8_t error) {
            return ModuleFrame{frame.address, {kCommand, 0, address, 0, uint8_t(kStatusError | error)}};
        },
        4);
}

void I2CArea::read(VirtualModule& module, const ModuleFrame& frame) {
    const std::vector<uint8_t>& d = frame.data;
    uint8_t address = d[2];
    size_t length = std::min<size_t>(d[3], kMaxTransfer);
    ModuleFrame reply{frame.address, {kCommand, 0, address, 0, 0}};
    if (!bus_.at(address)) {
        reply.data[4] = kStatusError | kErrTimeout;
    } else {
        std::vector<uint8_t> bytes = bus_.memory(address);
        bytes.resize(length);
        reply.data[3] = static_cast<uint8_t>(length);
        reply.data.insert(reply.data.end(), bytes.begin(), bytes.end());
    }
    module.answer(
        "i2c.read", reply,
        [&](uint8_t error) {
            return ModuleFrame{frame.address, {kCommand, 0, address, 0, uint8_t(kStatusError | error)}};
        },
        3);
}

} // namespace Veltrano::Sim
