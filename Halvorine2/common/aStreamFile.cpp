#include "aStream.h"
#include "aFile.h"

#include <cstring>

namespace {

aErr sGetByte(uint8* byte, void* ref) {
    uint32 got = 0;
    aErr err = aFile_Read(static_cast<aFile*>(ref), byte, 1, &got);
    if (err == aErrNone && got == 1) return aErrNone;
    if (err == aErrEOF || (err == aErrNone && got == 0)) return aErrEOF;
    return err == aErrMode || err == aErrParam ? err : aErrRead;
}

aErr sWriteBuffer(const uint8* bytes, uint32 count, void* ref) {
    uint32 written = 0;
    aErr err = aFile_Write(static_cast<aFile*>(ref), bytes, count, &written);
    if (err == aErrNone && written == count) return aErrNone;
    return err == aErrMode || err == aErrParam ? err : aErrWrite;
}

aErr sPutByte(const uint8* byte, void* ref) { return sWriteBuffer(byte, 1, ref); }

aErr sDestroy(void* ref) {
    aFile* file = static_cast<aFile*>(ref);
    return aFile_Close(&file);
}

aErr sCreate(const char* path, int mode, aStream** stream) {
    if (!stream) return aErrResource;
    *stream = nullptr;
    if (!path || std::strlen(path) > aFILE_MAXPATH) return aErrResource;
    aFile* file = aFile_Open(path, mode);
    if (!file) return aErrResource;
    bool input = mode == aFileModeRead;
    *stream = aStream_Create(input ? sGetByte : nullptr, input ? nullptr : sPutByte,
                             input ? nullptr : sWriteBuffer, sDestroy, file);
    if (!*stream) {
        aFile_Close(&file);
        return aErrResource;
    }
    return aErrNone;
}

} // namespace

extern "C" {

aErr aStream_CreateFileInput(const char* path, aStream** stream) { return sCreate(path, aFileModeRead, stream); }

aErr aStream_CreateFileOutput(const char* path, aStream** stream) { return sCreate(path, aFileModeWrite, stream); }

} // extern "C"
