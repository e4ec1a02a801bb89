// Discovery by link type, and the find functions built on it.
#include "aDiscovery.h"

#include "aDiscoveryReport.h"

namespace {

const uint8 kMaxCount = 255;

struct Wanted {
    linkSpec* spec;
    uint32 serialNumber; // 0: any module with a serial number
};

bool sTakeMatching(const linkSpec* spec, bool* found, void* ref) {
    Wanted* wanted = static_cast<Wanted*>(ref);
    if (spec->serialNumber == 0 || (wanted->serialNumber != 0 && spec->serialNumber != wanted->serialNumber))
        return true;
    *wanted->spec = *spec;
    *found = true;
    return false;
}

linkSpec* sFind(linkType type, uint32 serialNumber, uint32 networkInterface) {
    linkSpec* spec = aLinkSpec_Create(type);
    if (!spec) return nullptr;
    spec->serialNumber = serialNumber;
    Wanted wanted = {spec, serialNumber};
    if (aDiscovery_EnumerateModules(type, sTakeMatching, &wanted, networkInterface) == 0)
        aLinkSpec_Destroy(&spec);
    return spec;
}

} // namespace

extern "C" {

bool aDiscoveryReport_Module(aDiscoveryReport* report, const linkSpec* spec) {
    bool found = false;
    bool more = report->callback(spec, &found, report->ref);
    if (found && report->count < kMaxCount) report->count++;
    return more;
}

uint8 aDiscovery_EnumerateModules(linkType type, aDiscoveryCallback callback, void* ref,
                                  uint32 networkInterface) {
    if (!callback) return 0;
    switch (type) {
    case USB:
        return aDiscovery_EnumerateUSB(callback, ref);
    case TCPIP:
        return aDiscovery_EnumerateMulticast(callback, ref);
    case ASOLVAN:
        return aDiscovery_Enumerate_aSolvanModules(callback, ref, networkInterface);
    default:
        return 0;
    }
}

linkSpec* aDiscovery_FindModule(linkType type, uint32 serialNumber, uint32 networkInterface) {
    if (serialNumber == 0) return nullptr;
    return sFind(type, serialNumber, networkInterface);
}

linkSpec* aDiscovery_FindFirstModule(linkType type, uint32 networkInterface) {
    return sFind(type, 0, networkInterface);
}

} // extern "C"
