#include "aPacketLog.h"

#include <cstdlib>

namespace {

// Header of each entry: type byte and length byte.
constexpr uint32 kHeaderSize = 2;

bool sIsUsable(const aPacketLog* log) { return log != nullptr && log->data != nullptr && log->size != 0; }

uint32 sAdvance(const aPacketLog* log, uint32 index, uint32 count) {
    return uint32((uint64(index) + count) % log->size);
}

uint32 sFree(const aPacketLog* log) {
    uint32 used = uint32((uint64(log->size) + log->writeIndex - log->readIndex) % log->size);
    return log->size - used;
}

uint8 sByteAt(const aPacketLog* log, uint32 index, uint32 offset) {
    return log->data[sAdvance(log, index, offset)];
}

uint32 sOldestEntrySize(const aPacketLog* log) { return kHeaderSize + sByteAt(log, log->readIndex, 1); }

void sWrite(aPacketLog* log, uint8 byte) {
    log->data[log->writeIndex] = byte;
    log->writeIndex = sAdvance(log, log->writeIndex, 1);
}

} // namespace

extern "C" {

aPacketLog* aPacketLog_Create(uint32 size) {
    if (size == 0) return nullptr;
    aPacketLog* log = static_cast<aPacketLog*>(std::calloc(1, sizeof(aPacketLog)));
    if (log == nullptr) return nullptr;
    log->data = static_cast<uint8*>(std::malloc(size));
    if (log->data == nullptr) {
        std::free(log);
        return nullptr;
    }
    log->size = size;
    log->enabled = 1;
    return log;
}

aErr aPacketLog_Put(aPacketLog* log, uint8 type, uint32 length, const uint8* bytes) {
    if (!sIsUsable(log) || (bytes == nullptr && length != 0)) return aErrParam;
    if (length > aPACKETLOG_MAX_ENTRY) return aErrRange;
    const uint32 needed = length + kHeaderSize;
    if (needed < log->size) {
        while (sFree(log) <= needed) log->readIndex = sAdvance(log, log->readIndex, sOldestEntrySize(log));
    }
    if (needed >= sFree(log)) return aErrOverrun;
    sWrite(log, type);
    sWrite(log, uint8(length));
    for (uint32 i = 0; i < length; ++i) sWrite(log, bytes[i]);
    return aErrNone;
}

aErr aPacketLog_Get(aPacketLog* log, uint32* type, uint32* length, uint8* buffer) {
    if (!sIsUsable(log) || type == nullptr || length == nullptr) return aErrParam;
    if (log->readIndex == log->writeIndex) return aErrNotFound;
    const uint32 entryLength = sByteAt(log, log->readIndex, 1);
    if (entryLength > *length) {
        *length = entryLength;
        return aErrOverrun;
    }
    if (buffer == nullptr && entryLength != 0) return aErrParam;
    *type = sByteAt(log, log->readIndex, 0);
    *length = entryLength;
    for (uint32 i = 0; i < entryLength; ++i) buffer[i] = sByteAt(log, log->readIndex, kHeaderSize + i);
    log->readIndex = sAdvance(log, log->readIndex, kHeaderSize + entryLength);
    return aErrNone;
}

aErr aPacketLog_Destroy(aPacketLog** log) {
    if (log == nullptr || *log == nullptr) return aErrNone;
    std::free((*log)->data);
    std::free(*log);
    *log = nullptr;
    return aErrNone;
}

} // extern "C"
