/* Packet log: a byte ring that records link traffic for debugging.
 *
 * An entry is a type byte, a length byte and that many bytes, so it holds at
 * most 255 bytes. When space runs short the oldest entries are dropped without
 * notice. One byte of the ring always stays free, so a full ring never looks
 * empty: a ring of size bytes holds entries of at most size - 3 bytes.
 *
 * The ring has no lock of its own: its owner serialises every access.
 */
#ifndef HALVORINE_APACKETLOG_H
#define HALVORINE_APACKETLOG_H

#include "aError.h"

/* Entry types. */
#define aPACKETLOG_SENT 1     /* wire form of a packet sent to the module */
#define aPACKETLOG_RECEIVED 2 /* wire form of a packet received from it */
#define aPACKETLOG_TEXT 3     /* a text line added by the application */

#define aPACKETLOG_MAX_ENTRY 255

#ifdef __cplusplus
extern "C" {
#endif

typedef struct aPacketLog {
    int enabled;       /* 1 while entries are to be recorded; the owner tests it */
    uint8* data;       /* the ring, size bytes */
    uint32 size;       /* ring size in bytes */
    uint32 readIndex;  /* start of the oldest entry */
    uint32 writeIndex; /* where the next entry begins; equal indices: empty */
} aPacketLog;

/* An empty, enabled ring of size bytes; NULL for size 0 or when memory runs out. */
aPacketLog* aPacketLog_Create(uint32 size);

/* Appends an entry, dropping the oldest ones until it fits. aErrOverrun (nothing
 * written, nothing dropped) when it could never fit the ring; aErrRange when
 * length exceeds aPACKETLOG_MAX_ENTRY; aErrParam for a NULL log, or NULL bytes
 * with a non-zero length. */
aErr aPacketLog_Put(aPacketLog* log, uint8 type, uint32 length, const uint8* bytes);

/* Takes the oldest entry. On entry *length is the buffer's capacity; on success
 * the entry is removed and its type, length and bytes are returned.
 * aErrNotFound when the ring is empty. aErrOverrun when the entry is longer
 * than the capacity: *length is set to the entry's length and the entry stays.
 * aErrParam for a NULL log, type or length, or a NULL buffer for a non-empty entry. */
aErr aPacketLog_Get(aPacketLog* log, uint32* type, uint32* length, uint8* buffer);

/* Frees ring and record and clears *log; NULL is accepted. Always aErrNone. */
aErr aPacketLog_Destroy(aPacketLog** log);

#ifdef __cplusplus
}
#endif

#endif
