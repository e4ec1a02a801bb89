// The mark of valid user code on an LPC17xx: the boot ROM starts the flash only
// when the first eight words of the vector table (little-endian) sum to 0, so the
// word at 0x1C is the two's complement of the sum of the seven before it.
#ifndef UPDATER_VECTORCHECKSUM_H
#define UPDATER_VECTORCHECKSUM_H

#include <cstdint>

// Offset of the checksum word, and the bytes of the table it covers.
constexpr uint32_t kVectorChecksumOffset = 0x1C;
constexpr uint32_t kVectorTableBytes = 0x20;

// The word that makes the table at image (kVectorTableBytes long) valid.
uint32_t vectorChecksum(const uint8_t* image);
// The word at 0x1C as the image holds it.
uint32_t storedVectorChecksum(const uint8_t* image);
// Writes vectorChecksum into the image at 0x1C.
void setVectorChecksum(uint8_t* image);

#endif
