#include "aDiscoveryWire.h"

#include <cstring>

namespace {

uint32 sLittle32(const uint8* bytes) {
    return static_cast<uint32>(bytes[0]) | static_cast<uint32>(bytes[1]) << 8 |
           static_cast<uint32>(bytes[2]) << 16 | static_cast<uint32>(bytes[3]) << 24;
}

uint16 sLittle16(const uint8* bytes) {
    return static_cast<uint16>(bytes[0] | bytes[1] << 8);
}

} // namespace

extern "C" {

void aDiscovery_EncodeRequest(uint8 request[aDISCOVERY_DATAGRAM_SIZE]) {
    std::memset(request, 0, aDISCOVERY_DATAGRAM_SIZE);
    request[0] = 1;
}

bool aDiscovery_DecodeReply(const uint8* datagram, size_t length, uint32 sourceAddress, linkSpec* spec) {
    if (!datagram || !spec || length != aDISCOVERY_DATAGRAM_SIZE) return false;
    std::memset(spec, 0, sizeof *spec);
    spec->type = TCPIP;
    spec->moduleAddress = datagram[1];
    spec->routerAddress = datagram[1];
    spec->ipPort = sLittle16(datagram + 2);
    spec->serialNumber = sLittle32(datagram + 4);
    spec->routerSerialNumber = spec->serialNumber;
    spec->model = datagram[12];
    spec->ipAddress = sourceAddress;
    return true;
}

bool aDiscovery_DecodeBeacon(const uint8* payload, size_t length, linkSpec* spec) {
    if (!payload || !spec || length != sizeof(linkSpec) || !aLinkSpec_IsKnownType(sLittle32(payload)))
        return false;
    std::memcpy(spec, payload, sizeof *spec);
    return true;
}

} // extern "C"
