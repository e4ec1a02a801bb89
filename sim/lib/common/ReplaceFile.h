// Rewriting a file that another process may read at any moment: the bytes go to a
// temporary file beside it, renamed into place, so a reader never sees half of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Veltrano::Sim {

// False (and the file left as it was) when it cannot be written.
bool replaceFile(const std::string& path, const std::vector<uint8_t>& bytes);

} // namespace Veltrano::Sim
