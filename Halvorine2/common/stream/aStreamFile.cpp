#include "aStream.h"
#include "aFile.h"
#include "aStreamDescriptorIO.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

// File streams move bytes in blocks: a system call per byte (and, for output, a sync to
// the disk per byte) made copying a file take minutes. Input is read a buffer at a time;
// output is gathered into blocks written in order, and the file is synced to the disk once,
// when the stream is destroyed. A write failure is answered by the write that meets it and
// by every later write and the destroy, so a caller that looks only at the destroy still
// learns that bytes were lost, and nothing after a lost block reaches the file.

namespace {

const uint16 kFileStreamCheck = 0xF11E;
const uint32 kOutputBlockSize = 64 * 1024;

struct FileRecord {
    int fd;
    uint16 check;
    aStreamInBuffer in; // input streams
    uint8* out;         // output streams: kOutputBlockSize bytes waiting for the file
    uint32 pending;
    aErr failure; // output: the first failure, answered from then on
};

FileRecord* sRecord(void* ref) {
    FileRecord* r = static_cast<FileRecord*>(ref);
    return r && r->check == kFileStreamCheck ? r : nullptr;
}

aErr sGetByte(uint8* byte, void* ref) {
    FileRecord* r = sRecord(ref);
    if (!r || !byte) return aErrParam;
    if (aStreamInBuffer_Take(&r->in, byte)) return aErrNone;
    ssize_t n = aStreamInBuffer_Fill(&r->in, r->fd);
    if (n < 0) return aErrRead;
    return aStreamInBuffer_Take(&r->in, byte) ? aErrNone : aErrEOF;
}

// Hands the gathered block to the file; the block is empty afterwards either way.
void sWritePending(FileRecord* r) {
    if (r->pending > 0 &&
        aStreamDescriptor_WriteAll(r->fd, r->out, r->pending, aSTREAM_DESCRIPTOR_WRITE_TIMEOUT) != aErrNone)
        r->failure = aErrWrite;
    r->pending = 0;
}

aErr sWriteBuffer(const uint8* bytes, uint32 count, void* ref) {
    FileRecord* r = sRecord(ref);
    if (!r || !bytes) return aErrParam;
    while (count > 0 && r->failure == aErrNone) {
        uint32 take = count < kOutputBlockSize - r->pending ? count : kOutputBlockSize - r->pending;
        std::memcpy(r->out + r->pending, bytes, take);
        r->pending += take;
        bytes += take;
        count -= take;
        if (r->pending == kOutputBlockSize) sWritePending(r);
    }
    return r->failure;
}

aErr sPutByte(const uint8* byte, void* ref) {
    return sWriteBuffer(byte, 1, ref);
}

// Writes what is left and syncs once. A device that cannot be synced (EINVAL, EROFS:
// /dev/null, a terminal) holds nothing to lose.
aErr sFinishOutput(FileRecord* r) {
    if (r->failure == aErrNone) sWritePending(r);
    if (r->failure == aErrNone && fdatasync(r->fd) != 0 && errno != EINVAL && errno != EROFS)
        r->failure = aErrWrite;
    return r->failure;
}

aErr sDestroy(void* ref) {
    FileRecord* r = sRecord(ref);
    if (!r) return aErrParam;
    aErr err = r->out ? sFinishOutput(r) : aErrNone;
    if (close(r->fd) != 0 && r->out && errno != EINTR && err == aErrNone) err = aErrWrite;
    r->check = 0;
    delete[] r->out;
    delete r;
    return err;
}

// Input needs an existing file that is not a directory; output creates or truncates.
int sOpen(const char* path, bool output) {
    int fd = output ? open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)
                    : open(path, O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))) {
        close(fd);
        fd = -1;
    }
    return fd;
}

FileRecord* sNewRecord(bool output) {
    FileRecord* r = new (std::nothrow) FileRecord();
    if (!r || !output) return r;
    r->out = new (std::nothrow) uint8[kOutputBlockSize];
    if (!r->out) {
        delete r;
        return nullptr;
    }
    return r;
}

aErr sCreate(const char* path, bool output, aStream** stream) {
    if (!stream) return aErrResource;
    *stream = nullptr;
    if (!path || std::strlen(path) > aFILE_MAXPATH) return aErrResource;
    FileRecord* r = sNewRecord(output);
    if (!r) return aErrResource;
    r->fd = sOpen(path, output);
    r->check = kFileStreamCheck;
    if (r->fd >= 0)
        *stream = aStream_Create(output ? nullptr : sGetByte, output ? sPutByte : nullptr,
                                 output ? sWriteBuffer : nullptr, sDestroy, r);
    if (*stream) return aErrNone;
    if (r->fd >= 0) close(r->fd);
    delete[] r->out;
    delete r;
    return aErrResource;
}

} // namespace

extern "C" {

aErr aStream_CreateFileInput(const char* path, aStream** stream) {
    return sCreate(path, false, stream);
}

aErr aStream_CreateFileOutput(const char* path, aStream** stream) {
    return sCreate(path, true, stream);
}

} // extern "C"
