#include "StoredBuilds.h"

#include <stdexcept>

#include "FirmwareSignature.h"
#include "UpdaterLog.h"

namespace {

// The VERSION of a stored file, "" when it is no BIRD file or does not load.
std::string storedVersion(const std::string& path) {
    if (!isBirdFile(path)) {
        updaterLog(DEBUG_Updater, "Could NOT file VERSION in birdfile: %s\n", path.c_str());
        return "";
    }
    try {
        const std::string version = BirdFile(path).version();
        if (!version.empty())
            updaterLog(DEBUG_Updater, "Found VERSION %s in birdfile: %s\n", version.c_str(), path.c_str());
        return version;
    } catch (const std::runtime_error& error) {
        updaterLog(DEBUG_Updater, "Could not load birdfile %s: %s\n", path.c_str(), error.what());
        return "";
    }
}

} // namespace

BuildList storedBuilds(UpdaterStore& store, uint32_t serialNumber) {
    BuildList builds;
    DeviceRecordList items;
    store.listDeviceItems(serialNumber, items);
    for (const DeviceRecord& item : items) {
        if (isSignatureFile(item.name)) continue;
        const std::string key = item.name.substr(0, item.name.find(".bird"));
        const std::string path =
            !item.directory.empty() && !item.name.empty() ? item.directory + "/" + item.name : std::string();
        builds.emplace(key, storedVersion(path));
    }
    return builds;
}
