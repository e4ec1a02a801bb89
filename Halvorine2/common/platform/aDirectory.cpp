#include "aDirectory.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <dirent.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr char kSeparator = '/';
constexpr int kMaxFurtherTexts = 9;

bool isDirectory(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// A level that exists counts only when it is a directory: a file in its place must
// not pass for one.
bool makeLevel(const std::string& path) {
    return ::mkdir(path.c_str(), 0755) == 0 || (errno == EEXIST && isDirectory(path.c_str()));
}

aErr copyText(char* buffer, uint32 size, const char* text) {
    return aDirectory_BuildPath(buffer, size, text, nullptr);
}

aErr deleteFileResult() {
    switch (errno) {
    case ENOENT: return aErrNotFound;
    case EACCES:
    case EPERM: return aErrPermission;
    default: return aErrIO;
    }
}

} // namespace

extern "C" {

aErr aDirectory_BuildPath(char* buffer, uint32 size, const char* first, ...) {
    if (!buffer || size == 0 || !first) return aErrParam;
    const char* texts[kMaxFurtherTexts + 1];
    int count = 0;
    va_list args;
    va_start(args, first);
    for (const char* t = va_arg(args, const char*); t; t = va_arg(args, const char*)) {
        if (count == kMaxFurtherTexts) {
            va_end(args);
            buffer[0] = '\0';
            return aErrParam;
        }
        texts[count++] = t;
    }
    va_end(args);

    if (buffer == first) return aErrParam;
    for (int i = 0; i < count; ++i)
        if (texts[i] == buffer) return aErrParam;
    buffer[0] = '\0';

    size_t length = std::strlen(first);
    if (length >= size_t(size) - 1) return aErrOverrun;
    std::memcpy(buffer, first, length + 1);

    for (int i = 0; i < count; ++i) {
        const char* next = texts[i];
        size_t room = size - length - 1;
        bool endsWithSeparator = length > 0 && buffer[length - 1] == kSeparator;
        if (room > 1 && !endsWithSeparator && next[0] != kSeparator) {
            buffer[length++] = kSeparator;
            buffer[length] = '\0';
            room -= 1;
        }
        size_t nextLength = std::strlen(next);
        if (nextLength >= room) return aErrOverrun;
        std::memcpy(buffer + length, next, nextLength + 1);
        length += nextLength;
    }
    return aErrNone;
}

aErr aDirectory_JoinPath(char* buffer, uint32 size, const char* a, const char* b) {
    return aDirectory_BuildPath(buffer, size, a, b, nullptr);
}

bool aDirectory_Exists(const char* path) {
    if (!path) return false;
    if (std::strcmp(path, ".") == 0 || std::strcmp(path, "./") == 0) {
        char cwd[1024];
        return ::getcwd(cwd, sizeof cwd) && isDirectory(cwd);
    }
    return isDirectory(path);
}

aErr aDirectory_Ensure(const char* path, int permissions) {
    (void)permissions;
    if (!path || !*path) return aErrParam;
    if (isDirectory(path)) return aErrNone;

    // Find the deepest level that exists already, walking up from the end.
    std::string full(path);
    size_t start = 0;
    for (size_t cut = full.rfind(kSeparator); cut != std::string::npos && cut > 0;
         cut = full.rfind(kSeparator, cut - 1)) {
        if (isDirectory(full.substr(0, cut).c_str())) {
            start = cut + 1;
            break;
        }
    }

    // Create each missing level that ends at a separator, top down.
    aErr result = aErrNone;
    for (size_t at = full.find(kSeparator, start); at != std::string::npos; at = full.find(kSeparator, at + 1)) {
        if (at == 0) continue;
        if (!makeLevel(full.substr(0, at))) {
            result = aErrPermission;
            break;
        }
    }
    if (!makeLevel(full)) return aErrPermission;
    return result;
}

aErr aDirectory_List(const char* directory, aDirectoryCallback callback, void* ref) {
    if (!directory || !callback) return aErrParam;
    DIR* dir = ::opendir(directory);
    if (!dir) return aErrParam;
    char path[aFILE_MAXPATH];
    while (struct dirent* entry = ::readdir(dir)) {
        if (aDirectory_BuildPath(path, sizeof path, directory, entry->d_name, nullptr) != aErrNone) continue;
        struct stat st;
        aDirectoryEntry item = {path, 0, 0};
        if (::stat(path, &st) == 0) {
            item.size = uint32(st.st_size);
            item.isDirectory = S_ISDIR(st.st_mode) ? 1 : 0;
        }
        if (!callback(&item, ref)) break;
    }
    ::closedir(dir);
    return aErrNone;
}

aErr aDirectory_Delete(const char* path) {
    if (!path) return aErrParam;
    return ::rmdir(path) == 0 ? aErrNone : aErrUnknown;
}

aErr aDirectory_DeleteTree(const char* path) {
    if (!path) return aErrParam;
    DIR* dir = ::opendir(path);
    if (!dir) return aErrParam;
    // Names first: removing entries while reading the directory may skip some.
    std::vector<std::string> names;
    while (struct dirent* entry = ::readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    ::closedir(dir);

    aErr fileResult = aErrNone;
    for (const std::string& name : names) {
        std::string child = std::string(path) + kSeparator + name;
        struct stat st;
        if (::lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            aDirectory_DeleteTree(child.c_str());
        } else if (::unlink(child.c_str()) != 0) {
            fileResult = deleteFileResult();
            break;
        }
    }
    bool removed = ::rmdir(path) == 0;
    if (fileResult != aErrNone) return fileResult;
    return removed ? aErrNone : aErrUnknown;
}

aErr aDirectory_CWD(char* buffer, uint32 size) {
    if (!buffer || size == 0 || !::getcwd(buffer, size)) return aErrParam;
    return aErrNone;
}

aErr aDirectory_ExecutableFilePath(char* buffer, uint32 size) {
    if (!buffer || size == 0) return aErrRead;
    ssize_t n = ::readlink("/proc/self/exe", buffer, size);
    if (n < 0 || uint32(n) >= size) {
        buffer[0] = '\0';
        return aErrRead;
    }
    buffer[n] = '\0';
    return aErrNone;
}

aErr aDirectory_GetHomeDirectory(char* buffer, uint32 size) {
    if (!buffer || size == 0) return aErrParam;
    buffer[0] = '\0';
    const char* home = std::getenv("HOME");
    if (home && *home) return copyText(buffer, size, home);
    struct passwd pw;
    struct passwd* found = nullptr;
    char scratch[4096];
    if (::getpwuid_r(::getuid(), &pw, scratch, sizeof scratch, &found) == 0 && found && found->pw_dir &&
        *found->pw_dir)
        return copyText(buffer, size, found->pw_dir);
    return aErrNotFound;
}

} // extern "C"
