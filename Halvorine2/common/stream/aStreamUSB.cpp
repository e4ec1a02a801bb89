#include "aStream.h"
#include "aStreamUSBModules.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

const uint16 kUSBCheck = 0xDEAD;
const uint32 kReadTimeoutMs = 1000;
// A write that has not completed by then counts as a failed attempt.
const uint32 kWriteTimeoutMs = 1000;
const uint32 kWriteAttempts = 10;
// A 512-byte chunk is cut short by one byte (the byte goes with the next chunk), so no
// chunk is a whole high-speed packet needing a closing zero-length packet.
const uint32 kWholePacketChunk = 512;

struct USBRecord {
    const aStreamUSBBackend* backend;
    void* handle;
    uint8 inPipe;
    uint16 inMaxPacket;
    uint8 outPipe;
    uint16 outMaxPacket;
    uint8 interruptPipe;
    uint16 interruptMaxPacket;
    uint16 check;
    uint8* inBuffer;
    uint32 inCount;
    uint16 inPosition;
    // Set by an interruption: no further transfer starts (the one in progress ends by its
    // own time-out, so libusb is never left mid-transfer).
    std::atomic<bool> interrupted;
};

USBRecord* sRecord(void* ref) {
    USBRecord* r = static_cast<USBRecord*>(ref);
    return r && r->check == kUSBCheck ? r : nullptr;
}

aErr sGetByte(uint8* byte, void* ref) {
    USBRecord* r = sRecord(ref);
    if (!r || !byte) return aErrParam;
    if (!r->handle) return aErrIO;
    if (r->inPosition >= r->inCount) {
        if (r->interrupted) return aErrCancel;
        uint32 moved = 0;
        aErr err =
            r->backend->transfer(r->handle, r->inPipe, r->inBuffer, r->inMaxPacket, &moved, kReadTimeoutMs);
        r->inCount = moved <= r->inMaxPacket ? moved : 0;
        r->inPosition = 0;
        // Bytes that arrived are handed out whatever the transfer's end was.
        if (r->inCount == 0) {
            if (err == aErrNone || err == aErrTimeout) return aErrNotReady;
            return err == aErrCancel ? aErrCancel : aErrIO;
        }
    }
    *byte = r->inBuffer[r->inPosition++];
    return aErrNone;
}

aErr sWriteBuffer(const uint8* bytes, uint32 count, void* ref) {
    USBRecord* r = sRecord(ref);
    if (!r || !bytes) return aErrParam;
    if (!r->handle) return aErrIO;
    uint32 attempts = 0;
    while (count > 0) {
        if (attempts >= kWriteAttempts) return aErrWrite;
        if (r->interrupted) return aErrCancel;
        uint32 chunk = count < r->outMaxPacket ? count : r->outMaxPacket;
        if (chunk == kWholePacketChunk) chunk--;
        uint32 moved = 0;
        aErr err = r->backend->transfer(r->handle, r->outPipe, const_cast<uint8*>(bytes), chunk, &moved,
                                        kWriteTimeoutMs);
        if (err != aErrNone || moved != chunk) attempts++;
        // Only what did not go out is sent again: resending a whole chunk after a part of
        // it went through would repeat those bytes on the wire.
        if (moved > chunk) moved = chunk;
        bytes += moved;
        count -= moved;
    }
    return aErrNone;
}

aErr sPutByte(const uint8* byte, void* ref) {
    return sWriteBuffer(byte, 1, ref);
}

aErr sInterrupt(void* ref) {
    USBRecord* r = sRecord(ref);
    if (!r) return aErrParam;
    r->interrupted = true;
    return aErrNone;
}

void sRelease(USBRecord* r) {
    if (r->handle) r->backend->close(r->handle);
    std::free(r->inBuffer);
    r->check = 0;
    delete r;
}

aErr sDestroy(void* ref) {
    USBRecord* r = sRecord(ref);
    if (!r) return aErrParam;
    sRelease(r);
    return aErrNone;
}

// The interface's pipes: bulk IN, bulk OUT and an optional interrupt pipe; any other
// endpoint type, or a missing bulk pipe, makes the interface unusable.
bool sTakePipes(USBRecord* r, const aStreamUSBInterface* interface) {
    for (uint8 i = 0; i < interface->endpointCount && i < aSTREAM_USB_MAX_ENDPOINTS; i++) {
        const aStreamUSBEndpoint& ep = interface->endpoints[i];
        if (ep.type == aSTREAM_USB_BULK && (ep.address & 0x80)) {
            r->inPipe = ep.address;
            r->inMaxPacket = ep.maxPacketSize;
        } else if (ep.type == aSTREAM_USB_BULK) {
            r->outPipe = ep.address;
            r->outMaxPacket = ep.maxPacketSize;
        } else if (ep.type == aSTREAM_USB_INTERRUPT) {
            r->interruptPipe = ep.address;
            r->interruptMaxPacket = ep.maxPacketSize;
        } else {
            return false;
        }
    }
    return r->inMaxPacket > 0 && r->outMaxPacket > 0;
}

aErr sSetUp(USBRecord* r, const aStreamUSBInterface* interface) {
    if (!sTakePipes(r, interface)) return aErrInitialization;
    r->inBuffer = static_cast<uint8*>(std::malloc(r->inMaxPacket));
    if (!r->inBuffer) return aErrMemory;
    if (r->backend->resetPipe(r->handle, r->inPipe) != aErrNone ||
        r->backend->resetPipe(r->handle, r->outPipe) != aErrNone)
        return aErrInitialization;
    return aErrNone;
}

struct OpenState {
    uint32 serialNumber;
    USBRecord* record;
    aErr result;
};

bool sOpenMatching(uint32 serialNumber, uint16, const aStreamUSBDevice* device, void* ref) {
    OpenState* state = static_cast<OpenState*>(ref);
    if (serialNumber != state->serialNumber) return true;
    USBRecord* r = state->record;
    const aStreamUSBInterface* interface = aStreamUSB_FindModuleInterface(device);
    state->result = r->backend->open(device, interface->number, &r->handle);
    if (state->result == aErrNone) state->result = sSetUp(r, interface);
    return false;
}

} // namespace

extern "C" aErr aStream_CreateUSB(uint32 serialNumber, aStream** stream) {
    if (!stream) return aErrParam;
    *stream = nullptr;
    USBRecord* r = new (std::nothrow) USBRecord();
    if (!r) return aErrMemory;
    r->backend = aStreamUSB_GetBackend();
    r->check = kUSBCheck;
    OpenState state = {serialNumber, r, aErrNotFound};
    aStreamUSB_EnumerateModules(sOpenMatching, &state);
    if (state.result != aErrNone) {
        sRelease(r);
        return state.result;
    }
    *stream = aStream_Create(sGetByte, sPutByte, sWriteBuffer, sDestroy, r);
    if (!*stream) {
        sRelease(r);
        return aErrMemory;
    }
    aStream_SetInterrupt(*stream, sInterrupt);
    return aErrNone;
}
