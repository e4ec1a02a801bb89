#include "AttributesFile.h"

#include <cerrno>
#include <cstdlib>

#include "AtomicFile.h"
#include "Timestamp.h"
#include "UpdaterLog.h"
#include "aFile.h"

namespace {

const char kWhiteSpace[] = " \t\n\v\f\r";
const uint32 kLineBufferSize = 2048;

std::string trimEnd(const std::string& text) {
    size_t end = text.find_last_not_of(kWhiteSpace);
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::string trimStart(const std::string& text) {
    size_t start = text.find_first_not_of(kWhiteSpace);
    return start == std::string::npos ? std::string() : text.substr(start);
}

} // namespace

AttributesFile::AttributesFile(const std::string& path) {
    read(path);
}

aErr AttributesFile::read(const std::string& path) {
    aFile* file = aFile_Open(path.c_str(), aFileModeRead);
    m_unreadable = false;
    if (!file) {
        const int error = errno;
        updaterLog(DEBUG_Attributes, "Attibutes: Error - cannot open attributes file: '%s' (%d)\n",
                   path.c_str(), error);
        // Only a file that is not there is started afresh. One that is there but cannot
        // be read (no permission, an I/O error) still holds the device's history.
        if (error == ENOENT) {
            setText("CREATED_TIME", currentTimestamp());
            write(path);
        } else {
            m_unreadable = true;
        }
    }
    m_fileName = path;
    m_modified = false;

    char buffer[kLineBufferSize];
    uint32 length = 0;
    aErr line = aErrEOF;
    while (file && (line = aFile_ReadLine(file, buffer, sizeof buffer, &length)) == aErrNone)
        parseLine(std::string(buffer, length));
    // Reading that stops before the end (a line too long for the buffer, an I/O error)
    // leaves pairs unread, which a rewrite would drop.
    if (line != aErrEOF) {
        updaterLog(DEBUG_Attributes, "Attibutes: Error - reading attributes file: '%s' stopped early (%d)\n",
                   path.c_str(), line);
        m_unreadable = true;
    }
    return aFile_Close(&file);
}

void AttributesFile::parseLine(const std::string& line) {
    if (line.size() < 3 || line[0] == '#') return;
    size_t equals = line.find('=');
    std::string key = trimEnd(trimStart(line.substr(0, equals)));
    // A line without "=" keeps its whole text as the key, with an empty value.
    std::string value =
        equals == std::string::npos ? std::string() : trimEnd(trimStart(line.substr(equals + 1)));
    m_values[key] = value;
}

aErr AttributesFile::write() {
    if (m_fileName.empty()) {
        m_fileName = kDefaultFileName;
        updaterLog(DEBUG_Attributes, "Attibutes: no filename given for attributes, using default:[%s]\n",
                   m_fileName.c_str());
    }
    return write(m_fileName);
}

aErr AttributesFile::write(const std::string& path) {
    if (m_unreadable && path == m_fileName) {
        // Writing what was gathered here would replace pairs that were never read.
        updaterLog(DEBUG_Attributes, "Attibutes: not rewriting '%s': it could not be read\n", path.c_str());
        return aErrRead;
    }
    m_fileName = path;
    if (m_modified) setText("UPDATED_TIME", currentTimestamp());

    std::string content;
    for (const auto& [key, value] : m_values)
        content += key + "=" + value + "\n";
    int error = 0;
    const aErr result = writeFileAtomically(m_fileName, content, &error);
    if (result != aErrNone) {
        updaterLog(DEBUG_Attributes,
                   "Attibutes: Error - cannot open attributes file for writting: '%s' (%d)\n",
                   m_fileName.c_str(), error);
        return result;
    }
    m_modified = false;
    return aErrNone;
}

bool AttributesFile::setText(const std::string& key, const std::string& text) {
    std::string& value = m_values[key];
    if (value != text) {
        m_modified = true;
        value = text;
    }
    return true;
}

bool AttributesFile::setText(const char* key, const char* text) {
    return setText(std::string(key ? key : ""), std::string(text ? text : ""));
}

int AttributesFile::getInt(const std::string& key, int defaultValue) {
    const std::string& value = m_values[key];
    return value.empty() ? defaultValue : atoi(value.c_str());
}

std::string AttributesFile::getText(const std::string& key, const char* defaultValue) const {
    auto found = m_values.find(key);
    if (found == m_values.end()) return defaultValue ? defaultValue : "";
    return found->second;
}
