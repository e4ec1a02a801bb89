// Feeds arbitrary datagrams to the discovery decoders: a multicast reply is taken only at
// exactly 16 bytes and a server's beacon only as a whole 128-byte record of a known link
// type; whatever is taken says exactly what its bytes say, and nothing else is touched.
#include <cstdlib>
#include <cstring>

#include "aDiscoveryWire.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

uint32 little32(const uint8_t* p) {
    return uint32(p[0]) | uint32(p[1]) << 8 | uint32(p[2]) << 16 | uint32(p[3]) << 24;
}

void reply(const uint8_t* data, size_t size) {
    linkSpec spec;
    std::memset(&spec, 0xA5, sizeof spec);
    const uint32 from = 0x0264330Bu;
    bool taken = aDiscovery_DecodeReply(data, size, from, &spec);
    check(taken == (size == aDISCOVERY_DATAGRAM_SIZE));
    if (!taken) {
        for (size_t i = 0; i < sizeof spec; i++)
            check(reinterpret_cast<const uint8_t*>(&spec)[i] == 0xA5);
        return;
    }
    check(spec.type == TCPIP && spec.ipAddress == from);
    check(spec.moduleAddress == data[1] && spec.routerAddress == data[1]);
    check(spec.ipPort == (data[2] | data[3] << 8));
    check(spec.serialNumber == little32(data + 4) && spec.routerSerialNumber == spec.serialNumber);
    check(spec.model == data[12]);
    for (size_t i = 30; i < sizeof spec; i++)
        check(reinterpret_cast<const uint8_t*>(&spec)[i] == 0);
}

void beacon(const uint8_t* data, size_t size) {
    linkSpec spec;
    std::memset(&spec, 0xA5, sizeof spec);
    bool taken = aDiscovery_DecodeBeacon(data, size, &spec);
    check(taken == (size == sizeof(linkSpec) && little32(data) >= 1 && little32(data) <= 4));
    uint8_t unchanged[sizeof spec];
    std::memset(unchanged, 0xA5, sizeof unchanged);
    check(std::memcmp(&spec, taken ? data : unchanged, sizeof spec) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    reply(data, size);
    beacon(data, size);
    // The lengths that matter, whatever the fuzzer's own sizes.
    if (size >= sizeof(linkSpec)) beacon(data, sizeof(linkSpec));
    if (size >= aDISCOVERY_DATAGRAM_SIZE) reply(data, aDISCOVERY_DATAGRAM_SIZE);
    return 0;
}
