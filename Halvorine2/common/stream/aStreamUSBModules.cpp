#include "aStreamUSBModules.h"

#include <cctype>
#include <cstring>

namespace {

const char kDecimalPrefix[] = "RFICB";
const char kDecimalSuffix[] = ".A";

// Digits of the given base, the whole span, fitting 32 bits.
bool sParseNumber(const char* text, size_t length, uint32 base, uint32* value) {
    if (length == 0) return false;
    uint64 number = 0;
    for (size_t i = 0; i < length; i++) {
        int c = static_cast<unsigned char>(text[i]);
        int digit;
        if (std::isdigit(c)) digit = c - '0';
        else if (base == 16 && std::isxdigit(c)) digit = std::toupper(c) - 'A' + 10;
        else return false;
        number = number * base + static_cast<uint64>(digit);
        if (number > 0xFFFFFFFFu) return false;
    }
    *value = static_cast<uint32>(number);
    return true;
}

struct EnumerateState {
    aStreamUSBModuleProc found;
    void* ref;
    uint32 count;
};

bool sVisit(const aStreamUSBDevice* device, void* ref) {
    EnumerateState* state = static_cast<EnumerateState*>(ref);
    if (!aStreamUSB_FindModuleInterface(device)) return true;
    char text[256];
    uint32 serialNumber;
    if (aStreamUSB_GetBackend()->readSerial(device, text, sizeof text) != aErrNone ||
        (text[sizeof text - 1] = '\0', !aStreamUSB_ParseSerial(text, &serialNumber)))
        return true;
    state->count++;
    return state->found(serialNumber, device->productId, device, state->ref);
}

} // namespace

extern "C" {

uint16 aStreamUSB_GetVendorId(void) { return VELTRANO_USB_VENDOR_ID; }

bool aStreamUSB_ParseSerial(const char* text, uint32* serialNumber) {
    if (!serialNumber) return false;
    *serialNumber = 0;
    if (!text) return false;
    size_t length = std::strlen(text);
    const size_t prefix = sizeof kDecimalPrefix - 1;
    const size_t suffix = sizeof kDecimalSuffix - 1;
    if (length >= suffix && std::strcmp(text + length - suffix, kDecimalSuffix) == 0) {
        if (length < prefix + suffix || std::strncmp(text, kDecimalPrefix, prefix) != 0) return false;
        return sParseNumber(text + prefix, length - prefix - suffix, 10, serialNumber);
    }
    return length <= 8 && sParseNumber(text, length, 16, serialNumber);
}

const aStreamUSBInterface* aStreamUSB_FindModuleInterface(const aStreamUSBDevice* device) {
    if (!device || device->vendorId != aStreamUSB_GetVendorId()) return nullptr;
    for (uint8 i = 0; i < device->interfaceCount && i < aSTREAM_USB_MAX_INTERFACES; i++) {
        const aStreamUSBInterface* candidate = &device->interfaces[i];
        if (candidate->interfaceClass == aSTREAM_USB_MODULE_CLASS &&
            candidate->subClass == aSTREAM_USB_MODULE_SUBCLASS && candidate->protocol == aSTREAM_USB_MODULE_PROTOCOL)
            return candidate;
    }
    return nullptr;
}

uint32 aStreamUSB_EnumerateModules(aStreamUSBModuleProc found, void* ref) {
    if (!found) return 0;
    EnumerateState state = {found, ref, 0};
    aStreamUSB_GetBackend()->enumerate(sVisit, &state);
    return state.count;
}

} // extern "C"
