#include "aPacket.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

// Streams write the wire form straight from the record.
static_assert(offsetof(aPacket, dataSize) == offsetof(aPacket, address) + 1, "wire form must be contiguous");
static_assert(offsetof(aPacket, data) == offsetof(aPacket, address) + 2, "wire form must be contiguous");

namespace {

// Past this the record only remembers that it overran, so curSize cannot wrap.
constexpr uint8 kOverrunSize = aPACKET_MAX_WIRE + 1;

aErr sGetDataByte(const aPacket* packet, uint8 position, uint8 mask, uint8* value) {
    if (value == nullptr) return aErrParam;
    if (!aVALIDPACKET(packet) || packet->dataSize <= position) return aErrPacket;
    *value = packet->data[position] & mask;
    return aErrNone;
}

} // namespace

extern "C" {

aPacket* aPacket_Create(void) {
    aPacket* packet = static_cast<aPacket*>(std::calloc(1, sizeof(aPacket)));
    if (packet != nullptr) packet->check = aPACKET_CHECK;
    return packet;
}

aPacket* aPacket_CreateWithData(uint8 address, uint8 length, const uint8* data) {
    if (data == nullptr || length > aPACKET_MAX_DATA) return nullptr;
    aPacket* packet = aPacket_Create();
    if (packet == nullptr) return nullptr;
    packet->address = address;
    packet->dataSize = length;
    packet->curSize = uint8(length + 2);
    std::memcpy(packet->data, data, length);
    return packet;
}

aPacket* aPacket_Copy(const aPacket* packet) {
    if (!aVALIDPACKET(packet)) return nullptr;
    return aPacket_CreateWithData(packet->address, packet->dataSize, packet->data);
}

aErr aPacket_Destroy(aPacket** packet) {
    if (packet == nullptr || !aVALIDPACKET(*packet)) return aErrParam;
    (*packet)->check = 0; // a stale pointer to it no longer passes as a packet
    std::free(*packet);
    *packet = nullptr;
    return aErrNone;
}

aErr aPacket_Reset(aPacket* packet) {
    if (!aVALIDPACKET(packet)) return aErrParam;
    packet->curSize = 0;
    packet->address = 0;
    packet->dataSize = 0;
    std::memset(packet->data, 0, sizeof packet->data);
    return aErrNone;
}

aErr aPacket_AddByte(aPacket* packet, uint8 byte) {
    if (!aVALIDPACKET(packet)) return aErrParam;
    if (packet->curSize >= aPACKET_MAX_WIRE) {
        packet->curSize = kOverrunSize;
        return aErrOverrun;
    }
    packet->curSize++;
    if (packet->address == 0) {
        if (byte == 0 || (byte & 1) != 0) return aErrPacket;
        packet->address = byte;
    } else if (packet->curSize == 2) {
        // Decided by position, not by dataSize == 0: a byte after a complete
        // empty packet must not be taken for a new size.
        packet->dataSize = byte;
        if (byte > aPACKET_MAX_DATA) return aErrPacket;
    } else {
        if (packet->curSize > packet->dataSize + 2) return aErrPacket;
        packet->data[packet->curSize - 3] = byte;
    }
    return aErrNone;
}

bool aPacket_IsComplete(const aPacket* packet) {
    // Refused address or size bytes still count in curSize; a packet whose address
    // or size was refused must never pass as complete.
    return aVALIDPACKET(packet) && packet->address != 0 && packet->dataSize <= aPACKET_MAX_DATA &&
           packet->curSize == packet->dataSize + 2;
}

aErr aPacket_GetCmd(const aPacket* packet, uint8* cmd) { return sGetDataByte(packet, 0, 0xFF, cmd); }

aErr aPacket_GetOption(const aPacket* packet, uint8* option) {
    return sGetDataByte(packet, 1, 0x3F, option);
}

aErr aPacket_GetIndex(const aPacket* packet, uint8* index) { return sGetDataByte(packet, 2, 0x1F, index); }

} // extern "C"
