#include "aFile.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32 kFileCheck = 0xFEED;

} // namespace

struct aFile {
    uint32 check;
    int fd;
    int mode;
};

namespace {

bool isValid(const aFile* file) { return file && file->check == kFileCheck; }
bool canRead(const aFile* file) { return file->mode == aFileModeRead || file->mode == aFileModeAppend; }
bool canWrite(const aFile* file) { return file->mode == aFileModeWrite || file->mode == aFileModeAppend; }

int openFlags(int mode) {
    switch (mode) {
    case aFileModeRead: return O_RDONLY;
    case aFileModeWrite: return O_WRONLY | O_CREAT | O_TRUNC | O_DSYNC;
    case aFileModeAppend: return O_RDWR | O_CREAT | O_DSYNC;
    default: return -1;
    }
}

// Reads until length bytes arrived or the file ends; -1 only when nothing could be read.
ssize_t readFully(int fd, uint8* buffer, size_t length) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::read(fd, buffer + done, length - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return done > 0 ? ssize_t(done) : -1;
        }
        if (n == 0) break;
        done += size_t(n);
    }
    return ssize_t(done);
}

} // namespace

extern "C" {

bool aFile_Exists(const char* path) {
    struct stat st;
    return path && ::stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

aFile* aFile_Open(const char* path, int mode) {
    // errno tells callers why, as it does for a failed system open.
    if (!path || std::strlen(path) > aFILE_MAXPATH) {
        errno = path ? ENAMETOOLONG : EINVAL;
        return nullptr;
    }
    int flags = openFlags(mode);
    if (flags < 0) {
        errno = EINVAL;
        return nullptr;
    }
    int fd = ::open(path, flags | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    struct stat st;
    int error = ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
    if (error != 0) {
        ::close(fd);
        errno = error;
        return nullptr;
    }
    if (mode == aFileModeAppend && ::lseek(fd, 0, SEEK_END) < 0) {
        ::close(fd);
        return nullptr;
    }
    aFile* file = static_cast<aFile*>(std::malloc(sizeof(aFile)));
    if (!file) {
        ::close(fd);
        return nullptr;
    }
    file->check = kFileCheck;
    file->fd = fd;
    file->mode = mode;
    return file;
}

aErr aFile_Close(aFile** file) {
    if (!file || !isValid(*file)) return aErrParam;
    ::close((*file)->fd);
    (*file)->check = 0;
    std::free(*file);
    *file = nullptr;
    return aErrNone;
}

aErr aFile_Read(aFile* file, uint8* buffer, uint32 length, uint32* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    if (!isValid(file) || !buffer) return aErrParam;
    if (!canRead(file)) return aErrMode;
    if (length == 0) return aErrNone;
    ssize_t n = readFully(file->fd, buffer, length);
    if (n < 0) return aErrRead;
    if (bytesRead) *bytesRead = uint32(n);
    return n == 0 ? aErrEOF : aErrNone;
}

aErr aFile_Write(aFile* file, const uint8* buffer, uint32 length, uint32* bytesWritten) {
    if (bytesWritten) *bytesWritten = 0;
    if (!isValid(file) || !buffer) return aErrParam;
    if (!canWrite(file)) return aErrMode;
    uint32 done = 0;
    while (done < length) {
        ssize_t n = ::write(file->fd, buffer + done, length - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (bytesWritten) *bytesWritten = done;
            return aErrWrite;
        }
        done += uint32(n);
    }
    if (bytesWritten) *bytesWritten = done;
    return aErrNone;
}

aErr aFile_Seek(aFile* file, int32 offset, int origin) {
    if (!isValid(file)) return aErrParam;
    struct stat st;
    off_t position = ::lseek(file->fd, 0, SEEK_CUR);
    if (::fstat(file->fd, &st) != 0 || position < 0) return aErrIO;
    int64 base = origin == 1 ? int64(position) : origin == 2 ? int64(st.st_size) : 0;
    int64 target = base + offset;
    if (target < 0 || target > int64(st.st_size)) return aErrRange;
    return ::lseek(file->fd, off_t(target), SEEK_SET) < 0 ? aErrIO : aErrNone;
}

aErr aFile_GetSize(aFile* file, uint32* size) {
    if (!isValid(file) || !size) return aErrParam;
    *size = 0;
    struct stat st;
    if (::fstat(file->fd, &st) != 0) return aErrIO;
    *size = uint32(st.st_size);
    return aErrNone;
}

aErr aFile_GetPosition(aFile* file, uint32* position) {
    if (!isValid(file) || !position) return aErrParam;
    *position = 0;
    off_t at = ::lseek(file->fd, 0, SEEK_CUR);
    if (at < 0) return aErrIO;
    *position = uint32(at);
    return aErrNone;
}

aErr aFile_Delete(const char* path) {
    if (!path) return aErrParam;
    if (::unlink(path) == 0) return aErrNone;
    switch (errno) {
    case ENOENT: return aErrNotFound;
    case EACCES:
    case EPERM: return aErrPermission;
    default: return aErrIO;
    }
}

aErr aFile_ReadLine(aFile* file, char* buffer, uint32 bufferSize, uint32* lineLength) {
    if (lineLength) *lineLength = 0;
    if (buffer && bufferSize > 0) buffer[0] = '\0';
    if (!isValid(file) || !buffer || !lineLength) return aErrParam;
    if (!canRead(file)) return aErrMode;
    if (bufferSize < 2) return aErrSize;

    ssize_t n = readFully(file->fd, reinterpret_cast<uint8*>(buffer), bufferSize - 1);
    if (n < 0) return aErrIO;
    if (n == 0) {
        buffer[0] = '\0';
        return aErrEOF;
    }
    const void* lf = std::memchr(buffer, '\n', size_t(n));
    size_t length = size_t(n);
    if (lf) {
        length = size_t(static_cast<const char*>(lf) - buffer) + 1;
        // Give back what was read past the line so the next read starts after it.
        if (::lseek(file->fd, -off_t(size_t(n) - length), SEEK_CUR) < 0) return aErrIO;
    }
    buffer[length] = '\0';
    *lineLength = uint32(length);
    return (!lf && uint32(n) == bufferSize - 1) ? aErrOverrun : aErrNone;
}

aErr aFile_SetUnbuffered(aFile* file) {
    (void)file;
    return aErrMode;
}

aErr aFile_Printf(aFile* file, const char* format, ...) {
    if (!isValid(file) || !format) return aErrParam;
    if (!canWrite(file)) return aErrMode;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length < 0 || length > aFILE_MAXPRINTF) {
        va_end(args);
        return aErrIO;
    }
    std::vector<char> text(size_t(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    return aFile_Write(file, reinterpret_cast<const uint8*>(text.data()), uint32(length), nullptr);
}

} // extern "C"
