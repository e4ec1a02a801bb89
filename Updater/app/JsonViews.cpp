#include "JsonViews.h"

#include <cstdio>
#include <cstring>

#include "BirdSummary.h"
#include "ServerCommClass.h"
#include "aDefs.h"
#include "aVersion.h"



namespace {

std::string hexAddress(uint32_t value) {
    char text[11];
    snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

const char* transportName(linkType type) {
    switch (type) {
    case USB:
        return "USB";
    case TCPIP:
        return "TCPIP";
    default:
        return "other";
    }
}

Json jsonRunning(bool read, const RunningFirmware& running) {
    if (!read) return nullptr;
    char version[32];
    snprintf(version, sizeof version, "%u.%u.%u", aVersion_ParseMajor(running.version),
             aVersion_ParseMinor(running.version), aVersion_ParsePatch(running.version));
    return {{"version", version}, {"build", running.build}};
}

Json fittingModels(const BirdFile& file) {
    Json models = Json::array();
    for (uint32 model = 0; model < 256; ++model) {
        const char* name = aDefs_GetModelName(model);
        if (std::strcmp(name, "Unknown") != 0 && file.matchesModelName(name))
            models.push_back({{"number", model}, {"name", name}});
    }
    return models;
}

} // namespace

std::string serialText(uint32_t serialNumber) {
    char text[9];
    snprintf(text, sizeof text, "%08X", serialNumber);
    return text;
}

Json jsonDevice(const DiscoveredDevice& device) {
    const linkSpec& spec = device.specifier;
    Json address = nullptr;
    if (spec.type == TCPIP) {
        // Network byte order: the bytes as they lie are the address's four parts in turn.
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&spec.ipAddress);
        char text[16];
        snprintf(text, sizeof text, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
        address = text;
    }
    char version[32];
    snprintf(version, sizeof version, "%d.%d.%u", device.major, device.minor, device.patch);
    Json out = {{"serial", serialText(spec.serialNumber)},
                {"module_address", spec.moduleAddress},
                {"router_address", spec.routerAddress},
                {"model", {{"number", spec.model}, {"name", aDefs_GetModelName(spec.model)}}},
                {"firmware", {{"version", version}, {"build", device.buildNumber}}},
                {"transport", transportName(spec.type)},
                {"ip_address", address},
                {"error", device.error == aErrNone ? Json(nullptr)
                                                   : Json{{"code", device.error},
                                                          {"text", aError_GetErrorText(device.error)}}}};
    if (spec.routerSerialNumber != 0) out["router_serial"] = serialText(spec.routerSerialNumber);
    if (device.busAddress != 0) out["bus_address"] = device.busAddress;
    return out;
}

Json jsonBuilds(const BuildList& builds) {
    Json out = Json::array();
    for (const auto& [build, version] : ServerCommClass::sortedBuildList(builds))
        out.push_back({{"build", build}, {"version", version}});
    return out;
}

Json jsonAttributes(const std::map<std::string, std::string>& values) {
    Json out = Json::object();
    for (const auto& [key, value] : values)
        out[key] = value;
    return out;
}

Json jsonBird(const BirdFile& file, const std::string& path) {
    Json identity = nullptr;
    if (file.hasIdentity())
        identity = {{"description", file.description()},
                    {"version", file.version()},
                    {"target_serial", serialText(file.targetSerialNumber())},
                    {"model_name", file.modelName()}};
    Json serialLocations = nullptr;
    if (file.hasSerialLocations())
        serialLocations = {{"serial_number", hexAddress(file.serialLocation())},
                           {"descriptor", hexAddress(file.descriptorLocation())}};
    Json blocks = Json::array();
    for (const BirdBlock& block : file.blocks())
        blocks.push_back({{"type", block.type},
                          {"kind", birdBlockKind(block.type)},
                          {"flags", block.flags},
                          {"length", block.length},
                          {"address", block.isImage() ? Json(hexAddress(block.address)) : Json(nullptr)}});
    const std::optional<uint32> start = file.startAddress();
    return {{"path", path},
            {"identity", identity},
            {"models", fittingModels(file)},
            {"serial_locations", serialLocations},
            {"start_address", start ? Json(hexAddress(*start)) : Json(nullptr)},
            {"blocks", blocks}};
}

Json jsonFingerprint(const uint32_t words[4]) {
    Json out = Json::array();
    for (int i = 0; i < 4; ++i)
        out.push_back(serialText(words[i]));
    return out;
}

Json jsonUpdate(const UpdateResult& result) {
    Json out = {{"serial", serialText(result.serialNumber)},
            {"ok", result.ok},
            {"model", result.model.empty() ? Json(nullptr) : Json(result.model)},
            {"transport", result.reachedOn.empty() ? Json(nullptr) : Json(result.reachedOn)},
            {"failed_step", result.ok ? Json(nullptr) : Json(result.step)},
            {"error", result.ok ? Json(nullptr)
                                : Json{{"code", result.error == aErrNone ? Json(nullptr) : Json(result.error)},
                                       {"text", result.errorText}}},
            {"before", jsonRunning(result.beforeRead, result.before)},
            {"after", jsonRunning(result.afterRead, result.after)},
            {"bytes_sent", result.bytesSent},
            {"seconds", result.seconds}};
    // A fleet module's lines were printed only after it finished; the document keeps them too.
    if (!result.lines.empty()) {
        Json lines = Json::array();
        for (const ShownLine& line : result.lines)
            lines.push_back(line.text);
        out["lines"] = lines;
    }
    return out;
}

Json jsonError(int code, const std::string& text, const std::vector<std::string>& lines) {
    return {{"code", code == 0 ? Json(nullptr) : Json(code)}, {"text", text}, {"lines", lines}};
}
