// The I2C bus entity (class 8, index 0), with packets of its own: a write
// [8, 0, address, length, speed, bytes] is acknowledged [8, 0, address, 0,
// status] with status 0 only where a module sits on the bus (else 0x80 |
// aErrTimeout); a read [8, 0, address | 1, length, speed] answers [8, 0,
// address | 1, count, status, bytes] with the bytes last written there; a
// pull-up switch [8, 0, 1, on] answers [8, 0, 1, on, 0]. Reply faults:
// "i2c.write", "i2c.read", "i2c.pullup" (corrupt: the status, or a read's count).
#pragma once

#include <atomic>

#include "ModuleArea.h"
#include "ModuleBus.h"

namespace Veltrano::Sim {

class I2CArea : public ModuleArea {
  public:
    static constexpr uint8_t kCommand = 8;

    explicit I2CArea(ModuleBus& bus) : bus_(bus) {}
    bool handle(VirtualModule& module, const ModuleFrame& frame) override;

    bool pullup() const { return pullup_; }
    uint64_t writes() const { return writes_; }
    // Speed of the last request.
    uint8_t lastSpeed() const { return speed_; }

  private:
    void write(VirtualModule& module, const ModuleFrame& frame);
    void read(VirtualModule& module, const ModuleFrame& frame);

    ModuleBus& bus_;
    std::atomic<bool> pullup_{false};
    std::atomic<uint64_t> writes_{0};
    std::atomic<uint8_t> speed_{0};
};

} // namespace Veltrano::Sim
