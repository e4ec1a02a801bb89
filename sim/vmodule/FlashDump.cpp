#include "FlashDump.h"

#include "ReplaceFile.h"

namespace Veltrano::Sim {

bool writeFlashDump(const std::string& path, const UpgradeArea::Regions& flash) {
    return replaceFile(path, contiguousImage(flash));
}

} // namespace Veltrano::Sim
