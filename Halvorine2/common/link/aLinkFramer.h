/* Framing of a module's byte stream on the link's reader thread: packet
 * assembly while in step, and the resynchronisation machine while syncing.
 * Pure logic (no I/O), so it can be driven byte by byte on its own. */
#ifndef HALVORINE_ALINKFRAMER_H
#define HALVORINE_ALINKFRAMER_H

#include "aPacket.h"

/* States of the resynchronisation machine. It waits for two empty packets from
 * one module address, [A, 0, A, 0]: the module's answers to the sync packets. */
enum {
    kSyncStateIdle = 0,
    kSyncStateStart = 1, /* a new sync burst is due */
    kSyncStateByte1 = 2, /* burst sent; expecting A */
    kSyncStateByte2 = 3, /* expecting 0 */
    kSyncStateByte3 = 4, /* expecting A again */
    kSyncStateByte4 = 5  /* expecting 0 again */
};

typedef enum {
    kFrameNone,   /* byte taken, nothing to do */
    kFramePacket, /* the packet is complete: handle it, then reset it */
    kFrameResync, /* framing lost, or the machine wants a new burst: start syncing */
    kFrameSynced  /* [A, 0, A, 0] seen: the stream is in step again */
} aLinkFrameAction;

struct aLinkFramer {
    aPacket* packet = nullptr; /* assembly in progress */
    int syncState = kSyncStateIdle;
    uint8 syncAddress = 1;
};

/* In step: adds the byte to the packet. */
aLinkFrameAction aLinkFramer_Assemble(aLinkFramer* framer, uint8 byte);
/* Syncing: one step of the resynchronisation machine. */
aLinkFrameAction aLinkFramer_Resync(aLinkFramer* framer, uint8 byte);
/* A sync burst begins: the partial packet is dropped. */
void aLinkFramer_BeginBurst(aLinkFramer* framer);
/* The burst is queued: wait for the module's answers. */
void aLinkFramer_BurstQueued(aLinkFramer* framer);

#endif
