/* Files by handle. A handle is a heap record with a check word; every call refuses
 * a record without it (aErrParam). aFile_Close clears the caller's pointer. */
#ifndef HALVORINE_AFILE_H
#define HALVORINE_AFILE_H

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct aFile aFile;

/* Open modes. Reading is allowed in Read and Append, writing in Write and Append;
 * Write and Append go through to the disk at once. */
enum {
    aFileModeRead = 0,   /* file must exist */
    aFileModeWrite = 1,  /* created or truncated */
    aFileModeAppend = 2  /* opened or created; position at the end */
};

/* Longest path, in bytes including the NUL, that the platform layer builds or opens. */
#define aFILE_MAXPATH 260
/* Longest text aFile_Printf writes. */
#define aFILE_MAXPRINTF 65535

bool aFile_Exists(const char* path);
/* NULL for a NULL or over-long path, an unknown mode or a failed open. */
aFile* aFile_Open(const char* path, int mode);
aErr aFile_Close(aFile** file);

/* aErrEOF when nothing was read though length > 0. */
aErr aFile_Read(aFile* file, uint8* buffer, uint32 length, uint32* bytesRead);
aErr aFile_Write(aFile* file, const uint8* buffer, uint32 length, uint32* bytesWritten);
/* origin 0 start, 1 current, 2 end (others count as 0); a target outside 0..size is aErrRange. */
aErr aFile_Seek(aFile* file, int32 offset, int origin);
aErr aFile_GetSize(aFile* file, uint32* size);
aErr aFile_GetPosition(aFile* file, uint32* position);
aErr aFile_Delete(const char* path);

/* Reads one line, the line feed included, into buffer (NUL-terminated). aErrOverrun
 * when the line goes on past bufferSize - 1 bytes; aErrEOF at the end of the file.
 * A bufferSize below 2 is refused with aErrSize. */
aErr aFile_ReadLine(aFile* file, char* buffer, uint32 bufferSize, uint32* lineLength);

/* Always aErrMode: buffering cannot be switched off. */
aErr aFile_SetUnbuffered(aFile* file);

/* Formats (at most aFILE_MAXPRINTF characters, into a per-call buffer: safe from
 * several threads) and writes the text. */
aErr aFile_Printf(aFile* file, const char* format, ...) __attribute__((format(printf, 2, 3)));

#ifdef __cplusplus
}
#endif

#endif
