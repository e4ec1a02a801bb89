/* UEI packet utilities: big-endian value readers and classification of a packet
 * by the bytes that the UEI convention puts at the head of its data (data[0] the
 * command, data[1] the option, data[2] the specifier).
 *
 * They only read the packet and keep no state. A NULL or invalid packet is
 * classified as nothing at all: every test answers false and the sequence 0.
 */
#ifndef HALVORINE_AUEI_H
#define HALVORINE_AUEI_H

#include "aPacket.h"

#ifdef __cplusplus
extern "C" {
#endif

/* 16-bit big-endian value of the two bytes at bytes; 0 for NULL. */
unsigned short aUEI_RetrieveShort(const unsigned char* bytes);

/* 32-bit big-endian value of the four bytes at bytes; 0 for NULL. */
unsigned int aUEI_RetrieveInt(const unsigned char* bytes);

/* Converts count big-endian 32-bit values in place to host order.
 * aErrParam for NULL values with a non-zero count. */
aErr aUEI_ModifyIntBuffer(unsigned int* values, unsigned int count);

/* Streamed byte transfers end each chunk with a byte holding the chunk's
 * sequence number (bits 0-6) and a continuation flag (bit 7). Both read the
 * packet's last data byte; 0 and false for a packet without data. */
unsigned char aUEI_getBytesSequence(const aPacket* packet);
bool aUEI_getBytesContinue(const aPacket* packet);

/* True for a full chunk: 27 or 28 data bytes. */
bool aUEI_getBytesFullPacket(const aPacket* packet);

/* True when the packet's command is one whose packets do not follow the UEI
 * convention: 0, 1, 2, 4 (store slots), 8 (I2C), 9, 23, 24, 73 (module
 * information), 94 (factory data), 95 (firmware upgrade), 173, 175; also for a
 * packet without data, which has no command. */
bool aUEI_isNotUEIPayload(const aPacket* packet);

/* True when the packet carries a command that follows the UEI convention. */
bool aUEI_isUEIPayload(const aPacket* packet);

/* True for a streamed value: more than 4 data bytes, a UEI payload, an option
 * byte below 64 and bit 6 (0x40) of the specifier set. */
bool aUEI_isStreamPacket(const aPacket* packet);

#ifdef __cplusplus
}
#endif

#endif
