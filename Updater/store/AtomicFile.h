// Replacing a stored file in one step. The bytes go to a hidden temporary file in
// the same directory, which is flushed to disk and then renamed over the target,
// so a crash or a full disk leaves either the old file or the new one, never a
// truncated one.
#ifndef UPDATER_ATOMICFILE_H
#define UPDATER_ATOMICFILE_H

#include <cstddef>
#include <string>

#include "aError.h"

// aErrNone, or: aErrFileNameLength (a path longer than the platform's file layer
// opens, aFILE_MAXPATH: what could never be read back is not written), aErrNotFound
// (directory missing), aErrPermission, aErrWrite (the bytes could not be written, as
// on a full disk) or aErrIO. On failure the target is
// untouched, no temporary file remains and, when systemError is given, it receives
// the system error number of the step that failed. A new file gets the usual
// permissions (0666 less the umask); a replaced file keeps its own.
aErr writeFileAtomically(const std::string& path, const void* bytes, size_t length,
                         int* systemError = nullptr);

inline aErr writeFileAtomically(const std::string& path, const std::string& content,
                                int* systemError = nullptr) {
    return writeFileAtomically(path, content.data(), content.size(), systemError);
}

#endif
