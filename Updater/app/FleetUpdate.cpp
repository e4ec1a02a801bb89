#include "FleetUpdate.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>

#include "BufferedDisplay.h"
#include "aTime.h"

namespace {

uint32_t buildNumberOf(const std::string& text) {
    unsigned long long n = strtoull(text.c_str(), nullptr, 10);
    return n > 0xFFFFFFFFull ? 0 : static_cast<uint32_t>(n);
}

std::string running(bool read, const RunningFirmware& firmware) {
    return read ? describeRunning(firmware) : "-";
}

std::string outcome(const UpdateResult& result) {
    return result.ok ? "ok" : "failed: " + result.step;
}

// One module, start to end, on its own display: download when asked, then update.
// Its lines are kept in the result, to be printed with its finishing line.
UpdateResult updateOne(const UpdaterApp& app, const FleetRequest& request, uint32_t serialNumber,
                       uint8_t moduleAddress, uint32_t routerSerialNumber) {
    BufferedDisplay display;
    UpdateResult result;
    result.serialNumber = serialNumber;
    const uint32_t start = aTime_GetMSTicks();
    // An exception escaping a worker thread would end the process, and with it
    // every other module's transfer: this module fails alone instead.
    try {
        UpdaterApp own = app.withDisplay(&display);
        std::string build = request.build;
        if (request.download) {
            const uint32_t stored = own.Download_Firmware(serialNumber, build, request.override, false);
            if (stored != 0) {
                build = std::to_string(stored);
                result.ok = true;
            } else {
                result.step = "download";
            }
        }
        if (request.update) {
            own.setUpdateResult(&result);
            own.Update_Firmware(serialNumber, buildNumberOf(build), request.birdFilePath, moduleAddress,
                                routerSerialNumber, request.override);
        }
    } catch (const std::exception& error) {
        result.ok = false;
        result.step = "internal";
        result.errorText = std::string("unexpected error: ") + error.what();
    } catch (...) {
        result.ok = false;
        result.step = "internal";
        result.errorText = "unexpected error";
    }
    result.seconds = (aTime_GetMSTicks() - start) / 1000.0;
    if (!result.ok && result.errorText.empty())
        result.errorText = !display.errors().empty() ? display.errors().front()
                           : result.error != aErrNone ? aError_GetErrorText(result.error)
                                                      : "failed";
    result.lines = display.lines();
    return result;
}

// A module's own lines, then the line it gets as it finishes, all under the line
// lock, so lines of modules finishing together never mix.
void reportFinished(UpdaterDisplayInterface* display, std::mutex& lock, const FleetRequest& request,
                    const UpdateResult& r) {
    std::lock_guard<std::mutex> hold(lock);
    for (const ShownLine& line : r.lines)
        displayPrintf(display, line.error ? 1 : 0, "[%08X] %s", r.serialNumber, line.text.c_str());
    if (r.ok && !request.update)
        displayPrintf(display, 0, "[%08X] downloaded in %.2f s", r.serialNumber, r.seconds);
    else if (r.ok)
        displayPrintf(display, 0, "[%08X] updated: %s -> %s in %.2f s", r.serialNumber,
                      running(r.beforeRead, r.before).c_str(), running(r.afterRead, r.after).c_str(), r.seconds);
    else if (r.step == "not-found")
        displayPrintf(display, 1, "[%08X] %s", r.serialNumber, r.errorText.c_str());
    else
        displayPrintf(display, 1, "[%08X] failed at %s: %s", r.serialNumber, r.step.c_str(),
                      r.errorText.c_str());
}

// The modules once each, in the order first named; a repeat is said and dropped.
std::vector<uint32_t> distinct(UpdaterDisplayInterface* display, const std::vector<uint32_t>& named) {
    std::vector<uint32_t> modules;
    for (uint32_t serial : named) {
        if (std::find(modules.begin(), modules.end(), serial) != modules.end()) {
            displayPrintf(display, 1, "[%08X] is named more than once; it is updated once", serial);
            continue;
        }
        modules.push_back(serial);
    }
    return modules;
}

// Modules reached directly: a pool of at most jobs threads, each taking the next
// module until none is left.
std::vector<UpdateResult> updateAtOnce(UpdaterApp& app, const FleetRequest& request,
                                       const std::vector<uint32_t>& modules, uint32_t jobs) {
    std::vector<UpdateResult> results(modules.size());
    std::atomic<size_t> next{0};
    std::mutex lineLock;
    auto worker = [&] {
        for (size_t i; (i = next.fetch_add(1)) < modules.size();) {
            results[i] = updateOne(app, request, modules[i], 0, 0);
            reportFinished(app.display(), lineLock, request, results[i]);
        }
    };
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < jobs; ++t)
        threads.emplace_back(worker);
    for (std::thread& thread : threads)
        thread.join();
    return results;
}

