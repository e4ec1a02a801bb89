// Link: entity value exchanges (UEI requests, replies and streamed chunks).
#include <algorithm>
#include <cstring>

#include "LinkState.h"
#include "aTime.h"

namespace Veltrano::Halvorine {

namespace {

aErr sPut(uint32 ref, uint8 module, const uint8* data, uint8 length) {
    aPacket* packet = aPacket_CreateWithData(module, length, data);
    if (!packet) return aErrMemory;
    aErr err = aLink_PutPacket(ref, packet);
    aPacket_Destroy(&packet);
    return err;
}

// Appends a scalar of the record's type, big-endian; false for other types.
bool sAppendScalar(const uei& record, uint8* bytes, uint8* length) {
    int width;
    switch (record.type) {
    case ueiNone:
        width = 0;
        break;
    case ueiByte:
        width = 1;
        break;
    case ueiShort:
        width = 2;
        break;
    case ueiInt:
        width = 4;
        break;
    default:
        return false;
    }
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
        bytes[(*length)++] = static_cast<uint8>(record.value.uiVal >> shift);
    return true;
}

// A streamed value: chunks of 24 bytes, each with its sequence byte; no bytes
// still make one packet. A value longer than the outgoing queue holds (a slow
// transport such as USB) waits for room rather than overflowing it: the whole
// value's waiting is bounded by kRoomWaitMs plus kRoomWaitPerChunkMs per chunk (a
// rate far below any transport's), so a writer that creeps cannot stretch it.
aErr sSendChunks(uint32 ref, const uei& request) {
    constexpr uint32 kRoomWaitMs = 5000;
    constexpr uint32 kRoomWaitPerChunkMs = 1;
    const ueiBytesValue& value = request.value.bytes;
    if (value.length > 0 && !value.data) return aErrParam;
    const uint32 chunks = value.length / kUEIChunkBytes + 1;
    const uint32 start = aTime_GetMSTicks();
    const uint32 limit = kRoomWaitMs + chunks * kRoomWaitPerChunkMs;
    uint32 sent = 0;
    uint8 sequence = 0;
    do {
        uint32 chunk = std::min(value.length - sent, kUEIChunkBytes);
        bool more = sent + chunk < value.length;
        uint8 bytes[aPACKET_MAX_DATA] = {request.command, request.option, request.specifier};
        if (chunk) std::memcpy(bytes + 3, value.data + sent, chunk);
        bytes[3 + chunk] = static_cast<uint8>((sequence & 0x7F) | (more ? kUEIMoreChunks : 0));
        const uint32 elapsed = aTime_GetMSTicks() - start;
        aErr err = elapsed < limit ? aLink_AwaitOutgoingRoom(ref, 1, std::min(limit - elapsed, kRoomWaitMs))
                                   : aErrTimeout;
        if (err == aErrNone) err = sPut(ref, request.module, bytes, static_cast<uint8>(chunk + 4));
        if (err != aErrNone) return err;
        sent += chunk;
        ++sequence;
    } while (sent < value.length);
    return aErrNone;
}

bool sIsErrorReply(const aPacket* packet) {
    return (packet->data[2] & kUEIError) != 0;
}

// A scalar reply: its length gives the type.
aErr sDecodeScalar(const aPacket* packet, uei* record) {
    const uint8* v = packet->data + 3;
    switch (packet->dataSize) {
    case 3:
        record->type = ueiNone;
        return aErrNone;
    case 4:
        record->type = ueiByte;
        record->value.uiVal = v[0];
        return aErrNone;
    case 5:
        record->type = ueiShort;
        record->value.uiVal = static_cast<uint32>(v[0] << 8 | v[1]);
        return aErrNone;
    case 7:
        record->type = ueiInt;
        record->value.uiVal = static_cast<uint32>(v[0]) << 24 | static_cast<uint32>(v[1]) << 16 |
                              static_cast<uint32>(v[2]) << 8 | v[3];
        return aErrNone;
    default:
        return aErrSize;
    }
}

// One chunk of a streamed get: data bytes 3 to n - 2, then the sequence byte.
aErr sDecodeChunk(const aPacket* packet, uei* record) {
    ueiBytesValue& value = record->value.bytes;
    if (packet->dataSize < 4) return aErrSize;
    uint32 count = packet->dataSize - 4u;
    uint32 have = value.received ? *value.received : 0;
    uint8 last = packet->data[packet->dataSize - 1];
    // An empty chunk is only ever a whole empty value: one announcing more
    // would let a module keep the get going for as long as it likes.
    if (count == 0 && (last & kUEIMoreChunks)) return aErrSize;
    value.sequence = static_cast<uint8>(((last & 0x7F) + 1) & 0x7F);
    value.more = (last & kUEIMoreChunks) != 0;
    // Compared by what is left, so a count already past the end cannot wrap.
    if (!value.received || have > value.length || count > value.length - have) return aErrMemory;
    std::memcpy(value.data + have, packet->data + 3, count);
    *value.received = have + count;
    return aErrNone;
}

struct FilterCall {
    ueiFilter filter;
    const uei* record;
};

bool sCallFilter(const aPacket* packet, void* ref) {
    const FilterCall* call = static_cast<const FilterCall*>(ref);
    return call->filter(packet, call->record);
}

} // namespace

aErr Link::sDecodeUEIReply(const aPacket* packet, uei* record) {
    if (!aVALIDPACKET(packet) || packet->dataSize < 3 || !record) return aErrParam;
    if (sIsErrorReply(packet)) {
        aErr code =
            packet->dataSize >= 4 ? static_cast<aErr>(packet->data[3]) : static_cast<aErr>(aErrUnknown);
        record->specifier = packet->data[2];
        if (record->type != ueiBytes) record->value.uiVal = static_cast<uint32>(code);
        return code == aErrNone ? aErrUnknown : code;
    }
    if (record->type != ueiBytes) return sDecodeScalar(packet, record);
    // A streamed set is answered by one reply without a value.
    if (!record->value.bytes.received) return aErrNone;
    return sDecodeChunk(packet, record);
}

bool Link::sUEIReplyFilter(const aPacket* packet, const void* record) {
    const uei* r = static_cast<const uei*>(record);
    return packet && r && packet->address == r->module && packet->dataSize >= 3 &&
           packet->data[0] == r->command && packet->data[1] == r->option &&
           (packet->data[2] & kUEIIndexMask) == (r->specifier & kUEIIndexMask);
}

aErr Link::sendUEI(uei request) {
    aErr err = requireModule(request.module);
    if (err != aErrNone) return err;
    if (request.type == ueiBytes) return sSendChunks(state_->ref, request);
    uint8 bytes[aPACKET_MAX_DATA] = {request.command, request.option, request.specifier};
    uint8 length = 3;
    if (!sAppendScalar(request, bytes, &length)) return aErrParam;
    return sPut(state_->ref, request.module, bytes, length);
}

aErr Link::sendUEI(uei request, unsigned char subindex) {
    aErr err = requireModule(request.module);
    if (err != aErrNone) return err;
    uint8 bytes[aPACKET_MAX_DATA] = {request.command, request.option, request.specifier, subindex};
    uint8 length = 4;
    if (!sAppendScalar(request, bytes, &length)) return aErrParam;
    return sPut(state_->ref, request.module, bytes, length);
}

aErr Link::receiveUEI(unsigned char module, unsigned char command, unsigned char option,
                      unsigned char specifier, uei* value) {
    return receiveUEI(module, command, option, specifier, value, sUEIReplyFilter);
}

aErr Link::receiveUEI(unsigned char module, unsigned char command, unsigned char option,
                      unsigned char specifier, uei* value, ueiFilter filter) {
    if (!value || !filter) return aErrParam;
    aErr err = requireModule(module);
    if (err != aErrNone) return err;
    value->module = module;
    value->command = command;
    value->option = option;
    value->specifier = specifier;
    bool streamed = value->type == ueiBytes;
    if (!streamed) {
        // Never leave the request's own value to be taken for the reply's.
        value->value.uiVal = 0;
        value->type = ueiNone;
    }
    uint32 waitMs = streamed && value->value.bytes.length > 1000 ? kLongReplyWaitMs : kReplyWaitMs;
    FilterCall call{filter, value};
    aPacket* reply = awaitFirst(sCallFilter, &call, waitMs);
    if (!reply) return aErrTimeout;
    err = sDecodeUEIReply(reply, value);
    aPacket_Destroy(&reply);
    return err;
}

aErr Link::dropMatchingUEIPackets(unsigned char module, unsigned char command, unsigned char option,
                                  unsigned char specifier) {
    uint32 ref = state_->ref;
    if (!ref) return aErrConnection;
    uei record{};
    record.module = module;
    record.command = command;
    record.option = option;
    record.specifier = specifier;
    FilterCall call{sUEIReplyFilter, &record};
    aLink_DrainPackets(ref, sCallFilter, &call);
    return aErrNone;
}

} // namespace Veltrano::Halvorine
