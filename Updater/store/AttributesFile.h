// A device's attributes: a small text file of KEY=VALUE lines recording what was
// last downloaded and transferred and when. The whole file is read into memory,
// changed there and written back in key order.
//
// File format: one "KEY=VALUE\n" line per pair, in byte-wise key order. Reading
// skips lines shorter than three characters and lines starting with "#", trims
// white space around keys and values, and lets the last of repeated keys win.
#ifndef UPDATER_ATTRIBUTESFILE_H
#define UPDATER_ATTRIBUTESFILE_H

#include <map>
#include <string>

#include "aError.h"

class AttributesFile {
  public:
    static constexpr const char* kDefaultFileName = ".settings";

    AttributesFile() = default;
    // Reads path at once (see read).
    explicit AttributesFile(const std::string& path);

    // Names the file and merges its pairs into memory. A file that does not exist is
    // created at once holding CREATED_TIME and UPDATED_TIME. A file that exists but
    // cannot be opened (no permission, an I/O error, a directory in its place), or whose
    // reading stops before its end (a line of 2048 bytes or more, an I/O error), is left
    // as it is. Failures are only logged; the result (that of closing the file) may be
    // ignored.
    aErr read(const std::string& path);

    // Writes every pair to the file, replacing it in one step: a failed write
    // leaves the previous file intact. UPDATED_TIME is set first when something
    // changed. Without a path the current name is used (".settings" when none).
    // A file whose last read failed for any reason but its absence is never
    // replaced (aErrRead). Failures are only logged and leave the values and the
    // modified flag as they are.
    aErr write();
    aErr write(const std::string& path);

    // Sets a value (adding the key if needed); marks the file modified when the
    // value changes. Always true.
    bool setText(const std::string& key, const std::string& text);
    bool setText(const char* key, const char* text);

    // The value's leading decimal number (as atoi reads it), or defaultValue when
    // the value is empty. An absent key is added with an empty value, unmodified.
    int getInt(const std::string& key, int defaultValue);

    // The value, or defaultValue ("" when null) when the key is absent.
    std::string getText(const std::string& key, const char* defaultValue = nullptr) const;

    const std::string& fileName() const { return m_fileName; }
    bool isModified() const { return m_modified; }
    // Whether the named file exists but could not be read to its end (see read): the
    // values then hold at most a part of it.
    bool isUnreadable() const { return m_unreadable; }
    const std::map<std::string, std::string>& values() const { return m_values; }

  private:
    void parseLine(const std::string& line);

    std::string m_fileName;
    std::map<std::string, std::string> m_values;
    bool m_modified = false;
    bool m_unreadable = false; // the named file exists but its last read failed or stopped early
};

#endif
