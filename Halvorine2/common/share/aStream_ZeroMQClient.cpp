/* Client stream and client links of link sharing. */
#include "aStream_ZeroMQClient.h"

#include <arpa/inet.h>

#include <atomic>
#include <csignal>
#include <new>

#include "aCzmqSetup.h"
#include "aLinkInternal.h"
#include "aShareExit.h"
#include "aShareFrames.h"
#include "aSharePair.h"
#include "aSharePoll.h"
#include "aShareQueue.h"

namespace {

constexpr int kTaskPollMs = 1000;
constexpr int kHandOverTries = 100;
constexpr uint32 kQueueFrames = 1000;
/* The input wait looks at the interruption this often. */
constexpr uint32 kWaitSliceMs = 50;
/* A read with nothing at hand waits this long for a frame. */
constexpr uint32 kReadWaitMs = 1000;

struct ClientRecord {
    zsock_t* server = nullptr;
    aShareQueue* outgoing = nullptr; /* writing threads to the client task */
    aShareQueue* incoming = nullptr; /* the client task to the reading thread */
    zactor_t* task = nullptr;
    zframe_t* frame = nullptr;
    size_t framePosition = 0;
    std::atomic<bool> interrupted{false};
};

std::atomic<uint32> gClientCounter{0};

/* czmq may have caught a console Ctrl+C meant for the program (when something else in
 * the process let it install its handler): hand it on once, not after every poll, as
 * the flag stays set. */
void sPassInterruptOn() {
    static std::atomic<bool> passed{false};
    if (!zsys_interrupted || passed.exchange(true)) return;
    zsys_handler_set(nullptr);
    raise(SIGINT);
    zsys_handler_reset();
}

void sFromServer(ClientRecord* record) {
    zframe_t* frame = zframe_recv_nowait(record->server);
    if (!frame) return;
    aShareQueue_Put(record->incoming, zframe_data(frame), zframe_size(frame), kHandOverTries);
    zframe_destroy(&frame);
}

void sToServer(ClientRecord* record) {
    zframe_t* frame = aShareQueue_Take(record->outgoing);
    if (!frame) return;
    aSharePair_Send(record->server, nullptr, zframe_data(frame), zframe_size(frame), 0);
    zframe_destroy(&frame);
}

enum { kPipe, kServer, kOutgoing, kTaskItems };

void sClientTask(zsock_t* pipe, void* args) {
    ClientRecord* record = static_cast<ClientRecord*>(args);
    zmq_pollitem_t items[kTaskItems] = {{zsock_resolve(pipe), 0, ZMQ_POLLIN, 0},
                                        {zsock_resolve(record->server), 0, ZMQ_POLLIN, 0},
                                        {nullptr, aShareQueue_Descriptor(record->outgoing), ZMQ_POLLIN, 0}};
    zsock_signal(pipe, 0);
    bool running = true;
    while (running) {
        const int ready = aSharePoll_Wait(items, kTaskItems, kTaskPollMs);
        if (ready == aSHARE_POLL_END) {
            running = false; /* $TERM, or anything else: the owner ends us */
        } else if (ready == kServer) {
            sFromServer(record);
        } else if (ready == kOutgoing) {
            sToServer(record);
        }
        sPassInterruptOn();
    }
}

/* Ends the task and closes the socket, at destruction or when the program ends. */
void sStopTask(void* ref) {
    ClientRecord* record = static_cast<ClientRecord*>(ref);
    zactor_destroy(&record->task);
    zsock_destroy(&record->server);
}

void sDestroyRecord(ClientRecord* record) {
    aShareExit_Remove(record);
    sStopTask(record);
    zframe_destroy(&record->frame);
    aShareQueue_Destroy(&record->outgoing);
    aShareQueue_Destroy(&record->incoming);
    delete record;
}

aErr sAwaitInput(uint32 timeoutMs, void* ref);

/* With nothing at hand it waits a while for the server, as a read of any line does. */
aErr sGetByte(uint8* byte, void* ref) {
    ClientRecord* record = static_cast<ClientRecord*>(ref);
    while (!record->frame) {
        record->frame = aShareQueue_Take(record->incoming);
        if (!record->frame) {
            if (sAwaitInput(kReadWaitMs, record) != aErrNone) return aErrNotReady;
            continue;
        }
        record->framePosition = 0;
        if (zframe_size(record->frame) == 0) zframe_destroy(&record->frame);
    }
    *byte = zframe_data(record->frame)[record->framePosition++];
    if (record->framePosition >= zframe_size(record->frame)) zframe_destroy(&record->frame);
    return aErrNone;
}

aErr sPutByte(const uint8*, void*) {
    return aErrUnimplemented;
}

/* The size of the frame that starts at bytes: one frame per packet, so the server
 * never sees two packets in one frame (a pooled link writes several at once). Bytes
 * that do not make a packet go as one frame, which the server drops. */
uint32 sFrameSize(const uint8* bytes, uint32 count) {
    return count >= 2 && bytes[1] + 2u <= count ? bytes[1] + 2u : count;
}

aErr sWriteBuffer(const uint8* bytes, uint32 count, void* ref) {
    ClientRecord* record = static_cast<ClientRecord*>(ref);
    for (uint32 at = 0; at < count;) {
        const uint32 size = sFrameSize(bytes + at, count - at);
        aShareQueue_Put(record->outgoing, bytes + at, size, kHandOverTries);
        at += size;
    }
    return aErrNone;
}

/* Whole frames only, so a packet is never split between this and a later write. */
aErr sTryWrite(const uint8* bytes, uint32 count, uint32* written, void* ref) {
    ClientRecord* record = static_cast<ClientRecord*>(ref);
    while (*written < count) {
        const uint32 size = sFrameSize(bytes + *written, count - *written);
        if (aShareQueue_Put(record->outgoing, bytes + *written, size, 0) != aErrNone) return aErrNotReady;
        *written += size;
    }
    return aErrNone;
}

aErr sAwaitInput(uint32 timeoutMs, void* ref) {
    ClientRecord* record = static_cast<ClientRecord*>(ref);
    if (record->frame) return aErrNone;
    uint32 waited = 0;
    do {
        if (record->interrupted) return aErrCancel;
        uint32 slice = std::min(kWaitSliceMs, timeoutMs - waited);
        if (aShareQueue_Await(record->incoming, slice)) return aErrNone;
        waited += slice;
    } while (waited < timeoutMs);
    return record->interrupted ? aErrCancel : aErrTimeout;
}

aErr sInterrupt(void* ref) {
    ClientRecord* record = static_cast<ClientRecord*>(ref);
    record->interrupted = true;
    aShareQueue_Wake(record->incoming);
    return aErrNone;
}

aErr sDestroy(void* ref) {
    ClientRecord* record = static_cast<ClientRecord*>(ref);
    aShareExit_Remove(record); /* before its socket is looked at: the exit handler closes it */
    aErr err = record->server ? aErrNone : aErrIO;
    sDestroyRecord(record);
    return err;
}

aErr sConnect(ClientRecord* record, uint32 address, uint16 port) {
    record->outgoing = aShareQueue_Create(kQueueFrames);
    record->incoming = aShareQueue_Create(kQueueFrames);
    if (!record->outgoing || !record->incoming) return aErrMemory;
    aCzmq_Setup();
    if (!aShareExit_Add(record, sStopTask)) return aErrMemory;
    record->server = zsock_new(ZMQ_DEALER);
    if (!record->server) return aErrMemory;
    zsock_set_linger(record->server, 0);
    char text[INET_ADDRSTRLEN] = {0};
    in_addr in;
    in.s_addr = address;
    inet_ntop(AF_INET, &in, text, sizeof text);
    if (zsock_connect(record->server, "tcp://%s:%u", text, unsigned(port)) != 0) return aErrConnection;
    record->task = zactor_new(sClientTask, record);
    return record->task ? aErrNone : aErrMemory;
}

} // namespace

