// Wire layout of a BIRD firmware file, shared by the reader and the writer.
//
// A file is a six-byte header ("bird" and two non-zero format bytes) followed by one
// zlib stream. The inflated body holds a big-endian block count, the blocks back to
// back (descriptor byte, big-endian payload length, payload) and a four-byte checksum.
#ifndef UPDATERLIB_BIRDFORMAT_H
#define UPDATERLIB_BIRDFORMAT_H

#include <cstddef>

#include "aDefs.h"

namespace birdFormat {

constexpr uint8 magic[4] = {'b', 'i', 'r', 'd'};
constexpr uint8 currentFormat[2] = {1, 1};
constexpr size_t headerSize = 6;

constexpr size_t countSize = 4;
constexpr size_t checksumSize = 4;
constexpr size_t blockHeaderSize = 5; // descriptor byte + payload length

// Descriptor byte: type in the low five bits, flags in the high three.
constexpr uint8 typeMask = 0x1F;
constexpr unsigned flagsShift = 5;
constexpr uint8 flagsMask = 0x07;

// Images start with their big-endian load address.
constexpr size_t addressSize = 4;

// Serial-number locations: serial location, then descriptor location.
constexpr size_t locationsSize = 8;

// Identity record: four space-padded 16-character text fields.
constexpr size_t identityFieldSize = 16;
constexpr size_t identityFirstField = 0;
constexpr size_t identityVersionField = 16;
constexpr size_t identitySerialField = 32;
constexpr size_t identityModelField = 48;
constexpr size_t identitySize = 64;
constexpr size_t identitySerialDigits = 8;

constexpr size_t startAddressSize = 4;

inline uint8 descriptor(uint8 type, uint8 flags) {
    return static_cast<uint8>((type & typeMask) | ((flags & flagsMask) << flagsShift));
}
inline uint8 descriptorType(uint8 descriptor) {
    return descriptor & typeMask;
}
inline uint8 descriptorFlags(uint8 descriptor) {
    return (descriptor >> flagsShift) & flagsMask;
}

inline uint32 readBE32(const uint8* p) {
    return (uint32(p[0]) << 24) | (uint32(p[1]) << 16) | (uint32(p[2]) << 8) | uint32(p[3]);
}
inline void writeBE32(uint8* p, uint32 value) {
    p[0] = uint8(value >> 24);
    p[1] = uint8(value >> 16);
    p[2] = uint8(value >> 8);
    p[3] = uint8(value);
}

} // namespace birdFormat

#endif
