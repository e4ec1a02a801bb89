#include "aStream.h"
#include "aStreamDescriptorIO.h"

#include <new>
#include <unistd.h>

namespace {

const uint16 kDescriptorCheck = 0xDEDE;

struct DescriptorRecord {
    int fd;
    uint16 check;
    aStreamInBuffer in;
    aStreamWaker waker;
};

DescriptorRecord* sRecord(void* ref) {
    DescriptorRecord* r = static_cast<DescriptorRecord*>(ref);
    return r && r->check == kDescriptorCheck ? r : nullptr;
}

aErr sGetByte(uint8* byte, void* ref) {
    DescriptorRecord* r = sRecord(ref);
    if (!r || !byte) return aErrParam;
    return aStreamInBuffer_ReadByte(&r->in, r->fd, byte, aErrEOF);
}

aErr sWriteBuffer(const uint8* bytes, uint32 count, void* ref) {
    DescriptorRecord* r = sRecord(ref);
    if (!r || !bytes) return aErrParam;
    return aStreamDescriptor_WriteAll(r->fd, bytes, count, aSTREAM_DESCRIPTOR_WRITE_TIMEOUT, &r->waker);
}

aErr sTryWrite(const uint8* bytes, uint32 count, uint32* written, void* ref) {
    DescriptorRecord* r = sRecord(ref);
    if (!r) return aErrParam;
    return aStreamDescriptor_TryWrite(r->fd, bytes, count, written);
}

aErr sAwaitInput(uint32 timeoutMs, void* ref) {
    DescriptorRecord* r = sRecord(ref);
    if (!r) return aErrParam;
    return aStreamInBuffer_AwaitInput(&r->in, r->fd, timeoutMs, &r->waker);
}

aErr sInterrupt(void* ref) {
    DescriptorRecord* r = sRecord(ref);
    if (!r) return aErrParam;
    aStreamWaker_Raise(&r->waker);
    return aErrNone;
}

aErr sPutByte(const uint8* byte, void* ref) {
    return sWriteBuffer(byte, 1, ref);
}

aErr sDestroy(void* ref) {
    DescriptorRecord* r = sRecord(ref);
    if (!r) return aErrParam;
    r->check = 0;
    int closed = close(r->fd);
    aStreamWaker_Close(&r->waker);
    delete r;
    return closed == 0 ? aErrNone : aErrIO;
}

} // namespace

extern "C" aErr aStream_CreateDescriptor(int fd, aStream** stream) {
    if (fd < 0 || !stream) return aErrParam;
    *stream = nullptr;
    if (!aStreamDescriptor_SetNonBlocking(fd)) {
        close(fd);
        return aErrIO;
    }
    DescriptorRecord* r = new (std::nothrow) DescriptorRecord();
    if (!r) {
        close(fd);
        return aErrMemory;
    }
    r->fd = fd;
    r->check = kDescriptorCheck;
    if (!aStreamWaker_Open(&r->waker)) {
        sDestroy(r);
        return aErrResource;
    }
    *stream = aStream_Create(sGetByte, sPutByte, sWriteBuffer, sDestroy, r);
    if (!*stream) {
        sDestroy(r);
        return aErrResource;
    }
    aStream_SetAwaitInput(*stream, sAwaitInput);
    aStream_SetTryWrite(*stream, sTryWrite);
    aStream_SetInterrupt(*stream, sInterrupt);
    return aErrNone;
}
