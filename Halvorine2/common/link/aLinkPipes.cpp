/* The link's two threads: the reader turns the module's bytes into packets and
 * keeps the stream in step; the writer sends what is queued. */
#include <algorithm>
#include <chrono>
#include <thread>

#include "aLinkInternal.h"
#include "aTime.h"

namespace {

constexpr int kSyncBurst = 6;
constexpr uint32 kIOErrorPauseMs = 100;
/* Sync bursts go out at most this often, whatever asks for them: on a noisy line
 * every bad byte would, and the bursts would flood the outgoing queue. */
constexpr uint32 kBurstSpacingMs = 100;
/* Longest wait for input before the reader looks at its flags again. */
constexpr uint32 kIdleWaitMs = 100;
constexpr uint32 kIdlePauseMaxMs = 50;
/* How long the reader polls for a reply before it sleeps on the stream. */
constexpr int kReplySpinUs = 60;
/* How long the writer waits for a packet before it looks at the running flag. */
constexpr uint32 kWriterSliceMs = 50;
constexpr uint32 kBatchSize = 4096;
/* The batch takes further packets while it holds at most this many bytes, so a
 * 30-byte packet always fits. */
constexpr uint32 kBatchFill = kBatchSize - aPACKET_MAX_WIRE;
constexpr uint8 kLogSent = 1;
constexpr uint8 kLogReceived = 2;

/* Reader-side status changes never overwrite a stop in progress. */
void sSetStatus(aLink* link, int status) {
    int current = link->status.load();
    while (current != STOPPING && !link->status.compare_exchange_weak(current, status)) {
    }
}

bool sBurstDue(const aLink* link) {
    return !link->burstSent || aTime_GetMSTicks() - link->lastBurstMs >= kBurstSpacingMs;
}

/* Too soon after the last burst, the machine only starts over and waits for that
 * burst's answers; a quiet read sends the next burst once it is due. */
void syncStart(aLink* link) {
    sSetStatus(link, SYNCING);
    aLinkFramer_BeginBurst(&link->framer);
    if (sBurstDue(link)) {
        for (int i = 0; i < kSyncBurst; ++i)
            sQueue(link, aPACKET_ADDRESS_SYNC, 0, nullptr);
        link->lastBurstMs = aTime_GetMSTicks();
        link->burstSent = true;
    }
    aLinkFramer_BurstQueued(&link->framer);
}

/* Answers a heartbeat itself; anything else goes to the callers. */
aErr sHandleHBBackChannel(aLink* link, const aPacket* packet) {
    if (packet->dataSize == 2 && packet->data[0] == 0 && link->heartbeatState <= 1) {
        uint8 state = packet->data[1];
        if (state == 0) link->heartbeatState = 2;
        if (state == 1) link->heartbeatState = 3;
        const uint8 answer[2] = {0, static_cast<uint8>(state + 2)};
        sQueue(link, packet->address, 2, answer);
        link->heartbeatState = 0;
        return aErrNone;
    }
    return aPacketFifo_Put(link->inFifo, packet);
}

aErr sHandlePacket(aLink* link) {
    aPacket* packet = link->framer.packet;
    sLogPacket(link, kLogReceived, packet);
    bool taken = false;
    {
        std::lock_guard<std::recursive_mutex> lock(link->filterMutex);
        if (link->userFilter) taken = link->userFilter(packet, link->userFilterRef);
    }
    aErr err = taken ? aErrNone : sHandleHBBackChannel(link, packet);
    aPacket_Reset(packet);
    return err;
}

void sHandleByte(aLink* link, uint8 byte) {
    if (link->status == SYNCING) {
        switch (aLinkFramer_Resync(&link->framer, byte)) {
        case kFrameResync:
            syncStart(link);
            break;
        case kFrameSynced: {
            int syncing = SYNCING;
            link->status.compare_exchange_strong(syncing, RUNNING);
            break;
        }
        default:
            break;
        }
        return;
    }
    switch (aLinkFramer_Assemble(&link->framer, byte)) {
    case kFrameResync:
        syncStart(link);
        break;
    case kFramePacket:
        if (sHandlePacket(link) != aErrNone) sSetStatus(link, UNKNOWN_ERROR);
        break;
    default:
        break;
    }
}

/* Right after traffic a module's reply usually follows within microseconds:
 * polling for it briefly saves the reader a sleep and a wake-up per exchange.
 * Each poll yields, so that a caller or module sharing the CPU goes first. */
bool sAwaitReplyBriefly(aLink* link) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(kReplySpinUs);
    do {
        if (aStream_AwaitInput(link->stream, 0) == aErrNone) return true;
        std::this_thread::yield();
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

/* Nothing to read: wait for input, so that a transport that answers at once
 * does not make the reader spin. A transport that cannot wait, or whose wait
 * keeps answering at once without a byte coming (a peer that has closed), gets
 * growing pauses instead. */
void sIdle(aLink* link, uint32* fruitless) {
    if (*fruitless == 0 && sAwaitReplyBriefly(link)) {
        /* Counted, so a stream that keeps saying "ready" without a byte still
         * ends up in the growing pauses below. */
        *fruitless = 1;
        return;
    }
    if (aStream_AwaitInput(link->stream, kIdleWaitMs) == aErrTimeout) {
        *fruitless = 0;
        return;
    }
    uint32 n = (*fruitless)++;
    if (n > 0) aTime_MSSleep(std::min<uint32>(1u << std::min<uint32>(n - 1, 6), kIdlePauseMaxMs));
}

/* The writer's filter: takes any packet, and marks the writer busy before the
 * outFifo's lock is released, so no caller can write ahead of it. */
bool sClaim(const aPacket*, void* ref) {
    static_cast<aLink*>(ref)->writerHolding = true;
    return true;
}

uint32 sAppendWire(uint8* batch, uint32 size, const aPacket* packet) {
    const uint8* wire = &packet->address;
    for (uint32 i = 0; i < packet->dataSize + 2u; ++i)
        batch[size++] = wire[i];
    return size;
}

} // namespace

aErr sQueue(aLink* link, uint8 address, uint8 length, const uint8* data) {
    static const uint8 kNoData = 0;
    aPacket* packet = aPacket_CreateWithData(address, length, data ? data : &kNoData);
    if (!packet) return aErrMemory;
    aErr err = aPacketFifo_Put(link->outFifo, packet);
    aPacket_Destroy(&packet);
    return err;
}

void sLogPacket(aLink* link, uint8 type, const aPacket* packet) {
    if (!link->logging) return;
    std::lock_guard<std::mutex> lock(link->logMutex);
    if (link->packetLog && link->packetLog->enabled)
        aPacketLog_Put(link->packetLog, type, packet->dataSize + 2u, &packet->address);
}

void sInPipeProcess(aLink* link) {
    link->heartbeatState = 0;
    link->framer.syncAddress = 1;
    link->inReady = true;
    link->status = RUNNING;
    link->framer.syncState = kSyncStateIdle;
    link->burstSent = false;
    uint32 fruitless = 0;
    while (link->reading) {
        uint8 byte = 0;
        aErr err = aStream_Read(link->stream, &byte, 1);
        if (err == aErrNone) {
            fruitless = 0;
            sHandleByte(link, byte);
        } else if (err == aErrNotReady) {
            if (link->status == SYNCING && sBurstDue(link)) syncStart(link);
            sIdle(link, &fruitless);
        } else {
            sSetStatus(link, IO_ERROR);
            aTime_MSSleep(kIOErrorPauseMs);
        }
    }
}

bool sWriteDirect(aLink* link, const aPacket* packet) {
    if (link->pooled || !aVALIDPACKET(packet) || packet->dataSize > aPACKET_MAX_DATA) return false;
    std::unique_lock<std::mutex> lock(link->writeMutex, std::try_to_lock);
    if (!lock.owns_lock() || !link->running || link->tailCount) return false;
    /* Queue first, then the writer's mark: a packet the writer took before the
     * queue looked empty has set the mark by then. */
    if (aPacketFifo_GetLength(link->outFifo) != 0 || link->writerHolding) return false;
    const uint32 size = packet->dataSize + 2u;
    uint32 written = 0;
    aStream_TryWrite(link->stream, &packet->address, size, &written);
    if (written == 0) return false;
    /* Rarely a transport takes only a part: the rest goes first thing from the writer. */
    link->tailCount = size - written;
    for (uint32 i = 0; i < link->tailCount; ++i)
        link->tail[i] = (&packet->address)[written + i];
    sLogPacket(link, kLogSent, packet);
    return true;
}

namespace {

/* Called with writeMutex held. */
void sWriteTail(aLink* link) {
    if (!link->tailCount) return;
    aStream_Write(link->stream, link->tail, link->tailCount);
    link->tailCount = 0;
}

} // namespace

void sOutPipeProcess(aLink* link) {
    link->outReady = true;
    uint8 batch[kBatchSize];
    while (link->running) {
        aPacket* first = aPacketFifo_AwaitFirst(link->outFifo, sClaim, link, kWriterSliceMs);
        std::lock_guard<std::mutex> lock(link->writeMutex);
        sWriteTail(link);
        if (!first) continue;
        uint32 size = sAppendWire(batch, 0, first);
        if (link->pooled) {
            while (size <= kBatchFill) {
                aPacket* next = aPacketFifo_Get(link->outFifo);
                if (!next) break;
                size = sAppendWire(batch, size, next);
                aPacket_Destroy(&next);
            }
        }
        sLogPacket(link, kLogSent, first);
        aStream_Write(link->stream, batch, size);
        link->writerHolding = false;
        aPacket_Destroy(&first);
    }
    /* Stopping: what is still queued (force route off last) goes out packet by packet. */
    std::lock_guard<std::mutex> lock(link->writeMutex);
    sWriteTail(link);
    while (aPacket* packet = aPacketFifo_Get(link->outFifo)) {
        aStream_Write(link->stream, &packet->address, packet->dataSize + 2u);
        aPacket_Destroy(&packet);
    }
}
