/* Packets: the unit of everything exchanged with a module.
 *
 * On every byte stream a packet travels as its wire form: the address byte, the
 * data-size byte, then dataSize data bytes (2 to 30 bytes in all). There is no
 * start marker, checksum or escape; framing rests on the assembly rules of
 * aPacket_AddByte and on the link's resynchronisation.
 *
 * Packets are heap records owned by whoever holds the pointer; release them with
 * aPacket_Destroy. Every function refuses a record without the check word.
 */
#ifndef HALVORINE_APACKET_H
#define HALVORINE_APACKET_H

#include "aError.h"

#define aPACKET_CHECK 0xBEEF
/* Most data bytes a packet can carry, and the longest wire form. */
#define aPACKET_MAX_DATA 28
#define aPACKET_MAX_WIRE (aPACKET_MAX_DATA + 2)

/* Odd addresses never name a module; these two serve the link itself.
 * Sync [0xAD, 0]: a module answers with an empty packet from its own address.
 * Route forcing [0xAF, 1, on]: 1 switches it on, 0 off. */
#define aPACKET_ADDRESS_SYNC 0xAD
#define aPACKET_ADDRESS_ROUTE 0xAF

#ifdef __cplusplus
extern "C" {
#endif

typedef struct aPacket {
    uint16 check;   /* aPACKET_CHECK in every valid packet */
    uint8 curSize;  /* wire bytes present so far: 2 + data bytes received */
    uint8 address;  /* module address: non-zero and even on packets from a module */
    uint8 dataSize; /* number of data bytes, 0 to aPACKET_MAX_DATA */
    /* data[0] is the command, data[1] & 0x3F the option, data[2] & 0x1F the index. */
    uint8 data[aPACKET_MAX_DATA];
} aPacket;

/* The wire form lies in memory as is: the dataSize + 2 bytes starting at
 * &packet->address can be written to a stream directly. */

/* True when packet is not NULL and carries the check word. */
static inline bool aVALIDPACKET(const aPacket* packet) {
    return packet != NULL && packet->check == aPACKET_CHECK;
}

/* A new zeroed packet (curSize, address and dataSize 0), or NULL. */
aPacket* aPacket_Create(void);

/* A new complete packet holding a copy of length bytes of data (curSize is
 * length + 2). NULL when data is NULL (even for length 0), when length exceeds
 * aPACKET_MAX_DATA, or when memory runs out. */
aPacket* aPacket_CreateWithData(uint8 address, uint8 length, const uint8* data);

/* A new complete packet with the same address, size and data; NULL for an
 * invalid packet. */
aPacket* aPacket_Copy(const aPacket* packet);

/* Frees the packet and clears *packet. aErrParam when packet or *packet is NULL
 * or *packet is not a valid packet (which is then left alone). */
aErr aPacket_Destroy(aPacket** packet);

/* Zeroes curSize, address, dataSize and all data bytes, ready for a new
 * assembly. aErrParam for an invalid packet. */
aErr aPacket_Reset(aPacket* packet);

/* Appends one received wire byte. The first byte is the address (zero or odd:
 * aErrPacket), the second the data size (29 or more: aErrPacket), the rest data
 * bytes (one beyond the announced size: aErrPacket). A byte beyond the 30th
 * answers aErrOverrun. aErrParam for an invalid packet.
 * Test aPacket_IsComplete after every accepted byte. Any error means the byte
 * stream is out of step: reset the packet before assembling again. */
aErr aPacket_AddByte(aPacket* packet, uint8 byte);

/* True when the packet is valid, has an address, and all of its wire bytes are
 * present (curSize = dataSize + 2, dataSize at most aPACKET_MAX_DATA). */
bool aPacket_IsComplete(const aPacket* packet);

/* The command (data[0]), option (data[1] & 0x3F) and index (data[2] & 0x1F).
 * aErrParam when the output pointer is NULL; aErrPacket when the packet is
 * NULL, invalid or has too few data bytes for the field. */
aErr aPacket_GetCmd(const aPacket* packet, uint8* cmd);
aErr aPacket_GetOption(const aPacket* packet, uint8* option);
aErr aPacket_GetIndex(const aPacket* packet, uint8* index);

#ifdef __cplusplus
}

#include <memory>

/* Lets containers own packets: std::unique_ptr<aPacket, aPacketDeleter>. */
struct aPacketDeleter {
    void operator()(aPacket* packet) const { aPacket_Destroy(&packet); }
};
typedef std::unique_ptr<aPacket, aPacketDeleter> aPacketPtr;
#endif

#endif
