// Link: the store-slot protocol (command 4). A slot is opened for reading or
// writing, which gives a handle; chunks then move through the handle, and the
// slot is closed. Error replies set bit 7 of the option byte and carry an aErr
// code after the store and slot (options 1-4) or after the handle (6-8).
#include <algorithm>
#include <cstring>

#include "LinkState.h"

namespace Veltrano::Halvorine {

namespace {

constexpr uint8 kStoreCommand = 4;
enum : uint8 {
    kCapacity = 1,
    kSize = 2,
    kOpenRead = 3,
    kOpenWrite = 4,
    kReadChunk = 6,
    kWriteChunk = 7,
    kClose = 8,
};
constexpr uint8 kErrorFlag = 0x80;
constexpr uint8 kNoHandle = 255;
constexpr uint32 kOpenWaitMs = 3000;
constexpr uint32 kWriteChunkBytes = 25;

struct StoreReply {
    uint8 option, store, slot, handle;
};

bool sStoreReplyFilter(const aPacket* packet, void* ref) {
    const StoreReply* want = static_cast<const StoreReply*>(ref);
    if (packet->dataSize < 4 || packet->data[0] != kStoreCommand ||
        (packet->data[1] & ~kErrorFlag) != want->option)
        return false;
    if (want->option <= kOpenWrite) return packet->data[2] == want->store && packet->data[3] == want->slot;
    return packet->data[2] == want->handle;
}

bool sIsError(const aPacket* reply) {
    return (reply->data[1] & kErrorFlag) != 0;
}

// The code of an error reply: the byte after the store and slot, or after the handle.
aErr sErrorCode(const aPacket* reply) {
    uint8 at = (reply->data[1] & ~kErrorFlag) <= kOpenWrite ? 4 : 3;
    if (reply->dataSize <= at || reply->data[at] == aErrNone) return aErrUnknown;
    return reply->data[at];
}

uint8 sChecksum(const uint8* bytes, uint32 count) {
    uint8 sum = 0;
    for (uint32 i = 0; i < count; ++i)
        sum = static_cast<uint8>(sum + bytes[i]);
    return sum;
}

} // namespace

aErr Link::storeSlotValue(unsigned char module, unsigned char store, unsigned char slot, uint8 option,
                          unsigned int* value) {
    if (!value) return aErrParam;
    const uint8 request[] = {kStoreCommand, option, store, slot};
    StoreReply want{option, store, slot, 0};
    aPacketPtr reply;
    aErr err = exchange(module, request, sizeof request, sStoreReplyFilter, &want, kReplyWaitMs, &reply);
    if (err != aErrNone) return err;
    if (sIsError(reply.get())) return sErrorCode(reply.get());
    if (reply->dataSize != 6) return aErrUnknown;
    *value = static_cast<unsigned int>(reply->data[4] << 8 | reply->data[5]);
    return aErrNone;
}

aErr Link::storeSlotCapacity(unsigned char module, unsigned char store, unsigned char slot,
                             unsigned int* capacity) {
    return storeSlotValue(module, store, slot, kCapacity, capacity);
}

aErr Link::storeSlotSize(unsigned char module, unsigned char store, unsigned char slot, unsigned int* size) {
    return storeSlotValue(module, store, slot, kSize, size);
}

uint8 Link::openStoreSlot(unsigned char module, unsigned char store, unsigned char slot, bool write) {
    uint8 option = write ? kOpenWrite : kOpenRead;
    const uint8 request[] = {kStoreCommand, option, store, slot};
    StoreReply want{option, store, slot, 0};
    aPacketPtr reply;
    if (exchange(module, request, sizeof request, sStoreReplyFilter, &want, kOpenWaitMs, &reply) != aErrNone)
        return kNoHandle;
    // The handle is the fifth byte: a shorter reply opened nothing usable.
    if (sIsError(reply.get()) || reply->dataSize < 5) return kNoHandle;
    return reply->data[4];
}

aErr Link::closeStoreSlot(unsigned char module, uint8 handle) {
    const uint8 request[] = {kStoreCommand, kClose, handle};
    StoreReply want{kClose, 0, 0, handle};
    aPacketPtr reply;
    aErr err = exchange(module, request, sizeof request, sStoreReplyFilter, &want, kReplyWaitMs, &reply);
    if (err == aErrTimeout) return aErrNone; // the slot is closed either way
    if (err != aErrNone) return err;
    if (sIsError(reply.get())) return sErrorCode(reply.get());
    return reply->dataSize == 4 ? aErrNone : aErrIO;
}

aErr Link::loadStoreSlot(unsigned char module, unsigned char store, unsigned char slot,
                         const unsigned char* data, unsigned int length) {
    if (length > 0 && !data) return aErrParam;
    aErr err = requireModule(module);
    if (err != aErrNone) return err;
    uint8 handle = openStoreSlot(module, store, slot, true);
    if (handle == kNoHandle) return aErrMedia;
    for (uint32 sent = 0; sent < length && err == aErrNone;) {
        uint32 chunk = std::min(length - sent, kWriteChunkBytes);
        uint8 request[3 + kWriteChunkBytes] = {kStoreCommand, kWriteChunk, handle};
        std::memcpy(request + 3, data + sent, chunk);
        StoreReply want{kWriteChunk, 0, 0, handle};
        aPacketPtr reply;
        err = exchange(module, request, static_cast<uint8>(3 + chunk), sStoreReplyFilter, &want, kReplyWaitMs,
                       &reply);
        if (err != aErrNone) break;
        if (sIsError(reply.get()))
            err = sErrorCode(reply.get());
        else if (reply->dataSize != 4 || reply->data[3] != sChecksum(data + sent, chunk))
            err = aErrIO;
        sent += chunk;
    }
    aErr closed = closeStoreSlot(module, handle);
    return err != aErrNone ? err : closed;
}

aErr Link::unloadStoreSlot(unsigned char module, unsigned char store, unsigned char slot,
                           unsigned char* buffer, unsigned int capacity, unsigned int* length) {
    if (!buffer || !length) return aErrParam;
    *length = 0;
    unsigned int size = 0;
    aErr err = storeSlotSize(module, store, slot, &size);
    if (err != aErrNone) return err;
    uint8 handle = openStoreSlot(module, store, slot, false);
    if (handle == kNoHandle) return aErrMedia;
    const uint32 limit = std::min(capacity, size);
    uint32 copied = 0;
    while (copied < limit && err == aErrNone) {
        const uint8 request[] = {kStoreCommand, kReadChunk, handle};
        StoreReply want{kReadChunk, 0, 0, handle};
        aPacketPtr reply;
        err = exchange(module, request, sizeof request, sStoreReplyFilter, &want, kReplyWaitMs, &reply);
        if (err != aErrNone) break;
        if (sIsError(reply.get())) {
            err = sErrorCode(reply.get());
            break;
        }
        uint32 count = std::min<uint32>(reply->dataSize - 3u, limit - copied);
        // A slot that ends before its size would otherwise be asked for ever.
        if (count == 0) err = aErrIO;
        std::memcpy(buffer + copied, reply->data + 3, count);
        copied += count;
    }
    *length = copied;
    aErr closed = closeStoreSlot(module, handle);
    if (err != aErrNone) return err;
    if (closed != aErrNone) return closed;
    return capacity < size ? aErrOverrun : aErrNone;
}

} // namespace Veltrano::Halvorine
