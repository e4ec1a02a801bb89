#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "aFile.h"

namespace {

std::atomic<unsigned> sTemporaryCounter{0};

// "dir/name" gives "dir/.name.tmp-PID-N": hidden, so store listings pass it over.
std::string temporaryPathFor(const std::string& path) {
    size_t slash = path.find_last_of('/');
    std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char suffix[48];
    snprintf(suffix, sizeof suffix, ".tmp-%ld-%u", static_cast<long>(getpid()),
             sTemporaryCounter.fetch_add(1));
    return directory + "." + name + suffix;
}

std::string directoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

aErr openError(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return aErrNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return aErrPermission;
    default:
        return aErrIO;
    }
}

bool writeAll(int fd, const unsigned char* bytes, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, bytes, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

aErr fail(aErr result, int error, int* systemError) {
    if (systemError) *systemError = error;
    errno = error;
    return result;
}

} // namespace

aErr writeFileAtomically(const std::string& path, const void* bytes, size_t length, int* systemError) {
    if (path.empty() || (!bytes && length > 0)) return fail(aErrParam, EINVAL, systemError);
    if (path.size() > aFILE_MAXPATH) return fail(aErrFileNameLength, ENAMETOOLONG, systemError);
    std::string temporary = temporaryPathFor(path);
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        int error = errno;
        return fail(openError(error), error, systemError);
    }
    struct stat existing;
    if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        (void)::fchmod(fd, existing.st_mode & 07777);

    aErr result = aErrNone;
    int error = 0;
    if (!writeAll(fd, static_cast<const unsigned char*>(bytes), length)) {
        result = aErrWrite;
        error = errno;
    } else if (::fsync(fd) != 0) {
        result = aErrWrite;
        error = errno;
    }
    if (::close(fd) != 0 && result == aErrNone) {
        result = aErrWrite;
        error = errno;
    }
    if (result == aErrNone && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
        result = openError(error);
    }
    if (result != aErrNone) {
        ::unlink(temporary.c_str());
        return fail(result, error, systemError);
    }
    // Make the rename itself durable; the new content is in place either way.
    int dir = ::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return aErrNone;
}
