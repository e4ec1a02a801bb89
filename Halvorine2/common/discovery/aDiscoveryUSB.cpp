// USB discovery: the attached modules, one entry per serial number.
#include "aDiscoveryReport.h"
#include "aStreamUSBModules.h"

namespace {

const uint32 kMaxModules = 128;

struct Slot {
    uint32 serialNumber; // 0: empty
    uint16 productId;
};

struct Table {
    Slot slots[kMaxModules];
};

// A module seen again (another interface, another path) keeps its slot; the last sighting
// sets the product id. Modules beyond the table are not reported.
bool sRecord(uint32 serialNumber, uint16 productId, const aStreamUSBDevice*, void* ref) {
    if (serialNumber == 0) return true;
    Table* table = static_cast<Table*>(ref);
    for (Slot& slot : table->slots) {
        if (slot.serialNumber == 0 || slot.serialNumber == serialNumber) {
            slot.serialNumber = serialNumber;
            slot.productId = productId;
            return true;
        }
    }
    return true;
}

} // namespace

extern "C" uint8 aDiscovery_EnumerateUSB(aDiscoveryCallback callback, void* ref) {
    Table table = {};
    aStreamUSB_EnumerateModules(sRecord, &table);
    aDiscoveryReport report = {callback, ref, 0};
    for (const Slot& slot : table.slots) {
        if (slot.serialNumber == 0) break;
        linkSpec spec = {};
        spec.type = USB;
        spec.serialNumber = slot.serialNumber;
        spec.usbSerialNumber = slot.serialNumber;
        spec.model = slot.productId & 0xFF;
        if (!aDiscoveryReport_Module(&report, &spec)) break;
    }
    return report.count;
}
