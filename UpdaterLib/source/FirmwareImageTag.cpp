#include "FirmwareImageTag.h"

#include <cstring>

namespace {

const char kMagic[] = "VTIMAGE1";
constexpr size_t kMagicSize = sizeof kMagic - 1;

void putBigEndian(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t bigEndian(const uint8_t* bytes) {
    return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
}

} // namespace

std::vector<uint8_t> FirmwareImageTag::encode() const {
    std::vector<uint8_t> out(kMagic, kMagic + kMagicSize);
    putBigEndian(out, version);
    putBigEndian(out, build);
    return out;
}

std::optional<FirmwareImageTag> FirmwareImageTag::find(const uint8_t* bytes, size_t n) {
    for (size_t at = 0; bytes && at + kSize <= n; at += kAlignment) {
        if (std::memcmp(bytes + at, kMagic, kMagicSize) != 0) continue;
        FirmwareImageTag tag;
        tag.version = bigEndian(bytes + at + kMagicSize);
        tag.build = bigEndian(bytes + at + kMagicSize + 4);
        return tag;
    }
    return std::nullopt;
}

std::vector<uint8_t> FirmwareImageTag::appendTo(std::vector<uint8_t> image) const {
    image.resize((image.size() + kAlignment - 1) / kAlignment * kAlignment, 0xFF);
    std::vector<uint8_t> tag = encode();
    image.insert(image.end(), tag.begin(), tag.end());
    return image;
}
