// -C: checks a BIRD file: that it loads, what it is for, and its blocks.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "BirdSummary.h"
#include "UpdaterApp.h"
#include "aFile.h"

namespace {

// Why the file at path does not load, as far as can be told before loading it; ""
// when nothing stands in the way.
std::string reasonItCannotLoad(const std::string& path) {
    struct stat status;
    // A FIFO is not even opened: that would wait for a writer.
    if (stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode))
        return "Not a BIRD file: " + path + " is no regular file";
    aFile* file = aFile_Open(path.c_str(), aFileModeRead);
    if (!file) {
        const int error = errno;
        if (error == ENOENT) return "BIRD file not found: " + path;
        return "Cannot open BIRD file " + path + ": " + strerror(error);
    }
    aFile_Close(&file);
    if (!isBirdFile(path)) return "Not a BIRD file: " + path;
    return "";
}

} // namespace

bool UpdaterApp::Check_BirdFile(const std::string& path) {
    const std::string reason = reasonItCannotLoad(path);
    if (!reason.empty()) {
        displayPrintf(m_display, 1, "%s", reason.c_str());
        return false;
    }
    BirdFile bird;
    try {
        bird = BirdFile(path);
    } catch (const std::runtime_error& error) {
        // Past the header, only the compressed body can stop the load.
        displayPrintf(m_display, 1, "%s from %s: its compressed body is damaged, cut short or too large",
                      error.what(), path.c_str());
        return false;
    }
    displayField(m_display, "BIRD file:", path.c_str());
    for (const std::string& line : birdSummary(bird))
        displayPrintf(m_display, 0, "%s", line.c_str());
    return showSignature("Signature:", path);
}
