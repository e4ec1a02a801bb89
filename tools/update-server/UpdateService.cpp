#include "UpdateService.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "Base64.h"

namespace {

using Query = std::map<std::string, std::string>;

ServiceAnswer error(int status, const std::string& text) {
    return {status, "error: " + text + "\n"};
}

// "a=1&b=2&" -> pairs, kept raw: the client sends values without percent-encoding.
Query parseQuery(const std::string& query) {
    Query pairs;
    std::istringstream stream(query);
    std::string pair;
    while (std::getline(stream, pair, '&')) {
        if (pair.empty()) continue;
        const size_t equals = pair.find('=');
        pairs.emplace(pair.substr(0, equals), equals == std::string::npos ? "" : pair.substr(equals + 1));
    }
    return pairs;
}

bool serialParameter(const Query& query, uint32_t& serialNumber) {
    auto found = query.find("sn");
    return found != query.end() && parseHexWord(found->second, serialNumber);
}

// The fingerprint words, written "W1%20W2%20W3%20W4" (or with spaces).
bool fingerprintParameter(const Query& query, uint32_t words[4]) {
    auto found = query.find("fp");
    if (found == query.end()) return false;
    std::string text = found->second;
    for (size_t at; (at = text.find("%20")) != std::string::npos;)
        text.replace(at, 3, " ");
    std::istringstream stream(text);
    std::string word;
    int count = 0;
    while (stream >> word) {
        if (count == 4 || !parseHexWord(word, words[count])) return false;
        count++;
    }
    return count == 4;
}

bool readWholeFile(const std::string& path, std::string& bytes) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = file ? static_cast<std::streamoff>(file.tellg()) : -1;
    if (size < 0) return false;
    bytes.resize(static_cast<size_t>(size));
    file.seekg(0);
    return static_cast<bool>(file.read(&bytes[0], static_cast<std::streamsize>(bytes.size())));
}

// The identifier the client sends back with op=bird. It travels unencoded in a query,
// so only characters that need no escaping are kept.
std::string firmwareIdentifier(std::string origin) {
    for (char& c : origin)
        if (!isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') c = '_';
    return origin;
}

std::string hex8(uint32_t value) {
    char text[9];
    snprintf(text, sizeof text, "%08X", value);
    return text;
}

} // namespace

ServiceAnswer UpdateService::answer(const std::string& target) const {
    try {
        return answerQuery(target);
    } catch (const CatalogueError& e) {
        return error(500, std::string("catalogue: ") + e.what());
    }
}

ServiceAnswer UpdateService::answerQuery(const std::string& target) const {
    const size_t mark = target.find('?');
    const std::string requestPath = target.substr(0, mark);
    if (requestPath != path) return error(404, "unknown path " + requestPath + "; queries go to " + path);
    const Query query = parseQuery(mark == std::string::npos ? "" : target.substr(mark + 1));
    const auto op = query.find("op");
    if (op == query.end()) return error(400, "missing op parameter");

    if (op->second == "hi") return {200, "ok\n"};

    if (op->second == "fix") {
        uint32_t words[4];
        if (!fingerprintParameter(query, words)) return error(400, "fp must be four hexadecimal words");
        const std::optional<RecoveryEntry> entry = catalogue_.recovery(words);
        if (!entry) return error(404, "unknown fingerprint");
        return {200, "ok\n" + hex8(entry->serialNumber) + "\n" + std::to_string(entry->build) + "\n"};
    }

    if (op->second != "qu" && op->second != "builds" && op->second != "bird" && op->second != "sig")
        return error(400, "unknown request op=" + op->second);
    uint32_t serialNumber = 0;
    if (!serialParameter(query, serialNumber)) return error(400, "sn must be a hexadecimal serial number");

    if (op->second == "qu") {
        const std::optional<CatalogueBuild> latest = catalogue_.latest(serialNumber);
        if (!latest) return error(404, "no builds for device " + hex8(serialNumber));
        return {200,
                "ok\n" + std::to_string(latest->number) + "\n" + firmwareIdentifier(latest->origin) + "\n"};
    }

    const std::map<uint32_t, CatalogueBuild> builds = catalogue_.builds(serialNumber);
    if (op->second == "builds") {
        std::string body = "ok\n";
        for (const auto& entry : builds)
            body += std::to_string(entry.first) + ";" + entry.second.version + "\n";
        return {200, body};
    }

    // op=bird, or op=sig for the build's signature
    const auto bld = query.find("bld");
    if (bld == query.end() || bld->second.empty() ||
        bld->second.find_first_not_of("0123456789") != std::string::npos)
        return error(400, "bld must be a decimal build number");
    // A number beyond 32 bits names no build (it must not wrap onto a small one).
    const unsigned long long number =
        bld->second.size() > 10 ? ~0ull : strtoull(bld->second.c_str(), nullptr, 10);
    const auto build = number > 0xFFFFFFFFull ? builds.end() : builds.find(static_cast<uint32_t>(number));
    if (build == builds.end())
        return error(404, "no build " + bld->second + " for device " + hex8(serialNumber));
    const bool signature = op->second == "sig";
    const std::string path = signature ? signaturePathOf(build->second.path) : build->second.path;
    std::string bytes;
    if (signature && !isSignedBuild(build->second.path))
        return error(404, "no signature for build " + bld->second + " of device " + hex8(serialNumber));
    if (!readWholeFile(path, bytes)) return error(500, "cannot read " + path);
    ServiceAnswer answer{200, "ok\n"};
    answer.body += Base64::encode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    answer.body += "\n";
    return answer;
}
