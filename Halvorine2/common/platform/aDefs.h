/* Basic types shared by the whole device library, and the model-name lookup. */
#ifndef HALVORINE_ADEFS_H
#define HALVORINE_ADEFS_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

typedef uint8_t uint8;
typedef uint16_t uint16;
typedef uint32_t uint32;
typedef uint64_t uint64;
typedef int8_t int8;
typedef int16_t int16;
typedef int32_t int32;
typedef int64_t int64;

#ifdef __cplusplus
extern "C" {
#endif

/* Product name of a module model number; "Unknown" for any number not in the table.
 * The text is constant and owned by the library. */
const char* aDefs_GetModelName(uint32 model);

#ifdef __cplusplus
}
#endif

#endif
