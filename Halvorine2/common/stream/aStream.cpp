#include "aStream.h"

#include <cstdlib>
#include <cstring>

namespace {

const uint16 kStreamCheck = 0x4321;
const uint32 kPushBackChunk = 512;
// Reads up to this size use a stack buffer: the link engine reads one byte at a time.
const uint32 kSmallRead = 64;

} // namespace

struct aStream {
    aStreamGetByteProc getByte;
    aStreamPutByteProc putByte;
    aStreamWriteBufferProc writeBuffer;
    aStreamDestroyProc destroy;
    void* ref;
    uint8* pushBack;
    uint32 pushBackCount;
    uint32 pushBackCapacity;
    uint32 pushBackRead;
    uint32 pushBackWrite;
    uint16 check;
    aStreamAwaitInputProc awaitInput;
    aStreamTryWriteProc tryWrite;
    aStreamInterruptProc interrupt;
    aStreamSetPreambleProc setPreamble;
};

namespace {

bool sValid(const aStream* stream) {
    return stream && stream->check == kStreamCheck;
}

// Grows the ring by one chunk, keeping the held bytes in order from its start.
bool sGrowRing(aStream* s) {
    uint32 capacity = s->pushBackCapacity + kPushBackChunk;
    uint8* ring = static_cast<uint8*>(std::malloc(capacity));
    if (!ring) return false;
    for (uint32 i = 0; i < s->pushBackCount; i++)
        ring[i] = s->pushBack[(s->pushBackRead + i) % s->pushBackCapacity];
    std::free(s->pushBack);
    s->pushBack = ring;
    s->pushBackCapacity = capacity;
    s->pushBackRead = 0;
    s->pushBackWrite = s->pushBackCount;
    return true;
}

bool sPushBack(aStream* s, uint8 byte) {
    if (!s->pushBack || s->pushBackCount + 1 >= s->pushBackCapacity) {
        if (!sGrowRing(s)) return false;
    }
    s->pushBack[s->pushBackWrite] = byte;
    s->pushBackWrite = (s->pushBackWrite + 1) % s->pushBackCapacity;
    s->pushBackCount++;
    return true;
}

// Pushes bytes back in order; when memory runs out the rest are lost.
void sPushBackAll(aStream* s, const uint8* bytes, uint32 count) {
    for (uint32 i = 0; i < count; i++)
        if (!sPushBack(s, bytes[i])) return;
}

aErr sNextByte(aStream* s, uint8* byte) {
    if (s->pushBackCount > 0) {
        *byte = s->pushBack[s->pushBackRead];
        s->pushBackRead = (s->pushBackRead + 1) % s->pushBackCapacity;
        s->pushBackCount--;
        return aErrNone;
    }
    return s->getByte(byte, s->ref);
}

// A record of text: at most size - 1 characters, NUL-terminated on success.
aErr sReadText(aStream* stream, char* buffer, uint32 size, const uint8* terminator, uint32 terminatorLength) {
    if (!buffer || size < 2) return aErrParam;
    uint32 length = 0;
    aErr err = aStream_ReadRecord(stream, reinterpret_cast<uint8*>(buffer), &length, size - 1, terminator,
                                  terminatorLength);
    if (err == aErrNone) buffer[length] = '\0';
    return err;
}

} // namespace

