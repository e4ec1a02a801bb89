#include "VectorChecksum.h"

namespace {

uint32_t wordAt(const uint8_t* bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

} // namespace

uint32_t vectorChecksum(const uint8_t* image) {
    uint32_t sum = 0;
    for (uint32_t at = 0; at < kVectorChecksumOffset; at += 4)
        sum += wordAt(image + at);
    return 0u - sum;
}

uint32_t storedVectorChecksum(const uint8_t* image) {
    return wordAt(image + kVectorChecksumOffset);
}

void setVectorChecksum(uint8_t* image) {
    const uint32_t check = vectorChecksum(image);
    for (uint32_t i = 0; i < 4; ++i)
        image[kVectorChecksumOffset + i] = static_cast<uint8_t>(check >> (8 * i));
}
