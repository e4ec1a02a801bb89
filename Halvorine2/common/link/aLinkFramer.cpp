#include "aLinkFramer.h"

aLinkFrameAction aLinkFramer_Assemble(aLinkFramer* framer, uint8 byte) {
    if (aPacket_AddByte(framer->packet, byte) != aErrNone) return kFrameResync;
    return aPacket_IsComplete(framer->packet) ? kFramePacket : kFrameNone;
}

aLinkFrameAction aLinkFramer_Resync(aLinkFramer* framer, uint8 byte) {
    switch (framer->syncState) {
    case kSyncStateByte1:
        if (byte == 0 || (byte & 1)) return kFrameResync;
        framer->syncAddress = byte;
        framer->syncState = kSyncStateByte2;
        return kFrameNone;
    case kSyncStateByte2:
        framer->syncState = byte == 0 ? kSyncStateByte3 : kSyncStateStart;
        return kFrameNone;
    case kSyncStateByte3:
        framer->syncState = byte == framer->syncAddress ? kSyncStateByte4 : kSyncStateStart;
        return kFrameNone;
    case kSyncStateByte4:
        if (byte != 0) {
            framer->syncState = kSyncStateStart;
            return kFrameNone;
        }
        framer->syncState = kSyncStateIdle;
        return kFrameSynced;
    default:
        return kFrameResync;
    }
}

void aLinkFramer_BeginBurst(aLinkFramer* framer) {
    framer->syncState = kSyncStateStart;
    aPacket_Reset(framer->packet);
}

void aLinkFramer_BurstQueued(aLinkFramer* framer) {
    framer->syncState = kSyncStateByte1;
}
