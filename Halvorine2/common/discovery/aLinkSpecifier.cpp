#include "aLinkSpecifier.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

// The record is its own wire form: no padding, every field where the peers expect it, and
// integers in the byte order the wire uses.
static_assert(sizeof(linkType) == 4, "linkType is a 32-bit field");
static_assert(sizeof(linkSpec) == aLINKSPEC_SIZE, "linkSpec is 128 bytes");
static_assert(offsetof(linkSpec, type) == 0 && offsetof(linkSpec, serialNumber) == 4 &&
                  offsetof(linkSpec, moduleAddress) == 8 && offsetof(linkSpec, routerAddress) == 12 &&
                  offsetof(linkSpec, routerSerialNumber) == 16 && offsetof(linkSpec, model) == 20,
              "linkSpec header fields");
static_assert(offsetof(linkSpec, usbSerialNumber) == 24 && offsetof(linkSpec, ipAddress) == 24 &&
                  offsetof(linkSpec, baudRate) == 24,
              "linkSpec address field");
static_assert(offsetof(linkSpec, ipPort) == 28 && offsetof(linkSpec, portName) == 28, "linkSpec port field");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "linkSpec fields are little-endian on the wire");

extern "C" {

bool aLinkSpec_IsKnownType(uint32 type) {
    return type >= USB && type <= ASOLVAN;
}

linkSpec* aLinkSpec_Create(linkType type) {
    linkSpec* spec = static_cast<linkSpec*>(std::calloc(1, sizeof(linkSpec)));
    if (spec) spec->type = type;
    return spec;
}

linkSpec* aLinkSpec_Copy(linkSpec spec) {
    linkSpec* copy = static_cast<linkSpec*>(std::malloc(sizeof(linkSpec)));
    if (copy) std::memcpy(copy, &spec, sizeof spec);
    return copy;
}

aErr aLinkSpec_Destroy(linkSpec** spec) {
    if (!spec || !*spec) return aErrParam;
    std::free(*spec);
    *spec = nullptr;
    return aErrNone;
}

} // extern "C"
