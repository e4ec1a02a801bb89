// Link: stream keys and the reading of stream samples.
#include "Link.h"

#include "UEIExchange.h"
#include "aUEI.h"

namespace Veltrano::Halvorine {

namespace {

constexpr uint8 kTypeByte = 3;
constexpr uint8 kSubindexByte = 4;
constexpr uint8 kTimestampBytes = 8;

// Bit positions of the key's elements, by element number.
constexpr unsigned kElementShift[] = {24, 16, 8, 0, 32};

// Bytes of the value each sample type carries (0: no fixed sample).
uint8 sValueWidth(uint8 type) {
    switch (type) {
    case STREAM_PACKET_U8:
    case STREAM_PACKET_SUBINDEX_U8:
        return 1;
    case STREAM_PACKET_U16:
    case STREAM_PACKET_SUBINDEX_U16:
        return 2;
    case STREAM_PACKET_U32:
    case STREAM_PACKET_SUBINDEX_U32:
        return 4;
    default:
        return 0;
    }
}

// Where the timestamp starts: after the type byte, and the subindex if any.
uint8 sTimestampOffset(uint8 type) {
    return static_cast<uint8>(kTypeByte + 1 + (Link::isSubindexType(type) ? 1 : 0));
}

uint64 sBigEndian(const uint8* bytes, uint8 count) {
    uint64 value = 0;
    for (uint8 i = 0; i < count; ++i)
        value = value << 8 | bytes[i];
    return value;
}

} // namespace

unsigned long long Link::createStreamKey(unsigned char module, unsigned char command, unsigned char option,
                                         unsigned char index, unsigned char subindex) {
    return static_cast<uint64>(subindex) << 32 | static_cast<uint64>(module) << 24 |
           static_cast<uint64>(command) << 16 | static_cast<uint64>(option) << 8 | index;
}

unsigned char Link::getStreamKeyElement(unsigned long long key, unsigned char element) {
    if (element >= sizeof kElementShift / sizeof kElementShift[0]) return 0;
    return static_cast<uint8>(key >> kElementShift[element]);
}

unsigned char Link::getStreamPacketType(const aPacket* packet) {
    if (!packet || !aUEI_isStreamPacket(packet)) return STREAM_PACKET_NONE;
    if (packet->data[packet->dataSize - 1] != 0) return STREAM_PACKET_BYTES;
    uint8 type = packet->data[kTypeByte];
    return type >= STREAM_PACKET_U8 && type <= STREAM_PACKET_SUBINDEX_U32 ? type : uint8(STREAM_PACKET_NONE);
}

bool Link::isStreamPacket(const aPacket* packet) {
    return getStreamPacketType(packet) != STREAM_PACKET_NONE;
}

bool Link::isSubindexType(unsigned char type) {
    return type >= STREAM_PACKET_SUBINDEX_U8 && type <= STREAM_PACKET_SUBINDEX_U32;
}

bool Link::isStreamSample(const aPacket* packet) {
    uint8 type = getStreamPacketType(packet);
    uint8 width = sValueWidth(type);
    if (width == 0 || packet->data[packet->dataSize - 1] != 0) return false;
    // The value, then the closing 0.
    return packet->dataSize == sTimestampOffset(type) + kTimestampBytes + width + 1;
}

aErr Link::getStreamSample(const aPacket* packet, unsigned long long* timestamp, unsigned int* value,
                           unsigned char* subindex) {
    uint8 type = getStreamPacketType(packet);
    if (type == STREAM_PACKET_BYTES) return aErrSize;
    if (!isStreamSample(packet)) return aErrPacket;
    const uint8* at = packet->data + sTimestampOffset(type);
    if (timestamp) *timestamp = sBigEndian(at, kTimestampBytes);
    if (value) *value = static_cast<uint32>(sBigEndian(at + kTimestampBytes, sValueWidth(type)));
    if (subindex) *subindex = isSubindexType(type) ? packet->data[kSubindexByte] : 0;
    return aErrNone;
}

aErr Link::getTimestampParts(unsigned long long timestamp, unsigned int* high, unsigned int* low) {
    if (high) *high = static_cast<uint32>(timestamp >> 32);
    if (low) *low = static_cast<uint32>(timestamp);
    return aErrNone;
}

} // namespace Veltrano::Halvorine
