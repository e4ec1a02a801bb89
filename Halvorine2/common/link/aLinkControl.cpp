/* Starting, stopping and synchronising a link, and its control exchanges. */
#include "aLinkInternal.h"
#include "aTime.h"

namespace {

constexpr uint32 kStartPollMs = 1;
constexpr uint32 kStartLimitMs = 2000;
constexpr uint32 kSyncPollMs = 2;
constexpr uint32 kSyncLimitMs = 2000;
/* After the sync, the burst's other answers still come: they are drained until the
 * line has been quiet this long, for at most the settle limit. */
constexpr uint32 kSyncQuietMs = 20;
constexpr uint32 kSyncSettleMs = 100;
/* A reader waits on its stream in short slices (a USB transfer for up to a second);
 * past this it is woken. */
constexpr uint32 kReaderStopMs = 1500;
/* What is still queued at a stop may take this long to go out; then the stream's
 * waits are ended and what cannot go at once is dropped. */
constexpr uint32 kDrainLimitMs = 1000;
constexpr uint32 kReplyWaitMs = 1000;

bool sAll(const aPacket*, void*) {
    return true;
}

/* The limit is of real time: a busy machine's longer sleeps do not stretch it. */
template <class Ready> bool sPoll(uint32 intervalMs, uint32 limitMs, Ready ready) {
    const uint32 start = aTime_GetMSTicks();
    for (;;) {
        if (ready()) return true;
        if (aTime_GetMSTicks() - start >= limitMs) return false;
        aTime_MSSleep(intervalMs);
    }
}

/* Waits for the thread to end; past the limit the stream's waits are ended, which
 * every transport call notices within its own short bound. */
void sEnd(aLink* link, aLinkThread& thread, uint32 limitMs) {
    if (thread.join(limitMs)) return;
    aStream_Interrupt(link->stream);
    thread.join();
}

/* A reader asleep in a long read wakes with the module's answer to a sync. */
void sWakeReader(aLink* link) {
    if (link->wakeBySync) sQueue(link, aPACKET_ADDRESS_SYNC, 0, nullptr);
}

/* Sends what the writer left queued, once it has ended. */
void sSendLeftOver(aLink* link) {
    std::lock_guard<std::mutex> lock(link->writeMutex);
    while (aPacket* packet = aPacketFifo_Get(link->outFifo)) {
        aStream_Write(link->stream, &packet->address, packet->dataSize + 2u);
        aPacket_Destroy(&packet);
    }
}

/* Drops what comes in until the line is quiet, within the settle limit. */
void sSettle(aLink* link) {
    aPacketFifo_DrainPackets(link->inFifo, sAll, nullptr);
    const uint32 start = aTime_GetMSTicks();
    while (aTime_GetMSTicks() - start < kSyncSettleMs) {
        aPacket* stray = aPacketFifo_Await(link->inFifo, kSyncQuietMs);
        if (!stray) break;
        aPacket_Destroy(&stray);
    }
    aPacketFifo_DrainPackets(link->inFifo, sAll, nullptr);
}

} // namespace

aLink::~aLink() {
    aPacketLog_Destroy(&packetLog);
    aPacket_Destroy(&framer.packet);
}

aErr aLink_Init(aLink* link, uint32 linkRef, aStream* stream) {
    link->check = aLINK_CHECK;
    link->linkRef = linkRef;
    link->running = false;
    link->reading = false;
    link->status = stream ? STOPPED : INVALID_LINK_STREAM;
    link->stream = stream;
    /* A connection the stream renews by itself (a module that rebooted) gets the
     * route forced again before anything else. */
    const uint8 routeOn[] = {aPACKET_ADDRESS_ROUTE, 1, 1};
    if (stream) aStream_SetPreamble(stream, routeOn, sizeof routeOn);
    link->tailCount = 0;
    link->inFifo = aPacketFifo_Create();
    link->outFifo = aPacketFifo_Create();
    if (!link->framer.packet) link->framer.packet = aPacket_Create();
    aPacket_Reset(link->framer.packet);
    link->framer.syncState = kSyncStateIdle;
    {
        std::lock_guard<std::mutex> lock(link->logMutex);
        link->logging = false;
        aPacketLog_Destroy(&link->packetLog);
        link->packetLogSize = 0;
    }
    {
        std::lock_guard<std::recursive_mutex> lock(link->filterMutex);
        link->userFilter = nullptr;
        link->userFilterRef = nullptr;
    }
    link->pooled = false;
    if (!link->inFifo || !link->outFifo || !link->framer.packet) return aErrMemory;
    return aErrNone;
}

aErr aLink_ForceRoute(aLink* link, bool on) {
    const uint8 state = on ? 1 : 0;
    return sQueue(link, aPACKET_ADDRESS_ROUTE, 1, &state);
}

