// Module information (command 0x49): the build number [0x49, 0xFF] → [0x49,
// 0xFF, build (4 bytes, big-endian)]; whether a UEI is implemented [0x49, 1,
// command, option, index, direction] → [.., status]; entities of a class
// [0x49, 4, command] → [.., count]; sub-entities [0x49, 5, command, index] and
// group [0x49, 6, command, index] → [.., value]. The module implements the
// system entity's options and the I2C bus. Reply faults: "build", "has-uei",
// "class-quantity", "subclass-quantity", "entity-group" (an error reply sets
// bit 7 of the second byte; corrupt alters an echoed byte).
#pragma once

#include "ModuleArea.h"

namespace Veltrano::Sim {

class ModuleInfoArea : public ModuleArea {
  public:
    static constexpr uint8_t kCommand = 0x49;
    bool handle(VirtualModule& module, const ModuleFrame& frame) override;
};

} // namespace Veltrano::Sim
