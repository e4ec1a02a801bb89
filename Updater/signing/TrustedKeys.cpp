#include "TrustedKeys.h"

#include <dirent.h>

#include <algorithm>

#include "FileRead.h"

const char kSystemKeyDirectory[] = "/etc/veltrano/keys.d";

namespace {

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The "*.pub" names of a directory in name order, so the first of two files with
// the same key id wins the same way on every machine.
std::vector<std::string> keyFileNames(const std::string& directory) {
    std::vector<std::string> names;
    DIR* dir = opendir(directory.c_str());
    if (!dir) return names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name[0] != '.' && endsWith(name, ".pub")) names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

std::vector<std::string> trustedKeyDirectories(const std::string& storeBase) {
    return {kSystemKeyDirectory, storeBase + "/keys"};
}

TrustedKeys TrustedKeys::load(const std::vector<std::string>& directories) {
    TrustedKeys keys;
    for (const std::string& directory : directories) {
        for (const std::string& name : keyFileNames(directory)) {
            const std::string path = directory + "/" + name;
            ++keys.m_files;
            std::string text;
            minisign::PublicKey key;
            std::string why = readFileContent(path, text, minisign::kMaxFileBytes) == FileRead::Done
                                  ? minisign::parsePublicKey(text, key)
                                  : "cannot be read";
            if (why.empty())
                keys.m_keys.push_back(key);
            else
                keys.m_problems.push_back(path + ": " + why);
        }
    }
    return keys;
}

const minisign::PublicKey* TrustedKeys::find(const minisign::KeyId& keyId) const {
    for (const minisign::PublicKey& key : m_keys)
        if (key.keyId == keyId) return &key;
    return nullptr;
}
