// The link-sharing server's decoders on arbitrary frames: packet frames, the sync
// task's command frames, and the set-bytes sequence collector fed by a few clients.
// Only whole packets are accepted, a command is read only where one is due, and a
// completed sequence is a start chunk followed by chunks numbered one after another
// (modulo 128), all for the same command, option and specifier.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "aShareFrames.h"
#include "aUEI.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

struct Completed {
    std::vector<aPacket> packets;
};

void sink(const aPacket* packet, void* ref) {
    static_cast<Completed*>(ref)->packets.push_back(*packet);
}

void checkSequence(const Completed& done) {
    check(!done.packets.empty());
    const aPacket& first = done.packets.front();
    check(first.dataSize == 28 && aUEI_getBytesContinue(&first) && aUEI_getBytesSequence(&first) == 0);
    for (size_t i = 1; i < done.packets.size(); ++i) {
        const aPacket& p = done.packets[i];
        check(aUEI_getBytesSequence(&p) == (i & 0x7F));
        check(std::memcmp(p.data, first.data, 3) == 0);
        bool last = i + 1 == done.packets.size();
        check(last != (aUEI_getBytesContinue(&p) && aUEI_getBytesFullPacket(&p)));
    }
}

void checkPacketFrame(const uint8_t* bytes, size_t size) {
    aPacket* packet = aShare_PacketFromFrame(bytes, size);
    check((packet != nullptr) == aShare_IsPacketFrame(bytes, size));
    if (packet) check(size == packet->dataSize + 2u && size <= 30 && packet->address == bytes[0]);
    aPacket_Destroy(&packet);
}

void checkSyncFrame(const uint8_t* bytes, size_t size, bool commandDue) {
    uint16 count = 0;
    aShareFrameKind kind = aShare_ClassifySyncFrame(bytes, size, commandDue, &count);
    if (commandDue)
        check(kind != aSHARE_FRAME_REPLY && (size == 3 || kind == aSHARE_FRAME_INVALID));
    else
        check(kind == aSHARE_FRAME_REPLY || kind == aSHARE_FRAME_INVALID);
    check((kind == aSHARE_FRAME_INCOMING) == (count != 0));
}

} // namespace

// Input: frames as [control, length, bytes...]; control bit 0: a command is due, bits
// 1-2: which client sends it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    aShareSequences* sequences = aShareSequences_Create();
    size_t at = 0;
    while (at + 2 <= size) {
        uint8_t control = data[at];
        size_t length = data[at + 1] % 40;
        at += 2;
        if (length > size - at) length = size - at;
        const uint8_t* frame = data + at;
        at += length;
        checkPacketFrame(frame, length);
        checkSyncFrame(frame, length, control & 1);
        aPacket* packet = aShare_PacketFromFrame(frame, length);
        if (!packet) continue;
        const uint8_t identity = uint8_t((control >> 1) & 3);
        Completed done;
        aShareSeqResult result = aShareSequences_Offer(sequences, &identity, 1, packet, sink, &done);
        if (result == aSHARE_SEQ_COMPLETE)
            checkSequence(done);
        else
            check(done.packets.empty());
        check(aShareSequences_Count(sequences) <= 4);
        aPacket_Destroy(&packet);
    }
    aShareSequences_Destroy(&sequences);
    return 0;
}
