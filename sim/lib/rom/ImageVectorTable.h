// The image vector table an i.MX boot ROM looks for where it is told to jump: tag
// 0xD1, length 0x0020 (big-endian), version 0x40, then little-endian words: entry,
// reserved, DCD, boot data, self (the table's own address), CSF, reserved.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Veltrano::Sim {

constexpr size_t kImageVectorTableBytes = 0x20;

// Writes a table at image[at] for an image loaded so that the table lies at self;
// its entry points just past it. The image grows to hold it when shorter.
void putImageVectorTable(std::vector<uint8_t>& image, size_t at, uint32_t self);

} // namespace Veltrano::Sim
