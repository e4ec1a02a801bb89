/* Making links per transport, sharing them between users, tearing them down and
 * resetting them. */
#include "aLinkInternal.h"
#include "aStream_ZeroMQClient.h"
#include "aTime.h"

namespace {

constexpr uint32 kStreamKey = 0xFFFFFFFF;
constexpr int kReopenAttempts = 20;
constexpr uint32 kReopenPauseMs = 100;

constexpr uint32 kBaudRates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};

bool sBaudIndex(uint32 baudRate, uint32* index) {
    for (uint32 i = 0; i < sizeof kBaudRates / sizeof kBaudRates[0]; ++i) {
        if (kBaudRates[i] == baudRate) {
            *index = i;
            return true;
        }
    }
    return false;
}

/* The existing link for this module with one more user, or 0. */
uint32 sShare(uint32 key, int type, uint16 port) {
    aLinkEntryPtr entry = sAddUserByKey(key, type, port);
    return entry ? entry->linkRef : 0;
}

/* A fresh stream to where the entry's link leads. */
aErr sOpenStream(const aLinkEntry& entry, aStream** stream) {
    switch (entry.type) {
    case kLinkTypeUSB:
        return aStream_CreateUSB(entry.key, stream);
    case kLinkTypeTCPIP:
        return aStream_CreateSocket(entry.key, entry.port, stream);
    case kLinkTypeClient:
        return aStream_CreateClient(entry.key, entry.port, stream);
    default:
        return aErrParam; /* serial ports and callers' streams are not reopened */
    }
}

} // namespace

/* A creation step failed: nothing of the new link may stay behind. */
uint32 sAbandon(const aLinkEntryPtr& entry, aStream* stream) {
    sExtractEntry(entry);
    if (entry->link->check == aLINK_CHECK)
        sDestroyEntry(entry);
    else if (stream)
        aStream_Destroy(&stream);
    return 0;
}

/* Initialises the new entry's link over the stream, adds its user and starts it. */
aErr sInitAndStart(const aLinkEntryPtr& entry, aStream* stream) {
    aErr err = aLink_Init(entry->link.get(), entry->linkRef, stream);
    if (err != aErrNone) return err;
    sChangeUseCount(entry, +1);
    return aLink_Start(entry->link.get());
}

aErr sDestroyEntry(const aLinkEntryPtr& entry) {
    aLink* link = entry->link.get();
    std::lock_guard<std::recursive_mutex> lifecycle(link->lifecycle);
    {
        std::lock_guard<std::recursive_mutex> lock(link->filterMutex);
        link->userFilter = nullptr;
        link->userFilterRef = nullptr;
    }
    aLink_Stop(link);
    if (entry->server && entry->serverRelease) entry->serverRelease(entry->server);
    entry->server = nullptr;
    if (entry->linkedRef) {
        uint32 linked = entry->linkedRef;
        aLink_Destroy(&linked);
    }
    return aLink_Teardown(link);
}

uint32 aLink_CreateUSB(uint32 serialNumber) {
    std::lock_guard<std::recursive_mutex> creation(sCreationMutex());
    if (aLinkEntryPtr existing = sAddUserByKey(serialNumber, kLinkTypeUSB, 0)) {
        uint32 ref = existing->linkRef;
        /* A module served to others is reached through its server only. */
        if (existing->server) aLink_Destroy(&ref);
        return ref;
    }
    aLinkEntryPtr entry = sCreate(serialNumber, 0, 0, kLinkTypeUSB);
    if (!entry) return 0;
    aStream* stream = nullptr;
    if (aStream_CreateUSB(serialNumber, &stream) != aErrNone) return sAbandon(entry, stream);
    aLink* link = entry->link.get();
    link->wakeBySync = true;
    if (sInitAndStart(entry, stream) != aErrNone || aLink_Sync(link) != aErrNone ||
        aLink_ForceRoute(link, true) != aErrNone)
        return sAbandon(entry, nullptr);
    return entry->linkRef;
}

uint32 aLink_CreateTCPIP(uint32 address, uint16 port) {
    std::lock_guard<std::recursive_mutex> creation(sCreationMutex());
    if (uint32 shared = sShare(address, kLinkTypeTCPIP, port)) return shared;
    aLinkEntryPtr entry = sCreate(address, port, 0, kLinkTypeTCPIP);
    if (!entry) return 0;
    aStream* stream = nullptr;
    if (aStream_CreateSocket(address, port, &stream) != aErrNone) return sAbandon(entry, stream);
    if (sInitAndStart(entry, stream) != aErrNone) return sAbandon(entry, nullptr);
    return entry->linkRef;
}

uint32 aLink_CreateSerial(uint32 serialNumber, const char* portName, uint32 baudRate) {
    std::lock_guard<std::recursive_mutex> creation(sCreationMutex());
    if (uint32 shared = sShare(serialNumber, kLinkTypeSerial, 0)) return shared;
    uint32 baudIndex = 0;
    if (!portName || !sBaudIndex(baudRate, &baudIndex)) return 0;
    aLinkEntryPtr entry = sCreate(serialNumber, 0, 0, kLinkTypeSerial);
    if (!entry) return 0;
    aStream* stream = nullptr;
    if (aStream_CreateSerial(portName, baudIndex, false, false, false, &stream) != aErrNone)
        return sAbandon(entry, stream);
    if (sInitAndStart(entry, stream) != aErrNone) return sAbandon(entry, nullptr);
    return entry->linkRef;
}

uint32 aLink_Create(aStream* stream) {
    if (!stream) return 0;
    aLinkEntryPtr entry = sCreate(kStreamKey, 0, 0, kLinkTypeStream);
    if (!entry) {
        aStream_Destroy(&stream);
        return 0;
    }
    if (sInitAndStart(entry, stream) != aErrNone) return sAbandon(entry, nullptr);
    return entry->linkRef;
}

aErr aLink_Destroy(uint32* linkRef) {
    if (!linkRef) return aErrParam;
    bool found = false;
    aLinkEntryPtr last = sReleaseUser(*linkRef, &found);
    *linkRef = 0;
    if (!found) return aErrParam;
    return last ? sDestroyEntry(last) : aErrNone;
}

aErr aLink_Reset(uint32 linkRef) {
    aLinkEntryPtr entry = sLookupEntryByID(linkRef);
    if (!entry) return aErrParam;
    aLink* link = entry->link.get();
    std::lock_guard<std::recursive_mutex> lock(link->lifecycle);
    if (link->check != aLINK_CHECK) return aErrParam;
    aLink_Stop(link);
    uint64 inFifo = link->inFifo.exchange(0);
    uint64 outFifo = link->outFifo.exchange(0);
    aPacketFifo_Destroy(&inFifo);
    aPacketFifo_Destroy(&outFifo);
    {
        std::lock_guard<std::mutex> writing(link->writeMutex);
        if (link->stream) aStream_Destroy(&link->stream);
    }
    link->status = INVALID_LINK_STREAM;

    aStream* stream = nullptr;
    aErr err = aErrParam;
    for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
        if (attempt > 0) aTime_MSSleep(kReopenPauseMs);
        err = sOpenStream(*entry, &stream);
        if (err == aErrNone) break;
    }
    if (err != aErrNone) return err;
    err = aLink_Init(link, linkRef, stream);
    if (err != aErrNone) return err;
    return aLink_Start(link);
}
