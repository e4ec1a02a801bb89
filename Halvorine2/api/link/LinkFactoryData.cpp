// Link: factory data (command 0x5E), numbered records moved in chunks and
// confirmed by an end request carrying the total. Replies echo the request's
// index in their low four bits; bit 7 marks an error whose code follows.
#include <algorithm>
#include <cstring>

#include "LinkState.h"

namespace Veltrano::Halvorine {

namespace {

constexpr uint8 kFactoryCommand = 0x5E;
constexpr uint8 kFirst = 0x40;
constexpr uint8 kEnd = 0x20;
constexpr uint8 kSet = 0x10;
constexpr uint8 kIndexMask = 0x0F;
constexpr uint8 kErrorFlag = 0x80;
constexpr uint32 kSetChunkBytes = 26;

bool sFactoryReplyFilter(const aPacket* packet, void* ref) {
    uint8 request = *static_cast<const uint8*>(ref);
    return packet->dataSize >= 2 && packet->data[0] == kFactoryCommand &&
           (packet->data[1] & ~kErrorFlag) == (request & kIndexMask);
}

bool sIsError(const aPacket* reply) {
    return (reply->data[1] & kErrorFlag) != 0;
}

aErr sErrorCode(const aPacket* reply) {
    if (reply->dataSize < 3 || reply->data[2] == aErrNone) return aErrUnknown;
    return reply->data[2];
}

} // namespace

aErr Link::getFactoryData(unsigned char module, unsigned char index, unsigned char* buffer,
                          unsigned int capacity, unsigned int* length) {
    if (!buffer || !length || index > kIndexMask) return aErrParam;
    uint32 total = 0;
    bool full;
    do {
        const uint8 request[] = {kFactoryCommand, static_cast<uint8>(index | (total == 0 ? kFirst : 0))};
        uint8 key = request[1];
        aPacketPtr reply;
        aErr err = exchange(module, request, sizeof request, sFactoryReplyFilter, &key, kReplyWaitMs, &reply);
        if (err != aErrNone) return err;
        if (sIsError(reply.get())) return sErrorCode(reply.get());
        uint32 count = reply->dataSize - 2u;
        if (total + count >= capacity) return aErrOverrun;
        std::memcpy(buffer + total, reply->data + 2, count);
        total += count;
        full = reply->dataSize == aPACKET_MAX_DATA;
    } while (full);
    aErr err = endFactoryData(module, total);
    if (err == aErrNone) *length = total;
    return err;
}

aErr Link::setFactoryData(unsigned char module, unsigned char index, const unsigned char* data,
                          unsigned int length) {
    if ((length > 0 && !data) || index > kIndexMask || length > 0xFFFF) return aErrParam;
    uint32 sent = 0;
    do {
        uint32 chunk = std::min(length - sent, kSetChunkBytes);
        uint8 request[2 + kSetChunkBytes] = {kFactoryCommand,
                                             static_cast<uint8>(index | kSet | (sent == 0 ? kFirst : 0))};
        if (chunk) std::memcpy(request + 2, data + sent, chunk);
        uint8 key = request[1];
        aPacketPtr reply;
        aErr err = exchange(module, request, static_cast<uint8>(2 + chunk), sFactoryReplyFilter, &key,
                            kReplyWaitMs, &reply);
        if (err != aErrNone) return err;
        if (sIsError(reply.get())) return sErrorCode(reply.get());
        if (reply->dataSize != 2) return aErrSize;
        sent += chunk;
    } while (sent < length);
    return endFactoryData(module, length);
}

aErr Link::endFactoryData(unsigned char module, unsigned int total) {
    const uint8 request[] = {kFactoryCommand, kEnd, static_cast<uint8>(total >> 8),
                             static_cast<uint8>(total)};
    uint8 key = kEnd;
    aPacketPtr reply;
    aErr err = exchange(module, request, sizeof request, sFactoryReplyFilter, &key, kReplyWaitMs, &reply);
    if (err != aErrNone) return err;
    return sIsError(reply.get()) ? sErrorCode(reply.get()) : aErrNone;
}

} // namespace Veltrano::Halvorine
