#include "ImageVectorTable.h"

namespace Veltrano::Sim {

void putImageVectorTable(std::vector<uint8_t>& image, size_t at, uint32_t self) {
    if (image.size() < at + kImageVectorTableBytes) image.resize(at + kImageVectorTableBytes, 0);
    const uint8_t header[4] = {0xD1, 0x00, 0x20, 0x40};
    const uint32_t words[7] = {self + static_cast<uint32_t>(kImageVectorTableBytes), 0, 0, 0, self, 0, 0};
    for (size_t i = 0; i < 4; ++i)
        image[at + i] = header[i];
    for (size_t w = 0; w < 7; ++w)
        for (size_t b = 0; b < 4; ++b)
            image[at + 4 + 4 * w + b] = static_cast<uint8_t>(words[w] >> (8 * b));
}

} // namespace Veltrano::Sim
