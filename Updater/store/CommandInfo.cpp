// -I: a device's stored record, its attributes and the builds stored for it.
#include "PathJoin.h"
#include "StoredBuilds.h"
#include "UpdaterApp.h"

namespace {

bool isBirdName(const std::string& name) {
    return name.size() > 5 && name.compare(name.size() - 5, 5, ".bird") == 0;
}

// Whether the attributes could be shown: a record read in part is not shown at all.
bool printAttributes(UpdaterDisplayInterface* display, const AttributesFile& attributes) {
    if (attributes.isUnreadable()) {
        displayField(display, "Attributes:", "cannot be read");
        return false;
    }
    if (attributes.values().empty()) {
        displayField(display, "Attributes:", "none");
        return true;
    }
    displayPrintf(display, 0, "Attributes:");
    for (const auto& [key, value] : attributes.values()) {
        if (value.empty())
            displayPrintf(display, 0, "  %s", key.c_str());
        else
            displayPrintf(display, 0, "  %-20s %s", key.c_str(), value.c_str());
    }
    return true;
}

} // namespace

void UpdaterApp::showStoredSignatures(UpdaterStore& store, uint32_t serialNumber) {
    if (!m_signatures.required(m_display)) return;
    DeviceRecordList items;
    store.listDeviceItems(serialNumber, items);
    displayPrintf(m_display, 0, "Signatures:");
    for (const DeviceRecord& item : items)
        if (isBirdName(item.name)) showSignature("  " + item.name, pathJoin(item.directory, item.name));
}

bool UpdaterApp::Show_DeviceInfo(uint32_t serialNumber) {
    std::unique_ptr<UpdaterStore> store = openStore(m_display, m_storeRoot, "Show_DeviceInfo");
    if (!store) return false;
    DeviceRecord record;
    if (!store->FindDevice(serialNumber, &record) || !record.isDirectory) {
        displayPrintf(m_display, 1, "No record of device [%08X] in the store at %s", serialNumber,
                      m_storeRoot.c_str());
        return false;
    }
    char serial[9];
    snprintf(serial, sizeof serial, "%08X", serialNumber);
    displayField(m_display, "Device:", serial);
    displayField(m_display, "Directory:", pathJoin(record.directory, record.name).c_str());
    const bool shown = printAttributes(m_display, record.attributes);
    printBuildList(m_display, storedBuilds(*store, serialNumber), serialNumber);
    showStoredSignatures(*store, serialNumber);
    return shown;
}
