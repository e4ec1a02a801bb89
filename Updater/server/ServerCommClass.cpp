#include "ServerCommClass.h"

#include <cctype>
#include <cstdio>
#include <stdexcept>

#include "ServerEndpoint.h"
#include "UpdaterLog.h"
#include "aVersion.h"

namespace {

std::string serialText(uint32_t serialNumber) {
    char text[9];
    snprintf(text, sizeof text, "%08X", serialNumber);
    return text;
}

// "a.b.c" -> three parts; any other count gives none.
std::vector<std::string> versionParts(const std::string& version) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t dot = version.find('.', start);
        parts.push_back(version.substr(start, dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    if (parts.size() != 3) parts.clear();
    return parts;
}

// Signed decimal with leading white space; throws like std::stoi on no digits or overflow.
int versionNumber(const std::vector<std::string>& parts, size_t index) {
    if (index >= parts.size()) throw std::out_of_range("invalid vector<T> subscript");
    return std::stoi(parts[index]);
}

// Stable merge sort that stays in bounds whatever the ordering test answers.
void mergeSort(SortedBuildList& list, size_t begin, size_t end, SortedBuildList& scratch) {
    if (end - begin < 2) return;
    const size_t middle = begin + (end - begin) / 2;
    mergeSort(list, begin, middle, scratch);
    mergeSort(list, middle, end, scratch);
    size_t left = begin, right = middle, out = begin;
    while (left < middle && right < end) {
        // Take from the right only when it strictly goes first: equal entries keep their order.
        if (ServerCommClass::_sortVersion(list[right], list[left]))
            scratch[out++] = list[right++];
        else
            scratch[out++] = list[left++];
    }
    while (left < middle)
        scratch[out++] = list[left++];
    while (right < end)
        scratch[out++] = list[right++];
    for (size_t i = begin; i < end; i++)
        list[i] = std::move(scratch[i]);
}

} // namespace

const char* ServerCommClass::defaultBaseUrl() {
    static const std::string url = defaultServerEndpoint();
    return url.c_str();
}

bool ServerCommClass::fetch(const char* name, const char* baseUrl, const Http::Parameters& parameters,
                            Http::Reply& reply) {
    try {
        reply = Http::get(baseUrl ? baseUrl : defaultBaseUrl(), parameters, limits_);
    } catch (const std::exception& error) {
        updaterLog(DEBUG_ServerComm, "%s ==> [%s]\n", name, error.what());
        return false;
    }
    if (reply.status != 200) {
        if (std::string(name) == "ping")
            updaterLog(DEBUG_ServerComm, "PING ==> [%d] [%s]\n", reply.status, reply.body.c_str());
        else
            updaterLog(DEBUG_ServerComm, "%s ==> [%d] [%s]\n", name, reply.status, reply.body.c_str());
        return false;
    }
    return true;
}

void ServerCommClass::logNotOk(const char* name, const Http::Reply& reply) {
    updaterLog(DEBUG_ServerComm, "ServerCommClass: %s failed [%s]\n", name, reply.url.c_str());
}

bool ServerCommClass::request(const char* name, const char* baseUrl, const Http::Parameters& parameters,
                              std::vector<std::string>& lines) {
    Http::Reply reply;
    if (!fetch(name, baseUrl, parameters, reply)) return false;
    if (!ServerCommReply::isOk(reply.body, lines)) {
        logNotOk(name, reply);
        return false;
    }
    return true;
}

bool ServerCommClass::ping(const char* baseUrl) {
    std::vector<std::string> lines;
    return request("ping", baseUrl, {{"op", "hi"}, {"rv", "2"}}, lines);
}

bool ServerCommClass::QueryBuild(uint32_t serialNumber, std::string& latestBuild, std::string& firmwareId,
                                 const char* baseUrl) {
    std::vector<std::string> lines;
    if (!request("QueryBuild", baseUrl, {{"op", "qu"}, {"sn", serialText(serialNumber)}}, lines))
        return false;
    ServerCommReply::latestBuild(lines, latestBuild, firmwareId);
    return true;
}

bool ServerCommClass::GetBuildList(uint32_t serialNumber, BuildList& builds, const char* baseUrl) {
    builds.clear();
    std::vector<std::string> lines;
    if (!request("GetBuildList", baseUrl, {{"op", "builds"}, {"sn", serialText(serialNumber)}}, lines))
        return false;
    ServerCommReply::buildList(lines, builds);
    return true;
}

bool ServerCommClass::buildRequest(const char* name, const char* op, uint32_t serialNumber,
                                   const std::string& firmwareId, const std::string& build, bool noCal,
                                   std::string& payload, const char* baseUrl) {
    const Http::Parameters parameters = {{"bld", build},
                                         {"fw", firmwareId},
                                         {"no_cal", noCal ? "true" : "false"},
                                         {"op", op},
                                         {"sn", serialText(serialNumber)}};
    Http::Reply reply;
    if (!fetch(name, baseUrl, parameters, reply)) return false;
    // The payload is cut out of the body itself: no line list, no copy of the build.
    if (!ServerCommReply::takeBuildPayload(reply.body)) {
        logNotOk(name, reply);
        return false;
    }
    payload = std::move(reply.body);
    return true;
}

bool ServerCommClass::GetBuild(uint32_t serialNumber, const std::string& firmwareId, const std::string& build,
                               bool noCal, std::string& payload, const char* baseUrl) {
    return buildRequest("GetBuild", "bird", serialNumber, firmwareId, build, noCal, payload, baseUrl);
}

bool ServerCommClass::GetSignature(uint32_t serialNumber, const std::string& firmwareId,
                                   const std::string& build, bool noCal, std::string& payload,
                                   const char* baseUrl) {
    return buildRequest("GetSignature", "sig", serialNumber, firmwareId, build, noCal, payload, baseUrl);
}

std::string ServerCommClass::fingerprintText(const uint32_t fingerprint[4]) {
    char text[64];
    snprintf(text, sizeof text, "%08X%%20%08X%%20%08X%%20%08X", fingerprint[0], fingerprint[1],
             fingerprint[2], fingerprint[3]);
    return text;
}

bool ServerCommClass::GetRecoveryInfo(const uint32_t fingerprint[4], uint32_t& serialNumber,
                                      uint32_t& buildNumber, const char* baseUrl) {
    std::vector<std::string> lines;
    const Http::Parameters parameters = {
        {"brief", "true"}, {"fp", fingerprintText(fingerprint)}, {"op", "fix"}};
    if (!request("GetRecoveryInfo", baseUrl, parameters, lines)) return false;
    auto line = [&lines](size_t i) { return i < lines.size() ? lines[i].c_str() : ""; };
    updaterLog(DEBUG_ServerComm, "%s [%.20s][%.20s][%.20s]\n", "GetRecoveryInfo", line(0), line(1), line(2));
    ServerCommReply::recoveryInfo(lines, serialNumber, buildNumber);
    return true;
}

bool readBuildNumber(const std::string& text, uint32_t& value) {
    size_t i = 0;
    while (i < text.size() && isspace(static_cast<unsigned char>(text[i])))
        i++;
    if (i == text.size() || !isdigit(static_cast<unsigned char>(text[i]))) return false;
    uint64_t number = 0;
    for (; i < text.size() && isdigit(static_cast<unsigned char>(text[i])); i++) {
        number = number * 10 + static_cast<uint64_t>(text[i] - '0');
        if (number > 0xFFFFFFFFull) return false;
    }
    value = static_cast<uint32_t>(number);
    return true;
}

bool ServerCommClass::isValidBuild(uint32_t serialNumber, uint32_t build, const char* baseUrl) {
    BuildList builds;
    if (!GetBuildList(serialNumber, builds, baseUrl)) return false;
    for (const auto& entry : builds) {
        uint32_t number = 0;
        if (!readBuildNumber(entry.first, number)) {
            // A text that is no 32-bit number counts as build 0.
            updaterLog(DEBUG_Updater, "Error: Could not convert %s to int.\n", entry.first.c_str());
            number = 0;
        }
        if (number == build) return true;
    }
    return false;
}

bool ServerCommClass::_sortVersion(const std::pair<std::string, std::string>& a,
                                   const std::pair<std::string, std::string>& b) {
    const std::vector<std::string> partsA = versionParts(a.second);
    const std::vector<std::string> partsB = versionParts(b.second);
    if (partsA.empty() && partsB.empty()) return false;
    try {
        const int patchA = versionNumber(partsA, 2), minorA = versionNumber(partsA, 1),
                  majorA = versionNumber(partsA, 0);
        const int patchB = versionNumber(partsB, 2), minorB = versionNumber(partsB, 1),
                  majorB = versionNumber(partsB, 0);
        return !aVersion_IsAtLeastCompare(uint8_t(majorB), uint8_t(minorB), uint8_t(patchB), uint8_t(majorA),
                                          uint8_t(minorA), uint8_t(patchA));
    } catch (const std::exception& error) {
        updaterLog(DEBUG_ServerComm, "%s: Exception converting version: %s\n", "_sortVersion", error.what());
        return false;
    }
}

SortedBuildList ServerCommClass::sortedBuildList(const BuildList& builds) {
    SortedBuildList list(builds.begin(), builds.end());
    SortedBuildList scratch(list.size());
    mergeSort(list, 0, list.size(), scratch);
    return list;
}
