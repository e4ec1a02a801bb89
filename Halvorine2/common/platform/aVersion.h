/* Packed three-part version words, the library's own version and its feature list.
 *
 * A packed word uses one of two layouts, told apart by its top byte:
 *   legacy:  major(4) minor(4) patch(24)
 *   current: 0x2F major(8) minor(8) patch(8)
 */
#ifndef HALVORINE_AVERSION_H
#define HALVORINE_AVERSION_H

#include "aDefs.h"

#ifdef __cplusplus
extern "C" {
#endif

bool aVersion_IsLegacyFormat(uint32 packed);
uint8 aVersion_ParseMajor(uint32 packed);
uint8 aVersion_ParseMinor(uint32 packed);
uint32 aVersion_ParsePatch(uint32 packed);

/* Writes "major.minor.patch" (at most 14 characters) and returns the characters
 * written; a buffer too small for the whole text receives nothing and 0 is returned. */
size_t aVersion_ParseString(uint32 packed, char* buffer, size_t bufferLength);

/* Versions from 2.15.0 on (and every major of 3 or more) pack in the current layout. */
uint32 aVersion_Pack(uint8 major, uint8 minor, uint8 patch);

uint8 aVersion_GetMajor(void);
uint8 aVersion_GetMinor(void);
uint8 aVersion_GetPatch(void);
/* "2.11.2"; owned by the library. */
const char* aVersion_GetString(void);

/* True when the library's own version is at least major.minor.patch. */
bool aVersion_IsAtLeast(uint8 major, uint8 minor, uint8 patch);
/* True when version A >= version B. */
bool aVersion_IsAtLeastCompare(uint8 majorA, uint8 minorA, uint8 patchA, uint8 majorB, uint8 minorB,
                               uint8 patchB);

bool aVersion_HasFeature(const char* name);
/* "NAME - Description"; the caller frees it with aVersion_DestroyFeatureList. */
char* aVersion_GetFeatureList(void);
void aVersion_DestroyFeatureList(char** list);

#ifdef __cplusplus
}
#endif

#endif
