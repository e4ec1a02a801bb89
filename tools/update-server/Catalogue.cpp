#include "Catalogue.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "BirdFile.h"

namespace {

bool parseDecimal(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long number = strtoull(text.c_str(), nullptr, 10);
    if (number > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(number);
    return true;
}

long long modifiedNs(const struct stat& status) {
    return status.st_mtim.tv_sec * 1000000000LL + status.st_mtim.tv_nsec;
}

// Names of the entries of a directory, sorted; "." and ".." left out.
std::vector<std::string> entryNames(const std::string& path) {
    std::vector<std::string> names;
    DIR* directory = opendir(path.c_str());
    if (!directory) return names;
    while (const dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(directory);
    std::sort(names.begin(), names.end());
    return names;
}

bool isRegularFile(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

bool isDirectory(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The build number a name "N.bird" gives; none for any other name.
std::optional<uint32_t> buildNumber(const std::string& name) {
    uint32_t number = 0;
    const size_t suffix = name.size() > 5 ? name.size() - 5 : std::string::npos;
    if (suffix == std::string::npos || name.compare(suffix, 5, ".bird") != 0 ||
        !parseDecimal(name.substr(0, suffix), number))
        return std::nullopt;
    return number;
}

// The build files of one folder (relative to directory) by number. Only regular files
// count: a directory or a FIFO named N.bird cannot be served.
std::map<uint32_t, std::string> buildFiles(const std::string& directory, const std::string& folder) {
    std::map<uint32_t, std::vector<std::string>> named;
    for (const std::string& name : entryNames(directory + "/" + folder)) {
        const std::optional<uint32_t> number = buildNumber(name);
        if (number && isRegularFile(directory + "/" + folder + "/" + name)) named[*number].push_back(name);
    }
    std::map<uint32_t, std::string> files;
    std::string clashes;
    for (const auto& [number, names] : named) {
        files[number] = directory + "/" + folder + "/" + names.front();
        if (names.size() < 2) continue;
        clashes +=
            (clashes.empty() ? folder + ": " : "; ") + "build " + std::to_string(number) + " is named by ";
        for (size_t i = 0; i < names.size(); i++)
            clashes += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    }
    if (!clashes.empty()) throw CatalogueError(clashes);
    return files;
}

std::string serialText(uint32_t serialNumber) {
    char text[9];
    snprintf(text, sizeof text, "%08X", serialNumber);
    return text;
}

} // namespace

std::vector<std::vector<std::string>> catalogueLines(const std::string& path) {
    std::vector<std::vector<std::string>> lines;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line[0] == '#') continue;
        std::istringstream words(line);
        std::vector<std::string> fields;
        std::string word;
        while (words >> word)
            fields.push_back(word);
        if (!fields.empty()) lines.push_back(fields);
    }
    return lines;
}

bool parseHexWord(const std::string& text, uint32_t& value) {
    // strtoul alone would also take a sign ("-1" wrapping to FFFFFFFF) or a 0x prefix.
    if (text.empty() || text.size() > 8 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    value = static_cast<uint32_t>(strtoul(text.c_str(), nullptr, 16));
    return true;
}

std::optional<std::vector<long>> versionNumbers(const std::string& version) {
    std::vector<long> numbers;
    std::istringstream parts(version);
    std::string part;
    while (std::getline(parts, part, '.')) {
        if (part.empty() || part.size() > 9 || part.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        numbers.push_back(std::stol(part));
    }
    if (numbers.size() != 3) return std::nullopt;
    return numbers;
}

std::string Catalogue::modelOf(uint32_t serialNumber) const {
    for (const auto& fields : catalogueLines(directory_ + "/devices.txt")) {
        uint32_t serial = 0;
        if (fields.size() < 2 || !parseHexWord(fields[0], serial) || serial != serialNumber) continue;
        std::string model = fields[1];
        for (size_t i = 2; i < fields.size(); i++)
            model += " " + fields[i];
        return model;
    }
    return "";
}

std::string Catalogue::versionOf(const std::string& path) const {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return "";
    {
        std::lock_guard<std::mutex> lock(cacheMutex_);
        auto cached = versions_.find(path);
        if (cached != versions_.end() && cached->second.modified == modifiedNs(status) &&
            cached->second.size == status.st_size)
            return cached->second.version;
    }
    std::string version;
    try {
        if (isBirdFile(path)) version = BirdFile(path).version();
    } catch (const std::exception&) {
        // A file that does not load is listed without a version.
    }
    std::lock_guard<std::mutex> lock(cacheMutex_);
    versions_[path] = {modifiedNs(status), status.st_size, version};
    return version;
}

void Catalogue::addBuilds(const std::string& folder, const std::string& origin,
                          std::map<uint32_t, CatalogueBuild>& builds) const {
    for (const auto& [number, path] : buildFiles(directory_, folder))
        if (!builds.count(number)) builds[number] = {number, versionOf(path), origin, path};
}

// Calls visit with each build folder ("serial/..." or "model/..."), in name order.
template <class Visit> void eachBuildFolder(const std::string& directory, Visit visit) {
    for (const std::string kind : {"serial", "model"})
        for (const std::string& name : entryNames(directory + "/" + kind))
            if (isDirectory(directory + "/" + kind + "/" + name)) visit(kind + "/" + name);
}

std::vector<std::string> Catalogue::problems() const {
    std::vector<std::string> found;
    eachBuildFolder(directory_, [&](const std::string& folder) {
        try {
            buildFiles(directory_, folder);
        } catch (const CatalogueError& e) {
            found.push_back(e.what());
        }
    });
    return found;
}

std::vector<std::string> Catalogue::unsignedBuilds() const {
    std::vector<std::string> found;
    eachBuildFolder(directory_, [&](const std::string& folder) {
        try {
            for (const auto& entry : buildFiles(directory_, folder))
                if (!isSignedBuild(entry.second)) found.push_back(entry.second);
        } catch (const CatalogueError&) {
            // problems() reports it
        }
    });
    return found;
}

std::string signaturePathOf(const std::string& buildPath) {
    return buildPath + ".minisig";
}

bool isSignedBuild(const std::string& buildPath) {
    return isRegularFile(signaturePathOf(buildPath));
}

std::map<uint32_t, CatalogueBuild> Catalogue::builds(uint32_t serialNumber) const {
    std::map<uint32_t, CatalogueBuild> builds;
    const std::string serial = serialText(serialNumber);
    addBuilds("serial/" + serial, serial, builds);
    const std::string model = modelOf(serialNumber);
    if (!model.empty() && model.find('/') == std::string::npos && model != "." && model != "..")
        addBuilds("model/" + model, model, builds);
    return builds;
}

std::optional<CatalogueBuild> Catalogue::latest(uint32_t serialNumber) const {
    std::optional<CatalogueBuild> best;
    std::optional<std::vector<long>> bestVersion;
    for (const auto& entry : builds(serialNumber)) {
        const std::optional<std::vector<long>> version = versionNumbers(entry.second.version);
        // Builds come in ascending number order, so ">=" lets the higher number win a tie.
        if (!best || (version && (!bestVersion || *version >= *bestVersion)) || (!version && !bestVersion)) {
            best = entry.second;
            bestVersion = version;
        }
    }
    return best;
}

std::optional<RecoveryEntry> Catalogue::recovery(const uint32_t fingerprint[4]) const {
    for (const auto& fields : catalogueLines(directory_ + "/fingerprints.txt")) {
        uint32_t words[4], serial = 0, build = 0;
        if (fields.size() < 6) continue;
        bool valid = parseHexWord(fields[4], serial) && parseDecimal(fields[5], build);
        for (int i = 0; i < 4; i++)
            valid = valid && parseHexWord(fields[i], words[i]);
        if (valid && std::equal(words, words + 4, fingerprint)) return RecoveryEntry{serial, build};
    }
    return std::nullopt;
}
