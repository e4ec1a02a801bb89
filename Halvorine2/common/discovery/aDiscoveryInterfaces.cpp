// The host's IPv4 interfaces as czmq sees them, and their dotted form.
#include "aDiscovery.h"

#include <arpa/inet.h>
#include <czmq.h>

#include <cstring>

namespace {
const uint32 kMinTextSize = 22;
}

extern "C" {

uint32 aDiscovery_GetIPv4Interfaces(uint32* addresses, uint32 capacity) {
    if (!addresses) return 0;
    ziflist_t* list = ziflist_new();
    if (!list) return 0;
    uint32 count = 0;
    for (const char* name = ziflist_first(list); name && count < capacity; name = ziflist_next(list)) {
        in_addr address;
        if (inet_pton(AF_INET, ziflist_address(list), &address) == 1) addresses[count++] = address.s_addr;
    }
    ziflist_destroy(&list);
    return count;
}

uint32 aDiscovery_ConvertIPv4Interface(uint32 address, char* buffer, uint32 size) {
    if (!buffer || size < kMinTextSize) return 0;
    std::memset(buffer, 0, size);
    in_addr in;
    in.s_addr = address;
    if (!inet_ntop(AF_INET, &in, buffer, size)) return 0;
    return static_cast<uint32>(std::strlen(buffer));
}

} // extern "C"
