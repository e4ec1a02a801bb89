// -G: download of a build into the store.
#include <chrono>
#include <future>
#include <system_error>
#include <thread>

#include "Base64.h"
#include "BirdFile.h"
#include "ServerCommClass.h"
#include "Timestamp.h"
#include "UpdaterApp.h"
#include "UpdaterLog.h"
#include "UpdaterStore.h"

namespace {

struct DownloadResult {
    bool ok = false;
    std::string payload;
};

// Runs the build request on a worker thread while the display shows the activity
// indicator every 100 ms; the transfer's own time-outs bound the wait. A worker that
// cannot be started is a failed download.
DownloadResult downloadWithActivity(UpdaterDisplayInterface* display, const std::string& url,
                                    uint32_t serialNumber, const std::string& firmwareId,
                                    const std::string& build, bool noCal) {
    std::promise<DownloadResult> promise;
    std::future<DownloadResult> future = promise.get_future();
    std::thread worker;
    try {
        worker = std::thread([&] {
            DownloadResult result;
            try {
                ServerCommClass server;
                result.ok =
                    server.GetBuild(serialNumber, firmwareId, build, noCal, result.payload, url.c_str());
            } catch (...) {
                // The promise is always fulfilled, or the waiting thread would never end.
                result = DownloadResult();
            }
            promise.set_value(std::move(result));
        });
    } catch (const std::system_error& error) {
        updaterLog(DEBUG_APP, "Download_Firmware: cannot start the download: %s\n", error.what());
        return DownloadResult();
    }
    display->showActivity(true, "Downloading");
    while (future.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
        display->showActivity(true, "Downloading");
    display->showActivity(false, "Downloading");
    DownloadResult result = future.get();
    worker.join();
    return result;
}

// Whether bytes are a BIRD file that loads: what the update command will need.
bool holdsBirdFile(const std::string& name, const uint8_t* bytes, size_t length) {
    if (!isBirdHeader(bytes, length)) {
        updaterLog(DEBUG_Updater, "Download_Firmware: %s is no BIRD file\n", name.c_str());
        return false;
    }
    try {
        BirdFile::fromMemory(name, bytes, length);
        return true;
    } catch (const std::runtime_error& error) {
        updaterLog(DEBUG_Updater, "Download_Firmware: %s does not load: %s\n", name.c_str(), error.what());
        return false;
    }
}

} // namespace

uint32_t UpdaterApp::Download_Firmware(uint32_t serialNumber, const std::string& buildText, bool override,
                                       bool noCal) {
    UpdaterDisplayInterface* display = m_display;
    uint32_t build = 0;
    if (!buildText.empty() && !readBuildNumber(buildText, build)) {
        displayPrintf(display, 1, "Build number '%s' must be an number", buildText.c_str());
        return 0;
    }
    if (serialNumber == 0) {
        displayPrintf(display, 1, "Serial Number must be non-zero");
        return 0;
    }
    ServerCommClass server;
    const char* url = m_serverEndpoint.c_str();
    if (!server.ping(url)) {
        displayPrintf(display, 1, "Server request failed for %s", url);
        return 0;
    }
    std::unique_ptr<UpdaterStore> store = openStore(display, m_storeRoot, "Download_Firmware");
    if (!store) return 0;

    DeviceRecord record;
    if (!store->FindDevice(serialNumber, &record)) {
        updaterLog(DEBUG_APP, "Could not find device in our update history.\n");
        try {
            record = store->makeDevice(serialNumber);
        } catch (const std::runtime_error&) {
            displayPrintf(display, 1, "Could not create directory for storing BIRD file");
            return 0;
        }
    }

    std::string latestBuild, firmwareId;
    if (!server.QueryBuild(serialNumber, latestBuild, firmwareId, url)) {
        displayPrintf(display, 1, "No build information for device");
        return 0;
    }
    if (build == 0 && !readBuildNumber(latestBuild, build)) {
        updaterLog(DEBUG_Updater, "Error: Could not convert %s to int.\n", latestBuild.c_str());
        build = 0;
    }

    displayPrintf(display, 0, "Retrieving build %u", build);
    if (override) {
        displayPrintf(display, 0, "Override specified, skipping validation of build %u", build);
    } else {
        displayPrintf(display, 0, "Validating build %u with server", build);
        if (!server.isValidBuild(serialNumber, build, url)) {
            displayPrintf(display, 1, "No valid build %u", build);
            return 0;
        }
        displayPrintf(display, 0, "Build %u is valid", build);
    }

    const std::string fileBuild = std::to_string(build);
    DownloadResult download =
        downloadWithActivity(display, m_serverEndpoint, serialNumber, firmwareId, fileBuild, noCal);
    if (!download.ok) displayPrintf(display, 1, "Download failed");
    if (download.payload.empty()) {
        displayPrintf(display, 1, "Failed to retrieve a valid BIRD file");
        return 0;
    }

    // A payload that is not Base64 or not a BIRD file that loads, or a file that could
    // not be stored, is a failed download: nothing is recorded and the command fails.
    // Decoded where it arrived: a build runs to megabytes.
    std::string& file = download.payload;
    const bool decoded = Base64::decodeInPlace(file);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(file.data());
    if (!decoded || !holdsBirdFile(fileBuild + ".bird", bytes, file.size())) {
        displayPrintf(display, 1, "Failed to retrieve a valid BIRD file");
        return 0;
    }

    std::string signature;
    if (!admitDownload(serialNumber, firmwareId, fileBuild, noCal, bytes, file.size(), signature)) return 0;

    const std::string fileName = fileBuild + ".bird";
    const std::string timestamp = currentTimestamp();
    // The signature goes first: a build stored without it is refused, never trusted.
    aErr written = storeSignature(*store, record, fileName, signature);
    if (written == aErrNone)
        written = store->writeFile(record, fileName, bytes, static_cast<uint32_t>(file.size()));
    if (written != aErrNone) {
        displayPrintf(display, 1, "Failed to write file with %d", written);
        return 0;
    }

    record.attributes.setText("LATEST_DOWNLOAD", fileName);
    record.attributes.setText("LAST_DOWNLOAD_DATE", timestamp);
    record.attributes.write();
    return build;
}
