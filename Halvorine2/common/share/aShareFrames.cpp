/* Frames of link sharing and the set-bytes sequence collector. */
#include "aShareFrames.h"

#include <cstring>
#include <list>
#include <new>
#include <string>
#include <vector>

#include "aUEI.h"

namespace {

constexpr uint8 kStreamEnableCommand = 0x5D;
constexpr uint8 kStreamEnableOption = 0x81;
constexpr uint8 kStreamEnableSize = 7;
constexpr uint8 kSequenceStartSize = 28;
constexpr uint8 kSequenceMask = 0x7F;

bool sAnnouncesMore(const aPacket* packet) {
    return aUEI_isUEIPayload(packet) && aUEI_getBytesFullPacket(packet) && aUEI_getBytesContinue(packet);
}

} // namespace

bool aShare_IsPacketFrame(const uint8* bytes, size_t size) {
    return bytes && size >= 2 && size <= aPACKET_MAX_WIRE && size == size_t(bytes[1]) + 2;
}

aPacket* aShare_PacketFromFrame(const uint8* bytes, size_t size) {
    if (!aShare_IsPacketFrame(bytes, size)) return nullptr;
    return aPacket_CreateWithData(bytes[0], bytes[1], bytes + 2);
}

aShareFrameKind aShare_ClassifySyncFrame(const uint8* bytes, size_t size, bool commandDue, uint16* count) {
    if (count) *count = 0;
    if (!bytes) return aSHARE_FRAME_INVALID;
    if (!commandDue) return aShare_IsPacketFrame(bytes, size) ? aSHARE_FRAME_REPLY : aSHARE_FRAME_INVALID;
    if (size != aSHARE_COMMAND_SIZE) return aSHARE_FRAME_INVALID;
    uint16 announced = uint16(bytes[1] << 8 | bytes[2]);
    if (bytes[0] == aSHARE_CMD_DROPPED_PACKET) return aSHARE_FRAME_DROPPED;
    if (bytes[0] != aSHARE_CMD_INCOMING_PACKETS || announced == 0) return aSHARE_FRAME_INVALID;
    if (count) *count = announced;
    return aSHARE_FRAME_INCOMING;
}

void aShare_EncodeCommand(uint8 command, uint16 count, uint8 frame[aSHARE_COMMAND_SIZE]) {
    frame[0] = command;
    frame[1] = uint8(count >> 8);
    frame[2] = uint8(count);
}

bool aShare_AwaitsReply(const aPacket* request) {
    if (!aVALIDPACKET(request) || request->address == aPACKET_ADDRESS_ROUTE) return false;
    return !sAnnouncesMore(request);
}

bool aShare_ReplyContinues(const aPacket* reply) {
    return aVALIDPACKET(reply) && sAnnouncesMore(reply);
}

bool aShare_IsStreamEnable(const aPacket* request) {
    return aVALIDPACKET(request) && request->dataSize == kStreamEnableSize &&
           request->data[0] == kStreamEnableCommand && request->data[1] == kStreamEnableOption;
}

bool aShare_IsClientForceRoute(const aPacket* request) {
    return aVALIDPACKET(request) && request->address == aPACKET_ADDRESS_ROUTE && request->dataSize == 1;
}

bool aShare_IsStreamed(const aPacket* packet) {
    return aUEI_isStreamPacket(packet);
}

bool aShare_IsHeartbeat(const aPacket* packet) {
    return aVALIDPACKET(packet) && packet->dataSize == 2 && packet->data[0] == 0;
}

void aShare_ErrorReply(const aPacket* request, aErr code, uint8* wire) {
    const uint8 option = request->dataSize > 1 ? request->data[1] : 0;
    wire[0] = request->address;
    wire[1] = 4;
    wire[2] = request->dataSize > 0 ? request->data[0] : 0;
    wire[3] = uint8((option & 0x3F) | ((option & 0x80) ? 0xC0 : 0));
    wire[4] = uint8(((request->dataSize > 2 ? request->data[2] : 0) & 0x1F) | 0x80);
    wire[5] = uint8(code);
}

struct aShareSequences {
    struct Pending {
        std::string identity;
        std::vector<aPacket> packets;
        uint32 count = 0; /* packets after the first */
        uint32 ttl = aSHARE_SEQUENCE_TTL;
        bool tooLong = false; /* its packets are taken but no longer kept */
    };
    std::list<Pending> pending;
};

