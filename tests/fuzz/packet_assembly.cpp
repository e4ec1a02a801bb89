// Feeds arbitrary bytes to packet assembly the way a link's reader does, and
// checks that every packet it completes is exactly the bytes that framed it.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "aPacket.h"
#include "aPacketFifo.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

std::vector<uint8> wireOf(const aPacket* packet) {
    const uint8* start = &packet->address;
    return std::vector<uint8>(start, start + packet->dataSize + 2);
}

// Resets after each complete packet and after each error, queues every packet
// and checks that the queue hands back the same wire forms in order.
void framedByReader(const uint8* bytes, size_t size, uint64 fifo) {
    aPacket* packet = aPacket_Create();
    check(packet != nullptr);
    std::vector<std::vector<uint8>> expected;
    std::vector<uint8> current;
    for (size_t i = 0; i < size; ++i) {
        current.push_back(bytes[i]);
        aErr err = aPacket_AddByte(packet, bytes[i]);
        check(err == aErrNone || err == aErrPacket || err == aErrOverrun);
        if (err != aErrNone) {
            check(!aPacket_IsComplete(packet));
            aPacket_Reset(packet);
            current.clear();
            continue;
        }
        check(current.size() <= aPACKET_MAX_WIRE);
        if (!aPacket_IsComplete(packet)) continue;
        check(packet->address != 0 && (packet->address & 1) == 0);
        check(packet->dataSize <= aPACKET_MAX_DATA);
        check(wireOf(packet) == current);
        check(aPacketFifo_Put(fifo, packet) == aErrNone);
        expected.push_back(current);
        if (expected.size() == aPACKETFIFO_CAPACITY) break; // keep under the discard bound
        aPacket_Reset(packet);
        current.clear();
    }
    for (const std::vector<uint8>& wire : expected) {
        aPacket* queued = aPacketFifo_Get(fifo);
        check(queued != nullptr && aPacket_IsComplete(queued));
        check(wireOf(queued) == wire);
        aPacket_Destroy(&queued);
    }
    check(aPacketFifo_GetLength(fifo) == 0);
    aPacket_Destroy(&packet);
}

// A careless caller that never resets: whatever it feeds, the record stays
// within bounds and only ever reports a sound packet as complete.
void neverReset(const uint8* bytes, size_t size) {
    aPacket* packet = aPacket_Create();
    check(packet != nullptr);
    for (size_t i = 0; i < size; ++i) {
        aPacket_AddByte(packet, bytes[i]);
        check(packet->curSize <= aPACKET_MAX_WIRE + 1);
        if (aPacket_IsComplete(packet)) {
            check(packet->dataSize <= aPACKET_MAX_DATA);
            check(packet->address != 0 && (packet->address & 1) == 0);
        }
    }
    aPacket_Destroy(&packet);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static uint64 fifo = aPacketFifo_Create();
    check(fifo != 0);
    framedByReader(data, size, fifo);
    neverReset(data, size);
    return 0;
}
