// The link reader's framing on arbitrary bytes: packet assembly while in step and
// the resynchronisation machine while syncing, driven as the reader drives them.
// Whatever arrives, only well-formed packets come out, the machine stays in its
// states, and it declares the stream in step only after [A, 0, A, 0].
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "aLinkFramer.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    aLinkFramer framer;
    framer.packet = aPacket_Create();
    bool syncing = data[0] & 1; // start in step or in the middle of a resync
    if (syncing) {
        aLinkFramer_BeginBurst(&framer);
        aLinkFramer_BurstQueued(&framer);
    }
    uint8_t last[4] = {1, 1, 1, 1};
    for (size_t i = 1; i < size; ++i) {
        uint8_t byte = data[i];
        last[0] = last[1];
        last[1] = last[2];
        last[2] = last[3];
        last[3] = byte;
        aLinkFrameAction action =
            syncing ? aLinkFramer_Resync(&framer, byte) : aLinkFramer_Assemble(&framer, byte);
        check(framer.syncState >= kSyncStateIdle && framer.syncState <= kSyncStateByte4);
        switch (action) {
        case kFrameResync:
            syncing = true;
            aLinkFramer_BeginBurst(&framer);
            check(framer.packet->curSize == 0);
            aLinkFramer_BurstQueued(&framer);
            break;
        case kFrameSynced:
            check(syncing);
            check(last[0] != 0 && (last[0] & 1) == 0 && last[1] == 0 && last[2] == last[0] && last[3] == 0);
            check(framer.syncState == kSyncStateIdle);
            syncing = false;
            break;
        case kFramePacket: {
            const aPacket* p = framer.packet;
            check(!syncing);
            check(aPacket_IsComplete(p));
            check(p->address != 0 && (p->address & 1) == 0);
            check(p->dataSize <= aPACKET_MAX_DATA && p->curSize == p->dataSize + 2);
            aPacket_Reset(framer.packet);
            break;
        }
        case kFrameNone:
            if (!syncing) check(framer.packet->curSize <= aPACKET_MAX_WIRE);
            break;
        }
    }
    aPacket_Destroy(&framer.packet);
    return 0;
}
