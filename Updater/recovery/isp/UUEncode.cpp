#include "UUEncode.h"

namespace {

char uuChar(uint32_t sixBits) {
    return sixBits == 0 ? '`' : static_cast<char>(sixBits + 32);
}

} // namespace

std::string uuEncodeLine(const uint8_t* bytes, size_t count) {
    if (count > kUULineMaxBytes) count = kUULineMaxBytes;
    std::string line;
    line.reserve(1 + (count + 2) / 3 * 4);
    line += uuChar(static_cast<uint32_t>(count));
    for (size_t i = 0; i < count; i += 3) {
        uint32_t group = 0;
        for (size_t k = 0; k < 3; ++k)
            group = (group << 8) | (i + k < count ? bytes[i + k] : 0u);
        for (int shift = 18; shift >= 0; shift -= 6)
            line += uuChar((group >> shift) & 0x3F);
    }
    return line;
}
