#include "ServerCommReply.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "UpdaterLog.h"

namespace {

uint32_t toU32Saturated(const std::string& text, int base) {
    errno = 0;
    const unsigned long long value = strtoull(text.c_str(), nullptr, base);
    if (errno == ERANGE || value > 0xFFFFFFFFull) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(value);
}

} // namespace

namespace ServerCommReply {

std::vector<std::string> tokens(const std::string& text, const char* delimiters) {
    // One table lookup per character: build payloads run to megabytes.
    bool isDelimiter[256] = {};
    for (const char* d = delimiters; *d; d++)
        isDelimiter[static_cast<unsigned char>(*d)] = true;
    std::vector<std::string> pieces;
    const size_t length = text.size();
    size_t i = 0;
    while (i < length) {
        while (i < length && isDelimiter[static_cast<unsigned char>(text[i])])
            i++;
        const size_t start = i;
        while (i < length && !isDelimiter[static_cast<unsigned char>(text[i])])
            i++;
        if (i > start) pieces.emplace_back(text, start, i - start);
    }
    return pieces;
}

bool isOk(const std::string& body, std::vector<std::string>& lines) {
    lines = tokens(body, "\n");
    return !lines.empty() && lines[0].compare(0, 2, "ok") == 0;
}

void latestBuild(const std::vector<std::string>& lines, std::string& build, std::string& firmwareId) {
    if (lines.size() > 1) build = lines[1];
    if (lines.size() > 2) firmwareId = lines[2].substr(0, lines[2].find('\r'));
}

void buildList(const std::vector<std::string>& lines, BuildList& builds) {
    for (size_t i = 1; i < lines.size(); i++) {
        const std::string& line = lines[i];
        if (line.size() < 3) continue;
        updaterLog(DEBUG_ServerComm, "%s processing entry: [%s]\n", "GetBuildList", line.c_str());
        const std::vector<std::string> fields = tokens(line, ";\r\n");
        if (fields.empty()) continue;
        const std::string version = fields.size() > 1 ? fields[1] : std::string();
        builds.emplace(fields[0], version);
        updaterLog(DEBUG_ServerComm, "%s [%.10s][%.10s]\n", "GetBuildList", fields[0].c_str(),
                   version.c_str());
    }
}

std::string buildPayload(std::vector<std::string> lines) {
    return lines.size() > 1 ? std::move(lines[1]) : std::string();
}

bool takeBuildPayload(std::string& body) {
    // Lines as tokens() gives them: runs between "\n", empty ones skipped.
    const size_t first = body.find_first_not_of('\n');
    if (first == std::string::npos) return false;
    const size_t firstEnd = std::min(body.find('\n', first), body.size());
    if (firstEnd - first < 2 || body.compare(first, 2, "ok") != 0) return false;
    const size_t second = body.find_first_not_of('\n', firstEnd);
    if (second == std::string::npos) {
        body.clear();
        return true;
    }
    body.resize(std::min(body.find('\n', second), body.size()));
    body.erase(0, second);
    return true;
}

void recoveryInfo(const std::vector<std::string>& lines, uint32_t& serialNumber, uint32_t& buildNumber) {
    if (lines.size() > 1) serialNumber = toU32Saturated(lines[1], 16);
    if (lines.size() > 2) buildNumber = toU32Saturated(lines[2], 0);
}

} // namespace ServerCommReply
