// Factory data (command 0x5E): numbered records (index 0-15). A get [0x5E,
// index | 0x40] starts at the record's beginning and [0x5E, index] goes on;
// each answers [0x5E, index, up to 26 bytes], a full packet meaning more. A
// set sends [0x5E, index | 0x10 (| 0x40 first), up to 26 bytes], each answered
// [0x5E, index]. Both end with [0x5E, 0x20, total high, total low], answered
// [0x5E, 0] when the total matches what moved (a set is then kept) and
// [0x5E, 0x80, aErrSize] when not. Errors set bit 7 of the second byte and
// carry the code in the third. Reply faults: "factory.get", "factory.set",
// "factory.end".
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "ModuleArea.h"

namespace Veltrano::Sim {

class FactoryDataArea : public ModuleArea {
  public:
    static constexpr uint8_t kCommand = 0x5E;

    bool handle(VirtualModule& module, const ModuleFrame& frame) override;
    void reset() override;

    // Any thread.
    void setRecord(uint8_t index, const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> record(uint8_t index) const;

  private:
    void get(VirtualModule& module, const ModuleFrame& frame);
    void set(VirtualModule& module, const ModuleFrame& frame);
    void end(VirtualModule& module, const ModuleFrame& frame);

    mutable std::mutex mutex_;
    std::map<uint8_t, std::vector<uint8_t>> records_;
    // The transfer under way: its record, how far a get went, what a set brought.
    int transferIndex_ = -1;
    bool setting_ = false;
    size_t moved_ = 0;
    std::vector<uint8_t> incoming_;
};

} // namespace Veltrano::Sim
