// Feeds arbitrary bytes to every parser of update-server replies: the reply grammar
// of each operation, the version ordering of the build listing, and the Base64 decoder
// of build payloads.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Base64.h"
#include "ServerCommClass.h"
#include "ServerCommReply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    ServerCommReply::isOk(body, lines);

    std::string build, firmwareId;
    ServerCommReply::latestBuild(lines, build, firmwareId);
    uint32_t number = 0;
    readBuildNumber(build, number);

    BuildList builds;
    ServerCommReply::buildList(lines, builds);
    for (const auto& entry : builds)
        readBuildNumber(entry.first, number);
    ServerCommClass::sortedBuildList(builds);

    std::vector<uint8_t> bytes;
    Base64::decode(ServerCommReply::buildPayload(lines), bytes);
    Base64::decode(body, bytes);

    // The in-place forms must agree with the line list and the copying decoder.
    std::string payload = body;
    const bool ok = ServerCommReply::takeBuildPayload(payload);
    if (ok != (!lines.empty() && lines[0].compare(0, 2, "ok") == 0)) __builtin_trap();
    if (ok && payload != ServerCommReply::buildPayload(lines)) __builtin_trap();
    std::string inPlace = body;
    const bool decoded = Base64::decodeInPlace(inPlace);
    if (decoded != Base64::decode(body, bytes)) __builtin_trap();
    if (decoded && inPlace != std::string(bytes.begin(), bytes.end())) __builtin_trap();

    uint32_t serialNumber = 0, buildNumber = 0;
    ServerCommReply::recoveryInfo(lines, serialNumber, buildNumber);
    return 0;
}
