/* Directories and paths. The separator is "/"; built paths are limited to
 * aFILE_MAXPATH bytes including the NUL. */
#ifndef HALVORINE_ADIRECTORY_H
#define HALVORINE_ADIRECTORY_H

#include "aFile.h"

#ifdef __cplusplus
extern "C" {
#endif

#define aDIRECTORY_SEPARATOR "/"

/* Handed to the aDirectory_List callback; path is reused for the next entry. */
typedef struct {
    const char* path;  /* directory, separator, entry name */
    uint32 size;       /* low 32 bits of the size */
    int isDirectory;   /* 1 for a directory */
} aDirectoryEntry;

typedef bool (*aDirectoryCallback)(const aDirectoryEntry* entry, void* ref);

/* ".", "./" stand for the current working directory. */
bool aDirectory_Exists(const char* path);
/* Creates the directory and every missing parent; permissions is ignored.
 * aErrPermission when a level cannot be created. */
aErr aDirectory_Ensure(const char* path, int permissions);
/* Calls callback per entry ("." and ".." included) until it returns false.
 * aErrParam when the directory cannot be listed. */
aErr aDirectory_List(const char* directory, aDirectoryCallback callback, void* ref);
/* Removes an empty directory; aErrUnknown on failure. */
aErr aDirectory_Delete(const char* path);
/* Removes a directory and everything in it. A file that cannot be deleted stops the
 * walk: aErrNotFound, aErrPermission or aErrIO. */
aErr aDirectory_DeleteTree(const char* path);
aErr aDirectory_CWD(char* buffer, uint32 size);
aErr aDirectory_ExecutableFilePath(char* buffer, uint32 size);
/* $HOME, else the password database; aErrNotFound when neither gives one. */
aErr aDirectory_GetHomeDirectory(char* buffer, uint32 size);
/* Joins first and up to nine further texts (NULL ends the list) with one separator
 * between them. aErrParam when buffer is one of the texts or there are more than ten;
 * aErrOverrun when the result does not fit (the buffer keeps what was joined). */
aErr aDirectory_BuildPath(char* buffer, uint32 size, const char* first, ...);
aErr aDirectory_JoinPath(char* buffer, uint32 size, const char* a, const char* b);

#ifdef __cplusplus
}
#endif

#endif
