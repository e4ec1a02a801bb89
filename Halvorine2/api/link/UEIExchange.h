// The record of one exchange of the entity convention (UEI): which module,
// entity class (command), option and entity (specifier), and the value with its
// type. Requests and replies travel as packet data:
//
//   request: command, option | 0x40 (get) or | 0x80 (set), index | 0x20,
//            [subindex,] value
//   reply:   command, option (get) or option | 0xC0 (set), index with
//            0x80 for an error (byte 3 is then the aErr code), value
//
// Values are big-endian, their width given by the reply's length: 3 data bytes
// carry none, 4 a byte, 5 a short, 7 an int. Values longer than 4 bytes travel
// in chunks of at most 24 bytes, each followed by a sequence byte (bits 0-6 the
// chunk number modulo 128, bit 7 set while more chunks follow).
#ifndef HALVORINE_UEIEXCHANGE_H
#define HALVORINE_UEIEXCHANGE_H

#include "aPacket.h"

namespace Veltrano::Halvorine {

enum ueiType : uint32 { ueiNone = 0, ueiByte = 1, ueiShort = 2, ueiInt = 4, ueiBytes = 5 };

constexpr uint8 kUEIGet = 0x40;
constexpr uint8 kUEISet = 0x80;
constexpr uint8 kUEISetReply = 0xC0;
constexpr uint8 kUEIRequest = 0x20;
constexpr uint8 kUEIError = 0x80;
constexpr uint8 kUEIIndexMask = 0x1F;
constexpr uint8 kUEIOptionMask = 0x3F;
// Chunk bytes per packet of a streamed value, and the sequence byte's flag.
constexpr uint32 kUEIChunkBytes = 24;
constexpr uint8 kUEIMoreChunks = 0x80;

// A streamed value: in a set, length bytes at data are sent; in a get, data is
// a buffer of length bytes that fills up, *received counting what arrived.
struct ueiBytesValue {
    uint8* data;
    uint8 sequence; // chunk number expected next
    bool more;      // the last chunk taken announced more
    uint32 length;
    uint32* received;
};

struct uei {
    uint8 module;
    uint8 command;
    uint8 option;
    uint8 specifier; // after an error reply: the reply's specifier, bit 7 set
    // Scalars live in uint32 (the narrower members are its low bytes on this
    // little-endian platform); after an error reply it holds the error code.
    union {
        uint8 uchVal;
        uint16 ushVal;
        uint32 uiVal;
        ueiBytesValue bytes;
    } value;
    ueiType type;
};

// A filter deciding whether a received packet answers the exchange in record.
typedef bool (*ueiFilter)(const aPacket* packet, const void* record);

} // namespace Veltrano::Halvorine

#endif