// Modules behind one router share its bus: the bus is walked once, then each
// module is updated through the router in turn at the address the walk found.
std::vector<UpdateResult> updateBehindRouter(UpdaterApp& app, const FleetRequest& request,
                                             const std::vector<uint32_t>& modules) {
    const DiscoveredDeviceList bus = app.Discover_NetworkDevices(request.routerSerialNumber, 0);
    std::vector<UpdateResult> results;
    std::mutex lineLock;
    for (uint32_t serial : modules) {
        uint16_t address = 0;
        for (const DiscoveredDevice& device : bus)
            if (device.specifier.serialNumber == serial) address = device.busAddress;
        UpdateResult result;
        if (address == 0) {
            result.serialNumber = serial;
            result.step = "not-found";
            char text[96];
            snprintf(text, sizeof text, "not found on the bus of router [%08X]", request.routerSerialNumber);
            result.errorText = text;
        } else {
            result = updateOne(app, request, serial, static_cast<uint8_t>(address), request.routerSerialNumber);
        }
        reportFinished(app.display(), lineLock, request, result);
        results.push_back(result);
    }
    return results;
}

} // namespace

std::vector<std::string> fleetSummary(const std::vector<UpdateResult>& results) {
    std::vector<std::string> lines;
    char line[160];
    snprintf(line, sizeof line, "    %-8s  %-14s %-20s %-20s %-22s %s", "Device", "Model", "Before", "After",
             "Result", "Seconds");
    lines.push_back(line);
    for (const UpdateResult& r : results) {
        snprintf(line, sizeof line, "    %08X  %-14s %-20s %-20s %-22s %.2f", r.serialNumber,
                 r.model.empty() ? "-" : r.model.c_str(), running(r.beforeRead, r.before).c_str(),
                 running(r.afterRead, r.after).c_str(), outcome(r).c_str(), r.seconds);
        lines.push_back(line);
    }
    return lines;
}

int runFleet(UpdaterApp& app, const FleetRequest& request, Json* doc) {
    UpdaterDisplayInterface* display = app.display();
    const uint32_t start = aTime_GetMSTicks();
    const std::vector<uint32_t> modules = distinct(display, request.serialNumbers);
    uint32_t jobs = request.jobs == 0 ? static_cast<uint32_t>(modules.size())
                                      : std::min<uint32_t>(request.jobs, static_cast<uint32_t>(modules.size()));
    if (request.routerSerialNumber != 0) jobs = 1;
    displayPrintf(display, 0, "Updating %zu modules, %u at once", modules.size(), jobs);
    const std::vector<UpdateResult> results = request.routerSerialNumber != 0
                                                  ? updateBehindRouter(app, request, modules)
                                                  : updateAtOnce(app, request, modules, jobs);
    const size_t succeeded = std::count_if(results.begin(), results.end(), [](const UpdateResult& r) { return r.ok; });
    displayPrintf(display, 0, "Fleet update: %zu of %zu modules updated", succeeded, results.size());
    for (const std::string& line : fleetSummary(results))
        displayPrintf(display, 0, "%s", line.c_str());
    if (doc) {
        Json updates = Json::array();
        for (const UpdateResult& r : results)
            updates.push_back(jsonUpdate(r));
        (*doc)["updates"] = updates;
        (*doc)["fleet"] = {{"jobs", jobs},
                           {"succeeded", succeeded},
                           {"failed", results.size() - succeeded},
                           {"seconds", (aTime_GetMSTicks() - start) / 1000.0}};
        for (const UpdateResult& r : results)
            if (!r.ok && r.error != aErrNone) {
                (*doc)["error_code"] = r.error;
                break;
            }
    }
    return succeeded == results.size() && !results.empty() ? 0 : 1;
}