namespace {

typedef std::list<aShareSequences::Pending>::iterator PendingIt;

void sAge(aShareSequences* sequences, const std::string& offering) {
    for (PendingIt it = sequences->pending.begin(); it != sequences->pending.end();) {
        if (it->identity == offering) {
            ++it;
            continue;
        }
        if (it->ttl == 0) {
            it = sequences->pending.erase(it);
            continue;
        }
        --it->ttl;
        ++it;
    }
}

bool sStartsSequence(const aPacket* packet) {
    return packet->dataSize == kSequenceStartSize && aUEI_getBytesContinue(packet) &&
           aUEI_getBytesSequence(packet) == 0;
}

bool sSameTarget(const aPacket& first, const aPacket* packet) {
    return packet->dataSize >= 3 && std::memcmp(first.data, packet->data, 3) == 0;
}

bool sContinues(const aShareSequences::Pending& pending, const aPacket* packet) {
    return sSameTarget(pending.packets.front(), packet) &&
           aUEI_getBytesSequence(packet) == ((pending.count + 1) & kSequenceMask);
}

aShareSeqResult sContinue(aShareSequences* sequences, PendingIt it, const aPacket* packet,
                          aShareSequenceSink sink, void* ref) {
    if (it->packets.size() >= aSHARE_SEQUENCE_MAX_PACKETS && !it->tooLong) {
        it->tooLong = true;
        it->packets.resize(1); /* the first stays: it names the target */
    }
    if (!it->tooLong) it->packets.push_back(*packet);
    if (aUEI_getBytesContinue(packet) && aUEI_getBytesFullPacket(packet)) {
        ++it->count;
        return aSHARE_SEQ_TAKEN;
    }
    if (it->tooLong) {
        sequences->pending.erase(it);
        return aSHARE_SEQ_TOO_LONG;
    }
    if (sink)
        for (const aPacket& collected : it->packets)
            sink(&collected, ref);
    sequences->pending.erase(it);
    return aSHARE_SEQ_COMPLETE;
}

aShareSeqResult sOffer(aShareSequences* sequences, const std::string& identity, const aPacket* packet,
                       aShareSequenceSink sink, void* ref) {
    sAge(sequences, identity);
    for (PendingIt it = sequences->pending.begin(); it != sequences->pending.end(); ++it) {
        if (it->identity != identity) continue;
        if (sContinues(*it, packet)) return sContinue(sequences, it, packet, sink, ref);
        /* The sender has moved on (a chunk was lost and it retries, or it asks something
         * else): the broken sequence goes at once, never spliced to what follows. */
        const bool sameTarget = sSameTarget(it->packets.front(), packet);
        sequences->pending.erase(it);
        if (sStartsSequence(packet)) break;
        return sameTarget ? aSHARE_SEQ_TAKEN : aSHARE_SEQ_PASS;
    }
    if (!sStartsSequence(packet)) return aSHARE_SEQ_PASS;
    aShareSequences::Pending started;
    started.identity = identity;
    started.packets.push_back(*packet);
    sequences->pending.push_back(std::move(started));
    return aSHARE_SEQ_TAKEN;
}

} // namespace

aShareSequences* aShareSequences_Create(void) {
    return new (std::nothrow) aShareSequences;
}

void aShareSequences_Destroy(aShareSequences** sequences) {
    if (!sequences) return;
    delete *sequences;
    *sequences = nullptr;
}

aShareSeqResult aShareSequences_Offer(aShareSequences* sequences, const uint8* identity, size_t identitySize,
                                      const aPacket* packet, aShareSequenceSink sink, void* ref) {
    if (!sequences || !identity || identitySize > aSHARE_IDENTITY_MAX || !aUEI_isUEIPayload(packet))
        return aSHARE_SEQ_PASS;
    try {
        return sOffer(sequences, std::string(reinterpret_cast<const char*>(identity), identitySize), packet,
                      sink, ref);
    } catch (const std::bad_alloc&) {
        return aSHARE_SEQ_PASS;
    }
}

void aShareSequences_Forget(aShareSequences* sequences, const uint8* identity, size_t identitySize) {
    if (!sequences || !identity) return;
    std::string key(reinterpret_cast<const char*>(identity), identitySize);
    sequences->pending.remove_if([&](const aShareSequences::Pending& p) { return p.identity == key; });
}

uint32 aShareSequences_Count(const aShareSequences* sequences) {
    return sequences ? uint32(sequences->pending.size()) : 0;
}
