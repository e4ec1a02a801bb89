/* Client stream and client links of link sharing. */
#include "aStream_ZeroMQClient.h"

#include <arpa/inet.h>

#include <atomic>
#include <csignal>
#include <new>

#include "aLinkInternal.h"
#include "aShareFrames.h"
#include "aSharePair.h"

namespace {

constexpr int kTaskPollMs = 1000;
constexpr int kHandOverTries = 100;
/* The input wait looks at the interruption this often. */
constexpr uint32 kWaitSliceMs = 50;

struct ClientRecord {
    zsock_t* server = nullptr;
    zsock_t* outgoingWriter = nullptr;
    zsock_t* outgoingTask = nullptr;
    zsock_t* incomingReader = nullptr;
    zsock_t* incomingTask = nullptr;
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

void sForward(zsock_t* from, zsock_t* to, int tries) {
    zframe_t* frame = zframe_recv_nowait(from);
    if (!frame) return;
    aSharePair_Send(to, nullptr, zframe_data(frame), zframe_size(frame), tries);
    zframe_destroy(&frame);
}

void sClientTask(zsock_t* pipe, void* args) {
    ClientRecord* record = static_cast<ClientRecord*>(args);
    zpoller_t* poller = zpoller_new(pipe, record->server, record->outgoingTask, NULL);
    zsock_signal(pipe, 0);
    bool running = poller != nullptr;
    while (running) {
        void* ready = zpoller_wait(poller, kTaskPollMs);
        if (ready == pipe) {
            running = false; /* $TERM, or anything else: the owner ends us */
        } else if (ready == record->server) {
            sForward(record->server, record->incomingTask, kHandOverTries);
        } else if (ready == record->outgoingTask) {
            sForward(record->outgoingTask, record->server, 0);
        } else if (zpoller_terminated(poller)) {
            running = false;
        }
        sPassInterruptOn();
    }
    zpoller_destroy(&poller);
}

void sDestroyRecord(ClientRecord* record) {
    zactor_destroy(&record->task);
    zframe_destroy(&record->frame);
    zsock_destroy(&record->server);
    zsock_destroy(&record->outgoingWriter);
    zsock_destroy(&record->outgoingTask);
    zsock_destroy(&record->incomingReader);
    zsock_destroy(&record->incomingTask);
    delete record;
}

aErr sGetByte(uint8* byte, void* ref) {
    ClientRecord* record = static_cast<ClientRecord*>(ref);
    while (!record->frame) {
        record->frame = zframe_recv_nowait(record->incomingReader);
        if (!record->frame) return aErrNotReady;
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

/* One frame per packet, so the server never sees two packets in one frame (a pooled
 * link writes several at once). Bytes that do not make a packet go as one frame, which
 * the server drops. */
aErr sWriteBuffer(const uint8* bytes, uint32 count, void* ref) {
    ClientRecord* record = static_cast<ClientRecord*>(ref);
    uint32 at = 0;
    while (at < count) {
        uint32 size = count - at;
        if (size >= 2 && bytes[at + 1] + 2u <= size) size = bytes[at + 1] + 2u;
        aSharePair_Send(record->outgoingWriter, nullptr, bytes + at, size, kHandOverTries);
        at += size;
    }
    return aErrNone;
}

aErr sAwaitInput(uint32 timeoutMs, void* ref) {
    ClientRecord* record = static_cast<ClientRecord*>(ref);
    if (record->frame) return aErrNone;
    zmq_pollitem_t item = {zsock_resolve(record->incomingReader), 0, ZMQ_POLLIN, 0};
    uint32 waited = 0;
    do {
        if (record->interrupted) return aErrCancel;
        uint32 slice = std::min(kWaitSliceMs, timeoutMs - waited);
        if (zmq_poll(&item, 1, long(slice)) > 0) return aErrNone;
        waited += slice;
    } while (waited < timeoutMs);
    return record->interrupted ? aErrCancel : aErrTimeout;
}

aErr sInterrupt(void* ref) {
    static_cast<ClientRecord*>(ref)->interrupted = true;
    return aErrNone;
}

aErr sDestroy(void* ref) {
    ClientRecord* record = static_cast<ClientRecord*>(ref);
    aErr err = record->server ? aErrNone : aErrIO;
    sDestroyRecord(record);
    return err;
}

aErr sConnect(ClientRecord* record, uint32 address, uint16 port) {
    if (!aSharePair_Create(&record->outgoingWriter, &record->outgoingTask) ||
        !aSharePair_Create(&record->incomingReader, &record->incomingTask))
        return aErrConnection;
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
    if (aStream_CreateClient(address, port, &stream) != aErrNone || sInitAndStart(entry, stream) != aErrNone)
        return sAbandon(entry, stream);
    return entry->linkRef;
}