extern "C" {

aErr aStream_SetAwaitInput(aStream* stream, aStreamAwaitInputProc awaitInput) {
    if (!sValid(stream)) return aErrParam;
    stream->awaitInput = awaitInput;
    return aErrNone;
}

aErr aStream_AwaitInput(aStream* stream, uint32 timeoutMs) {
    if (!sValid(stream)) return aErrParam;
    if (stream->pushBackCount > 0) return aErrNone;
    if (!stream->awaitInput) return aErrUnimplemented;
    return stream->awaitInput(timeoutMs, stream->ref);
}

aErr aStream_SetTryWrite(aStream* stream, aStreamTryWriteProc tryWrite) {
    if (!sValid(stream)) return aErrParam;
    stream->tryWrite = tryWrite;
    return aErrNone;
}

aErr aStream_TryWrite(aStream* stream, const uint8* bytes, uint32 count, uint32* written) {
    if (!sValid(stream) || !bytes || !written) return aErrParam;
    *written = 0;
    if (!stream->tryWrite) return aErrUnimplemented;
    return count ? stream->tryWrite(bytes, count, written, stream->ref) : aErrNone;
}

aErr aStream_SetInterrupt(aStream* stream, aStreamInterruptProc interrupt) {
    if (!sValid(stream)) return aErrParam;
    stream->interrupt = interrupt;
    return aErrNone;
}

aErr aStream_Interrupt(aStream* stream) {
    if (!sValid(stream)) return aErrParam;
    return stream->interrupt ? stream->interrupt(stream->ref) : aErrUnimplemented;
}

aErr aStream_SetPreambleProc(aStream* stream, aStreamSetPreambleProc setPreamble) {
    if (!sValid(stream)) return aErrParam;
    stream->setPreamble = setPreamble;
    return aErrNone;
}

aErr aStream_SetPreamble(aStream* stream, const uint8* bytes, uint32 count) {
    if (!sValid(stream) || !bytes) return aErrParam;
    if (count > aSTREAM_PREAMBLE_MAX) return aErrSize;
    return stream->setPreamble ? stream->setPreamble(bytes, count, stream->ref) : aErrUnimplemented;
}

aStream* aStream_Create(aStreamGetByteProc getByte, aStreamPutByteProc putByte,
                        aStreamWriteBufferProc writeBuffer, aStreamDestroyProc destroy, void* ref) {
    aStream* stream = static_cast<aStream*>(std::calloc(1, sizeof(aStream)));
    if (!stream) return nullptr;
    stream->getByte = getByte;
    stream->putByte = putByte;
    stream->writeBuffer = writeBuffer;
    stream->destroy = destroy;
    stream->ref = ref;
    stream->check = kStreamCheck;
    return stream;
}

aErr aStream_Read(aStream* stream, uint8* buffer, uint32 count) {
    if (!sValid(stream) || !buffer) return aErrParam;
    if (!stream->getByte) return aErrMode;
    if (count == 0) return aErrNone;

    uint8 small[kSmallRead];
    uint8* work = small;
    if (count > kSmallRead) {
        work = static_cast<uint8*>(std::malloc(count));
        if (!work) return aErrResource;
    }
    aErr err = aErrNone;
    uint32 got = 0;
    while (got < count) {
        err = sNextByte(stream, &work[got]);
        if (err != aErrNone) break;
        got++;
    }
    if (err == aErrNotReady) {
        // The ring was empty when the reader ran dry, so the bytes keep their order.
        sPushBackAll(stream, work, got);
    } else if (err == aErrNone || err == aErrEOF) {
        std::memcpy(buffer, work, got);
    }
    if (work != small) std::free(work);
    return err;
}

aErr aStream_Write(aStream* stream, const uint8* bytes, uint32 count) {
    if (!sValid(stream) || !bytes) return aErrParam;
    if (!stream->putByte && !stream->writeBuffer) return aErrMode;
    if (stream->writeBuffer && (count > 1 || !stream->putByte))
        return count ? stream->writeBuffer(bytes, count, stream->ref) : aErrNone;
    for (uint32 i = 0; i < count; i++) {
        aErr err = stream->putByte(&bytes[i], stream->ref);
        if (err != aErrNone) return err;
    }
    return aErrNone;
}

aErr aStream_ReadRecord(aStream* stream, uint8* buffer, uint32* length, uint32 capacity,
                        const uint8* terminator, uint32 terminatorLength) {
    if (length) *length = 0;
    if (!sValid(stream) || !buffer || !terminator || terminatorLength == 0 || capacity == 0) return aErrParam;
    // The record's bytes, and every byte taken in arrival order (terminator bytes too):
    // an unfinished record goes back whole, so a terminator split across two arrivals
    // still matches on the next call.
    uint8* work = static_cast<uint8*>(std::malloc(capacity));
    uint8* taken = static_cast<uint8*>(std::malloc(size_t(capacity) + terminatorLength));
    if (!work || !taken) {
        std::free(work);
        std::free(taken);
        return aErrResource;
    }

    uint32 stored = 0;
    uint32 matched = 0;
    uint32 takenCount = 0;
    aErr err = aErrNone;
    while (matched < terminatorLength && stored < capacity) {
        uint8 byte;
        err = aStream_Read(stream, &byte, 1);
        if (err != aErrNone) break;
        taken[takenCount++] = byte;
        if (byte == terminator[matched])
            matched++;
        else
            work[stored++] = byte;
    }
    bool complete = err == aErrNone || (err == aErrEOF && stored > 0);
    if (complete) {
        std::memcpy(buffer, work, stored);
        if (length) *length = stored;
        err = aErrNone;
    } else if (err == aErrNotReady) {
        sPushBackAll(stream, taken, takenCount);
    }
    std::free(work);
    std::free(taken);
    return err;
}

aErr aStream_WriteRecord(aStream* stream, const uint8* bytes, uint32 count, const uint8* terminator,
                         uint32 terminatorLength) {
    if (!bytes || !terminator || terminatorLength == 0) return aErrParam;
    aErr err = aStream_Write(stream, bytes, count);
    if (err != aErrNone) return err;
    return aStream_Write(stream, terminator, terminatorLength);
}

aErr aStream_ReadCString(aStream* stream, char* buffer, uint32 size) {
    static const uint8 nul = 0;
    return sReadText(stream, buffer, size, &nul, 1);
}

aErr aStream_WriteCString(aStream* stream, const char* text) {
    if (!text) return aErrParam;
    static const uint8 nul = 0;
    return aStream_WriteRecord(stream, reinterpret_cast<const uint8*>(text), std::strlen(text), &nul, 1);
}

aErr aStream_ReadCStringRecord(aStream* stream, char* buffer, uint32 size, const char* terminator) {
    if (!terminator) return aErrParam;
    return sReadText(stream, buffer, size, reinterpret_cast<const uint8*>(terminator),
                     std::strlen(terminator));
}

aErr aStream_WriteCStringRecord(aStream* stream, const char* text, const char* terminator) {
    if (!text || !terminator) return aErrParam;
    return aStream_WriteRecord(stream, reinterpret_cast<const uint8*>(text), std::strlen(text),
                               reinterpret_cast<const uint8*>(terminator), std::strlen(terminator) + 1);
}

aErr aStream_Flush(aStream* input, aStream* output) {
    if (!sValid(input) || !sValid(output)) return aErrParam;
    if (!input->getByte || !output->putByte) return aErrMode;
    for (;;) {
        uint8 byte;
        aErr err = input->getByte(&byte, input->ref);
        if (err == aErrEOF) return aErrNone;
        if (err != aErrNone) return err;
        err = output->putByte(&byte, output->ref);
        if (err != aErrNone) return err;
    }
}

aErr aStream_Destroy(aStream** stream) {
    if (!stream) return aErrParam;
    aStream* s = *stream;
    *stream = nullptr;
    if (!sValid(s)) return aErrParam;
    aErr err = s->destroy ? s->destroy(s->ref) : aErrNone;
    std::free(s->pushBack);
    s->check = 0;
    std::free(s);
    return err;
}

} // extern "C"
