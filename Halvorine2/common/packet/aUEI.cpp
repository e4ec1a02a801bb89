#include "aUEI.h"

namespace {

// Stream flag in the specifier byte, and the option bits a stream packet leaves clear.
constexpr uint8 kSpecifierStream = 0x40;
constexpr uint8 kOptionHighBits = 0xC0;
constexpr uint8 kSequenceMask = 0x7F;
constexpr uint8 kContinueFlag = 0x80;
constexpr uint8 kStreamMinData = 5;

bool sHasData(const aPacket* packet) { return aVALIDPACKET(packet) && packet->dataSize != 0; }

// Only called on packets with data; an oversize count is read as the largest.
uint8 sLastDataByte(const aPacket* packet) {
    uint8 size = packet->dataSize > aPACKET_MAX_DATA ? aPACKET_MAX_DATA : packet->dataSize;
    return packet->data[size - 1];
}

bool sIsNonUEICommand(uint8 command) {
    switch (command) {
    case 0:
    case 1:
    case 2:
    case 4:   // store slots
    case 8:   // I2C bus
    case 9:
    case 23:
    case 24:
    case 73:  // module information
    case 94:  // factory data
    case 95:  // firmware upgrade
    case 173:
    case 175:
        return true;
    default:
        return false;
    }
}

} // namespace

extern "C" {

unsigned short aUEI_RetrieveShort(const unsigned char* bytes) {
    if (bytes == nullptr) return 0;
    return (unsigned short)((bytes[0] << 8) | bytes[1]);
}

unsigned int aUEI_RetrieveInt(const unsigned char* bytes) {
    if (bytes == nullptr) return 0;
    return (unsigned int)bytes[0] << 24 | (unsigned int)bytes[1] << 16 | (unsigned int)bytes[2] << 8 |
           (unsigned int)bytes[3];
}

aErr aUEI_ModifyIntBuffer(unsigned int* values, unsigned int count) {
    if (values == nullptr && count != 0) return aErrParam;
    for (unsigned int i = 0; i < count; ++i) {
        values[i] = aUEI_RetrieveInt(reinterpret_cast<const unsigned char*>(&values[i]));
    }
    return aErrNone;
}

unsigned char aUEI_getBytesSequence(const aPacket* packet) {
    return sHasData(packet) ? sLastDataByte(packet) & kSequenceMask : 0;
}

bool aUEI_getBytesContinue(const aPacket* packet) {
    return sHasData(packet) && (sLastDataByte(packet) & kContinueFlag) != 0;
}

bool aUEI_getBytesFullPacket(const aPacket* packet) {
    return aVALIDPACKET(packet) && (packet->dataSize == aPACKET_MAX_DATA || packet->dataSize == aPACKET_MAX_DATA - 1);
}

bool aUEI_isNotUEIPayload(const aPacket* packet) {
    if (!aVALIDPACKET(packet)) return false;
    return packet->dataSize == 0 || sIsNonUEICommand(packet->data[0]);
}

bool aUEI_isUEIPayload(const aPacket* packet) {
    return aVALIDPACKET(packet) && !aUEI_isNotUEIPayload(packet);
}

bool aUEI_isStreamPacket(const aPacket* packet) {
    return aVALIDPACKET(packet) && packet->dataSize >= kStreamMinData && aUEI_isUEIPayload(packet) &&
           (packet->data[1] & kOptionHighBits) == 0 && (packet->data[2] & kSpecifierStream) != 0;
}

} // extern "C"
