#include "UpdaterStore.h"

#include <sys/stat.h>

#include <cstdio>
#include <stdexcept>

#include "AtomicFile.h"
#include "PathJoin.h"
#include "UpdaterLog.h"
#include "aDirectory.h"
#include "aFile.h"

namespace {

// The platform's listing names an entry only when its path fits aFILE_MAXPATH bytes
// with the closing NUL.
bool fitsListing(const std::string& path) {
    return path.size() < aFILE_MAXPATH;
}

std::string serialName(uint32_t serialNumber) {
    char name[9];
    snprintf(name, sizeof name, "%08X", serialNumber);
    return name;
}

// Splits a listed entry's full path at its last separator.
void splitPath(const std::string& path, std::string& directory, std::string& name) {
    const size_t separator = path.rfind(aDIRECTORY_SEPARATOR[0]);
    directory = separator == std::string::npos ? std::string() : path.substr(0, separator);
    name = separator == std::string::npos ? path : path.substr(separator + 1);
}

struct FindContext {
    const std::string* name;
    DeviceRecord* record;
    bool found;
};

bool _find_item(const aDirectoryEntry* entry, void* ref) {
    FindContext* context = static_cast<FindContext*>(ref);
    updaterLog(DEBUG_Updater, "%s([%s], %d, %d) searching for %s\n", "_find_item", entry->path,
               entry->isDirectory, static_cast<int>(entry->size), context->name->c_str());
    std::string directory, name;
    splitPath(entry->path, directory, name);
    if (name == "." || name == "..") return true;
    // The entry itself must carry the name: the root's own path may contain it too.
    if (name != *context->name) return true;
    context->found = true;
    if (context->record) {
        context->record->directory = directory;
        context->record->name = name;
        context->record->isDirectory = entry->isDirectory != 0;
        context->record->attributes.read(pathJoin(directory, name, AttributesFile::kDefaultFileName));
    }
    return false;
}

bool _find_items(const aDirectoryEntry* entry, void* ref) {
    DeviceRecordList* list = static_cast<DeviceRecordList*>(ref);
    updaterLog(DEBUG_Updater, "%s([%s], %d, %d)\n", "_find_items", entry->path, entry->isDirectory,
               static_cast<int>(entry->size));
    DeviceRecord record;
    splitPath(entry->path, record.directory, record.name);
    if (record.name.empty() || record.name[0] == '.') return true;
    record.isDirectory = entry->isDirectory != 0;
    record.attributes.read(pathJoin(entry->path, AttributesFile::kDefaultFileName));
    list->push_back(record);
    return true;
}

} // namespace

UpdaterStore::UpdaterStore(const std::string& root) : m_root(root) {
    ensureDirectory(m_root);
}

void UpdaterStore::ensureDirectory(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
        const aErr e = aDirectory_Ensure(path.c_str(), 0755);
        if (e != aErrNone)
            throw std::runtime_error("UpdaterStore: Could not create directory " + path + " error " +
                                     std::to_string(e));
        updaterLog(DEBUG_Updater, "UpdaterStore: Created directory [%s].\n", path.c_str());
    } else if (S_ISDIR(status.st_mode)) {
        updaterLog(DEBUG_Updater, "UpdaterStore: [%s] already exists.\n", path.c_str());
    } else {
        throw std::runtime_error("UpdaterStore: " + path + " exists and is a file");
    }
}

DeviceRecord UpdaterStore::makeDevice(uint32_t serialNumber) {
    const std::string name = serialName(serialNumber);
    ensureDirectory(pathJoin(m_root, name));
    DeviceRecord record;
    record.directory = m_root;
    record.name = name;
    record.isDirectory = true;
    record.attributes.read(pathJoin(m_root, name, AttributesFile::kDefaultFileName));
    return record;
}

bool UpdaterStore::FindDevice(uint32_t serialNumber, DeviceRecord* record) {
    return FindDevice(serialName(serialNumber), record);
}

bool UpdaterStore::FindDevice(const std::string& name, DeviceRecord* record) {
    FindContext context{&name, record, false};
    aDirectory_List(m_root.c_str(), _find_item, &context);
    updaterLog(DEBUG_Updater, "UpdaterStore: FindDevice %s %s.\n", context.found ? "Found" : "Not Found",
               name.c_str());
    return context.found;
}

bool UpdaterStore::listDeviceItems(uint32_t serialNumber, DeviceRecordList& list) {
    DeviceRecord device;
    if (!FindDevice(serialNumber, &device)) return true;
    aDirectory_List(pathJoin(device.directory, device.name).c_str(), _find_items, &list);
    return true;
}

BirdFile UpdaterStore::loadBird(const DeviceRecord& record, const std::string& fileName) {
    const std::string path = pathJoin(record.directory, record.name, fileName);
    if (!isBirdFile(path)) throw std::runtime_error("Invalid bird " + path);
    return BirdFile(path);
}

aErr UpdaterStore::writeFile(const DeviceRecord& record, const std::string& fileName, const uint8_t* bytes,
                             uint32_t length) {
    if (!bytes) return aErrNotFound;
    const std::string path = pathJoin(record.directory, record.name, fileName);
    // A file the listing could not name, or kept where the device's attributes could
    // not be recorded beside it, would be stored but never found again.
    if (!fitsListing(path) ||
        !fitsListing(pathJoin(record.directory, record.name, AttributesFile::kDefaultFileName)))
        return aErrFileNameLength;
    const aErr result = writeFileAtomically(path, bytes, length);
    // A file that could not be opened or put in place under its name reports as not
    // found, whatever the cause; only failing to write the bytes reports as a write error.
    return result == aErrNone || result == aErrWrite ? result : aErrNotFound;
}

std::unique_ptr<UpdaterStore> openStore(UpdaterDisplayInterface* display, const std::string& root,
                                        const char* callerName) {
    try {
        return std::make_unique<UpdaterStore>(root);
    } catch (const std::runtime_error& error) {
        displayPrintf(display, 1, "Failed to Create UpdaterStore in: %s - Exception: %s", callerName,
                      error.what());
        return nullptr;
    }
}