aErr aStream_CreateClient(uint32 address, uint16 port, aStream** stream) {
    if (!stream || port == 0) return aErrParam;
    *stream = nullptr;
    ClientRecord* record = new (std::nothrow) ClientRecord;
    if (!record) return aErrMemory;
    aErr err = sConnect(record, address, port);
    if (err == aErrNone) {
        *stream = aStream_Create(sGetByte, sPutByte, sWriteBuffer, sDestroy, record);
        if (!*stream) err = aErrResource;
    }
    if (err != aErrNone) {
        sDestroyRecord(record);
        return err;
    }
    aStream_SetAwaitInput(*stream, sAwaitInput);
    aStream_SetTryWrite(*stream, sTryWrite);
    aStream_SetInterrupt(*stream, sInterrupt);
    return aErrNone;
}

uint32 aLink_CreateClient(uint32 address, uint16 port, uint32 existingRef) {
    std::lock_guard<std::recursive_mutex> creation(sCreationMutex());
    if (existingRef) {
        aLinkEntryPtr existing = sLookupEntryByID(existingRef);
        if (!existing) return 0;
        sChangeUseCount(existing, +1);
        return existingRef;
    }
    aLinkEntryPtr entry = sCreate(address, port, gClientCounter++, kLinkTypeClient);
    if (!entry) return 0;
    aStream* stream = nullptr;
    if (aStream_CreateClient(address, port, &stream) != aErrNone) return sAbandon(entry, stream);
    entry->link->interruptAtStop = true;
    if (sInitAndStart(entry, stream) != aErrNone) return sAbandon(entry, stream);
    return entry->linkRef;
}
