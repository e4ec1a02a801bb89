/* The link engine's own records and operations, shared by its source files (and
 * by link sharing, which runs a server on a link). Not part of the public API. */
#ifndef HALVORINE_ALINKINTERNAL_H
#define HALVORINE_ALINKINTERNAL_H

#include <atomic>
#include <memory>
#include <mutex>

#include "aLink.h"
#include "aLinkFramer.h"
#include "aLinkThread.h"
#include "aPacketLog.h"

#define aLINK_CHECK 0xCEED

/* What a registry entry reaches: 0 a caller's stream, else the link types. */
enum { kLinkTypeStream = 0, kLinkTypeUSB = 1, kLinkTypeTCPIP = 2, kLinkTypeSerial = 3, kLinkTypeClient = 4 };

struct aLink {
    uint32 check = 0;
    uint32 linkRef = 0;
    std::atomic<bool> running{false}; /* the link runs; the writer drains and ends when it drops */
    std::atomic<bool> reading{false}; /* the reader runs; dropped first at a stop */
    std::atomic<int> status{INVALID_LINK_STREAM};
    std::atomic<uint64> inFifo{0};
    std::atomic<uint64> outFifo{0};
    aLinkThread inThread, outThread;
    std::atomic<bool> inReady{false}, outReady{false};
    aStream* stream = nullptr; /* used by the two threads only while they run */
    std::atomic<int> heartbeatState{0};
    aLinkFramer framer;     /* the receive packet and the sync machine: reader thread only */
    uint32 lastBurstMs = 0; /* reader thread only */
    bool burstSent = false; /* reader thread only */
    /* The stream's reads wait long for bytes (a USB transfer, about a second): a stop or
     * a resync wakes the reader with a sync the module answers at once. */
    bool wakeBySync = false;
    /* The stream's interruption ends only its waits for input, never a write: a stop
     * interrupts it so the reader ends at once, and the stream is not used again. */
    bool interruptAtStop = false;

    std::mutex logMutex; /* guards the three fields below */
    aPacketLog* packetLog = nullptr;
    uint32 packetLogSize = 0;         /* 0: the default */
    std::atomic<bool> logging{false}; /* a ring exists and records: lets the threads skip the lock */

    std::recursive_mutex filterMutex; /* held around every filter call */
    aPacketFilter userFilter = nullptr;
    void* userFilterRef = nullptr;

    std::atomic<bool> pooled{false};

    /* Held around every stream write, so a caller may hand an unpooled packet to
     * the stream itself, with a write that never waits, when nothing is queued ahead
     * of it (one thread hand-over less per request). writerHolding is set, under the
     * outFifo's lock, the moment the writer takes packets out, and cleared when it
     * has written them. */
    std::mutex writeMutex;
    std::atomic<bool> writerHolding{false};
    /* What such a write could not hand over: the writer sends it before anything
     * else. Guarded by writeMutex. */
    uint8 tail[aPACKET_MAX_WIRE];
    uint32 tailCount = 0;

    /* Serialises start, stop, reset and teardown of this link. */
    std::recursive_mutex lifecycle;

    ~aLink();
};

/* Releases what the link-sharing server on a link holds; set by whoever starts one. */
typedef void (*aLinkServerRelease)(void* server);

struct aLinkEntry {
    uint32 linkRef = 0;
    uint32 linkedRef = 0; /* another link destroyed with this one, or 0 */
    /* Set once, under the creation mutex, while the entry is registered; read by
     * holders of a user of the entry (or under the creation mutex). */
    void* server = nullptr;
    aLinkServerRelease serverRelease = nullptr;
    uint32 key = 0; /* serial number, IPv4 address (network order) or 0xFFFFFFFF */
    uint16 port = 0;
    uint32 instance = 0;
    int type = kLinkTypeStream;
    int16 useCount = 0;
    std::shared_ptr<aLink> link;
};
typedef std::shared_ptr<aLinkEntry> aLinkEntryPtr;

/* Registry. Each call holds the registry lock only for its own walk. */
aLinkEntryPtr sCreate(uint32 key, uint16 port, uint32 instance, int type);
aLinkEntryPtr sLookupEntryByID(uint32 linkRef);
/* First entry from the newest of this type and key (and port, for TCP/IP). */
aLinkEntryPtr sLookupEntryByKey(uint32 key, int type, uint16 port);
aLinkEntryPtr sLookupClientEntry(uint32 key, uint16 port, uint32 instance);
/* Like sLookupEntryByKey, adding a user in the same walk: an entry answered is one no
 * other thread can tear down until that user is released (aLink_Destroy). */
aLinkEntryPtr sAddUserByKey(uint32 key, int type, uint16 port);
void sChangeUseCount(const aLinkEntryPtr& entry, int delta);
/* Drops one user; when none remain the entry leaves the registry and is
 * answered for teardown. NULL when users remain. found tells whether the
 * reference was registered at all. */
aLinkEntryPtr sReleaseUser(uint32 linkRef, bool* found);
void sExtractEntry(const aLinkEntryPtr& entry);
/* The link of a registered reference, or NULL. */
std::shared_ptr<aLink> sLookupLink(uint32 linkRef);
/* Serialises lookup-or-create of the creation functions. */
std::recursive_mutex& sCreationMutex();

/* Link operations. */
aErr aLink_Init(aLink* link, uint32 linkRef, aStream* stream);
aErr aLink_Start(aLink* link);
aErr aLink_Stop(aLink* link);
aErr aLink_Sync(aLink* link);
aErr aLink_ForceRoute(aLink* link, bool on);
aErr aLink_GetModuleAddress(aLink* link, uint8* address);
aErr aLink_GetModel(aLink* link, uint8 moduleAddress, uint8* model);
/* Stops the link and releases its FIFOs, stream, log and filter (the record
 * itself goes with the last holder). Answers the outFifo's destruction. */
aErr aLink_Teardown(aLink* link);

/* Last-user teardown of an entry already out of the registry: the server on it,
 * the link, and the linked link. */
aErr sDestroyEntry(const aLinkEntryPtr& entry);

/* Initialises a new entry's link over the stream, adds its user and starts it. */
aErr sInitAndStart(const aLinkEntryPtr& entry, aStream* stream);
/* A creation step failed: the entry is taken out and destroyed; the stream too
 * when the link never took it. Answers 0, the failed creation's reference. */
uint32 sAbandon(const aLinkEntryPtr& entry, aStream* stream);

/* Thread bodies. */
void sInPipeProcess(aLink* link);
void sOutPipeProcess(aLink* link);

/* Hands the packet to the stream on the caller's thread, with a write that never
 * waits, when nothing is queued or being written ahead of it; false when it must be
 * queued for the writer instead. */
bool sWriteDirect(aLink* link, const aPacket* packet);

/* Queues a packet built from bytes on the link's outFifo. */
aErr sQueue(aLink* link, uint8 address, uint8 length, const uint8* data);
/* Adds a log entry when recording. */
void sLogPacket(aLink* link, uint8 type, const aPacket* packet);

#endif