aErr aLink_Start(aLink* link) {
    std::lock_guard<std::recursive_mutex> lock(link->lifecycle);
    if (link->running) return aErrNone;
    link->running = true;
    link->reading = true;
    link->status = INITIALIZING;
    link->heartbeatState = 0;
    link->inReady = false;
    link->outReady = false;
    if (!link->inThread.start([link] { sInPipeProcess(link); })) {
        link->running = false;
        link->reading = false;
        link->status = STOPPED;
        return aErrResource;
    }
    if (!link->outThread.start([link] { sOutPipeProcess(link); })) {
        link->running = false;
        link->reading = false;
        if (link->running) sWakeReader(link);
        if (link->interruptAtStop) aStream_Interrupt(link->stream);
        sEnd(link, link->inThread, kReaderStopMs);
        link->status = STOPPED;
        return aErrResource;
    }
    bool ready = sPoll(kStartPollMs, kStartLimitMs,
                       [link] { return link->inReady && link->outReady && link->status == RUNNING; });
    if (!ready) return aErrIndexRange;
    return aLink_ForceRoute(link, true);
}

aErr aLink_Stop(aLink* link) {
    std::lock_guard<std::recursive_mutex> lock(link->lifecycle);
    int status = link->status;
    if (status == STOPPING || status == STOPPED) return aErrNone;
    link->status = STOPPING;
    aErr err = aErrNone;
    if (link->inThread.started() || link->outThread.started()) {
        /* The reader first: once it has ended, no heartbeat answer or sync burst can
         * be queued behind the route off. */
        link->reading = false;
        if (link->running) sWakeReader(link);
        if (link->interruptAtStop) aStream_Interrupt(link->stream);
        sEnd(link, link->inThread, kReaderStopMs);
        /* Queued once the writer's flag dropped, it wakes the writer, whose last pass
         * sends it, last; a writer that ended before it came leaves it to us. */
        link->running = false;
        err = aLink_ForceRoute(link, false);
        sEnd(link, link->outThread, kDrainLimitMs);
        sSendLeftOver(link);
        link->inReady = false;
        link->outReady = false;
        aPacket_Reset(link->framer.packet);
    }
    link->running = false;
    link->reading = false;
    link->heartbeatState = 0;
    link->status = link->stream ? STOPPED : INVALID_LINK_STREAM;
    return err;
}

aErr aLink_Sync(aLink* link) {
    link->status = SYNCING;
    /* The reader starts the burst once a read ends: the answer ends it now. */
    sWakeReader(link);
    bool synced = sPoll(kSyncPollMs, kSyncLimitMs, [link] { return link->status == RUNNING; });
    aPacketFifo_DrainPackets(link->outFifo, sAll, nullptr);
    sSettle(link);
    return synced ? aErrNone : aErrNotReady;
}

aErr aLink_GetModuleAddress(aLink* link, uint8* address) {
    if (!address) return aErrParam;
    aErr err = sQueue(link, aPACKET_ADDRESS_SYNC, 0, nullptr);
    if (err != aErrNone) return err;
    aPacket* reply = aPacketFifo_Await(link->inFifo, kReplyWaitMs);
    if (!reply) return aErrTimeout;
    err = reply->dataSize == 0 && reply->address != 0 ? aErrNone : aErrIO;
    if (err == aErrNone) *address = reply->address;
    aPacket_Destroy(&reply);
    return err;
}

aErr aLink_GetModel(aLink* link, uint8 moduleAddress, uint8* model) {
    if (!model) return aErrParam;
    /* The system entity's model get. */
    const uint8 query[3] = {0x03, 0x48, 0x20};
    aErr err = sQueue(link, moduleAddress, sizeof query, query);
    if (err != aErrNone) return err;
    aPacket* reply = aPacketFifo_Await(link->inFifo, kReplyWaitMs);
    if (!reply) return aErrTimeout;
    err =
        reply->address == moduleAddress && reply->dataSize == 4 && reply->data[0] == 0x03 ? aErrNone : aErrIO;
    if (err == aErrNone) *model = reply->data[3];
    aPacket_Destroy(&reply);
    return err;
}

aErr aLink_Teardown(aLink* link) {
    std::lock_guard<std::recursive_mutex> lock(link->lifecycle);
    {
        std::lock_guard<std::recursive_mutex> filterLock(link->filterMutex);
        link->userFilter = nullptr;
        link->userFilterRef = nullptr;
    }
    aLink_Stop(link);
    uint64 inFifo = link->inFifo.exchange(0);
    uint64 outFifo = link->outFifo.exchange(0);
    if (inFifo) aPacketFifo_Destroy(&inFifo);
    aErr err = outFifo ? aPacketFifo_Destroy(&outFifo) : aErrNone;
    {
        std::lock_guard<std::mutex> lock(link->logMutex);
        link->logging = false;
        aPacketLog_Destroy(&link->packetLog);
    }
    {
        std::lock_guard<std::mutex> writing(link->writeMutex);
        if (link->stream) aStream_Destroy(&link->stream);
    }
    link->status = INVALID_LINK_STREAM;
    link->check = 0;
    return err;
}
