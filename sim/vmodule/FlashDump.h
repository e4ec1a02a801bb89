// The module's flash image as a file that tests compare with what they sent:
// the raw bytes from the lowest written address to the end of the highest
// region, gaps as 0xFF. Rewritten whole after each write, through a temporary
// file renamed into place, so a reader never sees half of it.
#pragma once

#include <string>

#include "UpgradeArea.h"

namespace Veltrano::Sim {

// False (and the file left as it was) when it cannot be written.
bool writeFlashDump(const std::string& path, const UpgradeArea::Regions& flash);

} // namespace Veltrano::Sim
