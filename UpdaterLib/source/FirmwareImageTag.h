// The mark by which a test firmware image says what a module reports once it runs
// it: 16 bytes, "VTIMAGE1", the packed version (aVersion layout) and the build
// number, both u32 big-endian. It may sit at any 4-byte-aligned offset of an
// image; the first one found counts. The packing tool appends it, and the virtual
// module looks for it in its flash image when it reboots.
#ifndef UPDATERLIB_FIRMWAREIMAGETAG_H
#define UPDATERLIB_FIRMWAREIMAGETAG_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

struct FirmwareImageTag {
    static constexpr size_t kSize = 16;
    static constexpr size_t kAlignment = 4;

    uint32_t version = 0; // packed
    uint32_t build = 0;

    std::vector<uint8_t> encode() const;
    // The first tag at an aligned offset of the n bytes, if any.
    static std::optional<FirmwareImageTag> find(const uint8_t* bytes, size_t n);
    // image padded with 0xFF to the alignment, then the tag.
    std::vector<uint8_t> appendTo(std::vector<uint8_t> image) const;
};

#endif
