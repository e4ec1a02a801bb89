/* The link-sharing server: broker task, sync task, stream batching filter, beacon
 * answer, and aLink_CreateServer. */
#include "aServer_ZeroMQ.h"

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <list>
#include <mutex>
#include <new>
#include <vector>

#include "aBeacon.h"
#include "aCzmqSetup.h"
#include "aDiscovery.h"
#include "aDiscoveryWire.h"
#include "aLinkInternal.h"
#include "aShareExit.h"
#include "aShareFrames.h"
#include "aShareSubscriptions.h"
#include "aSharePair.h"
#include "aSharePoll.h"
#include "aShareQueue.h"
#include "aStream_ZeroMQClient.h"
#include "aTime.h"

namespace {

constexpr int kBrokerPollMs = 100;
constexpr int kSyncPollMs = 1000;
constexpr uint32 kReplyWaitMs = 2000;
/* A client that asks the same again this long after its first ask, which is still
 * unanswered, has given up on that one (a Link waits 1000 ms). Identical requests sent
 * together are each answered. */
constexpr uint32 kGivenUpMs = 500;
/* The sync task looks at its stop flag this often while it waits for a reply. */
constexpr uint32 kReplySliceMs = 50;
constexpr int kHandOverTries = 100;
constexpr int kClientSendTries = 10;
constexpr uint32 kQueueFrames = 1000;
/* Requests for the sync task: room for two of the longest sequences at once beside
 * ordinary requests, so that two programs loading firmware do not refuse each other. */
constexpr uint32 kToSyncFrames = 2 * aSHARE_SEQUENCE_MAX_PACKETS + kQueueFrames;
/* The most replies one answer may have. */
constexpr size_t kMaxReplies = 65535;
constexpr uint32 kBatchCapacity = 4096;
constexpr uint32 kBatchFlushAt = 4066;
/* Heartbeats carry batches out. Without them (none for kHeartbeatQuietMs) a batch goes
 * out kBatchFlushMs after its first sample, else a slow stream would wait for 4 KB;
 * with them, after kBatchMaxAgeMs at the latest (a module's heartbeats may be slow).
 * Flushing more often than the heartbeats costs the broker a send per subscriber
 * each time. */
constexpr uint32 kBatchFlushMs = 3;
constexpr uint32 kHeartbeatQuietMs = 200;
constexpr uint32 kBatchMaxAgeMs = 100;
constexpr int kBeaconIntervalMs = 100;
constexpr uint32 kBeaconAnswerMs = 2000;
constexpr int kBeaconTimeoutMs = 100;
constexpr uint32 kMaxInterfaces = 50;
constexpr int kInfoAttempts = 5;
constexpr uint32 kInfoPauseMs = 10;

} // namespace

struct aServer {
    uint32 linkRef = 0;
    uint32 serialNumber = 0;
    std::atomic<uint8> model{0};
    std::atomic<uint8> moduleAddress{0};
    bool loopbackOnly = true;
    uint32 interfaceAddress = aDISCOVERY_LOCALHOST;
    uint32 beaconHost = aDISCOVERY_LOCALHOST;
    zactor_t* broker = nullptr;
    zactor_t* syncTask = nullptr;
    zactor_t* beacon = nullptr; /* the broker's once started */
    uint16 port = 0;
    zsock_t* frontend = nullptr;
    aShareQueue* toSync = nullptr;   /* requests, broker to sync task */
    aShareQueue* fromSync = nullptr; /* commands and replies, sync task to broker */
    aShareQueue* streamed = nullptr; /* batches, the link's reader thread to broker */
    std::mutex batchMutex;           /* the reader thread fills the batch, the broker flushes it by time */
    uint8 streamBatch[kBatchCapacity];
    uint32 streamBatchLength = 0;
    uint32 batchStart = 0; /* tick of the batch's first sample */
    std::atomic<bool> batchPending{false};
    std::atomic<uint32> lastHeartbeat{0}; /* tick */
    std::atomic<bool> heartbeatSeen{false};
    std::atomic<uint64> droppedBatches{0};
    bool filterInstalled = false;
    std::atomic<bool> stopping{false};
};

namespace {

/* ---- Stream batching filter (the link's reader thread). ---- */

/* With the batch lock held. */
void sFlushBatch(aServer* server) {
    if (!server->streamBatchLength) return;
    if (aShareQueue_Put(server->streamed, server->streamBatch, server->streamBatchLength, 0) != aErrNone)
        server->droppedBatches++;
    server->streamBatchLength = 0;
    server->batchPending = false;
}

bool sServerFilter(const aPacket* packet, void* ref) {
    aServer* server = static_cast<aServer*>(ref);
    bool taken = false;
    std::lock_guard<std::mutex> lock(server->batchMutex);
    if (aShare_IsStreamed(packet) && server->streamBatchLength + packet->dataSize + 2u <= kBatchCapacity) {
        if (!server->streamBatchLength) {
            server->batchStart = aTime_GetMSTicks();
            server->batchPending = true;
            /* The broker may sleep a whole poll period: it must time this batch's flush. */
            aShareQueue_Wake(server->streamed);
        }
        std::memcpy(server->streamBatch + server->streamBatchLength, &packet->address, packet->dataSize + 2u);
        server->streamBatchLength += packet->dataSize + 2u;
        taken = true;
    }
    if (aShare_IsHeartbeat(packet)) {
        server->lastHeartbeat = aTime_GetMSTicks();
        server->heartbeatSeen = true;
    }
    if (aShare_IsHeartbeat(packet) || server->streamBatchLength >= kBatchFlushAt) sFlushBatch(server);
    return taken;
}

bool sHeartbeatsFlow(const aServer* server) {
    return server->heartbeatSeen && aTime_GetMSTicks() - server->lastHeartbeat < kHeartbeatQuietMs;
}

/* How long a batch may wait now. */
uint32 sBatchWaitMs(const aServer* server) {
    return sHeartbeatsFlow(server) ? kBatchMaxAgeMs : kBatchFlushMs;
}

/* The broker's side: a batch that has waited long enough goes out. */
void sFlushDueBatch(aServer* server) {
    if (!server->batchPending) return;
    std::lock_guard<std::mutex> lock(server->batchMutex);
    if (server->streamBatchLength && aTime_GetMSTicks() - server->batchStart >= sBatchWaitMs(server))
        sFlushBatch(server);
}

/* ---- Sync task: one request at a time to the module. ---- */

bool sAnyPacket(const aPacket*, void*) {
    return true;
}

/* Frames first..first+count-1 of an answer: its command, then its replies. */
void sAnswerFrames(const uint8* command, const std::deque<aPacketPtr>& replies, size_t first, size_t count,
                   std::vector<zframe_t*>& frames) {
    frames.clear();
    for (size_t i = first; i < first + count; ++i)
        frames.push_back(i == 0 ? zframe_new(command, aSHARE_COMMAND_SIZE)
                                : zframe_new(&replies[i - 1]->address, replies[i - 1]->dataSize + 2u));
}

/* Hands the command and its replies to the broker, which wakes once for a short answer.
 * None is ever dropped: the broker would keep the requester waiting and route every
 * later answer to the client before. The broker takes these frames before anything
 * else and never waits for this task, so room comes; an answer longer than the queue
 * goes in slices. */
void sHandOver(aServer* server, uint8 command, const std::deque<aPacketPtr>& replies) {
    uint8 encoded[aSHARE_COMMAND_SIZE];
    aShare_EncodeCommand(command, uint16(replies.size()), encoded);
    const size_t total = replies.size() + 1;
    std::vector<zframe_t*> frames;
    for (size_t first = 0; first < total && !server->stopping;) {
        const size_t count = std::min<size_t>(total - first, kQueueFrames);
        sAnswerFrames(encoded, replies, first, count, frames);
        if (aShareQueue_PutFrames(server->fromSync, frames.data(), count, kHandOverTries) == aErrNone)
            first += count;
    }
}

void sSendDropped(aServer* server) {
    sHandOver(server, aSHARE_CMD_DROPPED_PACKET, {});
}

aPacket* sAwaitReply(aServer* server) {
    for (uint32 waited = 0; waited < kReplyWaitMs && !server->stopping; waited += kReplySliceMs) {
        if (aPacket* reply = aLink_AwaitPacket(server->linkRef, kReplySliceMs)) return reply;
        if (aLink_GetStatus(server->linkRef) == INVALID_LINK_STREAM) aTime_MSSleep(kReplySliceMs);
    }
    return nullptr;
}

void sServeRequest(aServer* server, const aPacket* request) {
    const bool awaits = aShare_AwaitsReply(request);
    /* Whatever came in unasked (a resync's extra answers, a late reply) must not pass
     * for this request's reply. */
    if (awaits) aLink_DrainPackets(server->linkRef, sAnyPacket, nullptr);
    if (aLink_PutPacket(server->linkRef, request) != aErrNone) {
        if (awaits) sSendDropped(server);
        return;
    }
    if (!awaits) return;
    std::deque<aPacketPtr> replies;
    bool tooLong = false;
    while (aPacket* reply = sAwaitReply(server)) {
        const bool more = aShare_ReplyContinues(reply);
        if (replies.size() < kMaxReplies)
            replies.emplace_back(reply);
        else
            tooLong = true;
        if (tooLong) aPacket_Destroy(&reply);
        if (!more) break;
    }
    /* The answer's count is 16 bits: a longer one would shift every later reply. */
    if (tooLong) {
        replies.clear();
        uint8 refusal[aSHARE_ERROR_REPLY_SIZE];
        aShare_ErrorReply(request, aErrSize, refusal);
        if (aPacket* reply = aShare_PacketFromFrame(refusal, sizeof refusal)) replies.emplace_back(reply);
    }
    sHandOver(server, replies.empty() ? aSHARE_CMD_DROPPED_PACKET : aSHARE_CMD_INCOMING_PACKETS, replies);
}

void sSyncTask(zsock_t* pipe, void* args) {
    aServer* server = static_cast<aServer*>(args);
    zmq_pollitem_t items[] = {{zsock_resolve(pipe), 0, ZMQ_POLLIN, 0},
                              {nullptr, aShareQueue_Descriptor(server->toSync), ZMQ_POLLIN, 0}};
    zsock_signal(pipe, 0);
    for (;;) {
        const int ready = aSharePoll_Wait(items, 2, kSyncPollMs);
        if (ready == aSHARE_POLL_END) break;
        zframe_t* frame = ready == aSHARE_POLL_NONE ? nullptr : aShareQueue_Take(server->toSync);
        if (!frame) continue;
        aPacket* request = aShare_PacketFromFrame(zframe_data(frame), zframe_size(frame));
        zframe_destroy(&frame);
        if (!request) continue;
        sServeRequest(server, request);
        aPacket_Destroy(&request);
    }
}

/* ---- Broker task: clients, streamed batches, replies, beacons. ---- */

/* A request the sync task will answer: whose it is (NULL: the server's own), the
 * value it subscribes to (held once the module confirms it), and whether its
 * client has asked the same again since, having given up on this one. */
struct Requester {
    zframe_t* identity = nullptr;
    bool enabling = false;
    uint32 word = 0;
    uint8 request[aPACKET_MAX_WIRE] = {0};
    uint32 arrival = 0; /* tick */
    bool superseded = false;
};

struct Broker {
    aServer* server;
    aShareSequences* sequences;
    std::list<zframe_t*> subscribers;
    std::deque<Requester> waiting; /* one per request the sync task will answer */
    Requester current;             /* whose replies are coming */
    uint16 expectedReplies = 0;
    uint32 beaconTime = 0;
    bool beaconActive = false;
    aShareSubscriptions* holders = aShareSubscriptions_Create();

    ~Broker() {
        for (zframe_t* f : subscribers)
            zframe_destroy(&f);
        for (Requester& r : waiting)
            zframe_destroy(&r.identity);
        zframe_destroy(&current.identity);
        aShareSequences_Destroy(&sequences);
        aShareSubscriptions_Destroy(&holders);
    }
};

void sDropSubscriber(Broker* broker, zframe_t* identity) {
    for (auto it = broker->subscribers.begin(); it != broker->subscribers.end(); ++it) {
        if (zframe_eq(*it, identity)) {
            zframe_destroy(&*it);
            broker->subscribers.erase(it);
            return;
        }
    }
}

void sTurnOff(uint32 word, void* broker);

void sForgetClient(Broker* broker, zframe_t* identity) {
    aShareSequences_Forget(broker->sequences, zframe_data(identity), zframe_size(identity));
    aShareSubscriptions_Forget(broker->holders, zframe_data(identity), zframe_size(identity), sTurnOff,
                               broker);
    sDropSubscriber(broker, identity);
}

/* A client that is gone is refused by the ROUTER: it is forgotten. */
aErr sSendToClient(Broker* broker, zframe_t* identity, const uint8* bytes, size_t size) {
    aErr err = aSharePair_Send(broker->server->frontend, identity, bytes, size, kClientSendTries);
    if (err == aErrIO) sForgetClient(broker, identity);
    return err;
}

struct SequenceSend {
    std::vector<zframe_t*> frames;
    ~SequenceSend() {
        for (zframe_t*& frame : frames)
            zframe_destroy(&frame);
    }
};

bool sPassToSync(aServer* server, const aPacket* packet) {
    return aShareQueue_Put(server->toSync, &packet->address, packet->dataSize + 2u, kHandOverTries) ==
           aErrNone;
}

void sSequenceSink(const aPacket* packet, void* ref) {
    SequenceSend* send = static_cast<SequenceSend*>(ref);
    send->frames.push_back(zframe_new(&packet->address, packet->dataSize + 2u));
}

/* A sequence goes to the sync task whole or not at all: a part lost, or a last part
 * answered with nobody waiting for it, would shift every later reply. */
bool sPassSequence(aServer* server, SequenceSend* send) {
    aErr err =
        aShareQueue_PutFrames(server->toSync, send->frames.data(), send->frames.size(), kHandOverTries);
    send->frames.clear(); /* the queue took them, or freed them */
    return err == aErrNone;
}

/* The client hears that its request was refused, as from the module. */
void sRefuse(Broker* broker, zframe_t* identity, const aPacket* request, aErr code) {
    uint8 reply[aSHARE_ERROR_REPLY_SIZE];
    aShare_ErrorReply(request, code, reply);
    sSendToClient(broker, identity, reply, sizeof reply);
}

bool sGivenUp(const Requester& earlier, zframe_t* identity, const aPacket* request, uint32 now) {
    return earlier.identity && zframe_eq(earlier.identity, identity) &&
           std::memcmp(earlier.request, &request->address, request->dataSize + 2u) == 0 &&
           now - earlier.arrival >= kGivenUpMs;
}

/* A client asks the same again well after an earlier ask that is still unanswered: it
 * gave up on that one (its wait ended before the server's). The earlier one's reply,
 * late, would otherwise answer this one, and this one's the next, for ever one behind. */
void sSupersede(Broker* broker, zframe_t* identity, const aPacket* request, uint32 now) {
    if (sGivenUp(broker->current, identity, request, now)) broker->current.superseded = true;
    for (Requester& earlier : broker->waiting)
        if (sGivenUp(earlier, identity, request, now)) earlier.superseded = true;
}

/* identity NULL: a request of the server's own, whose replies go nowhere. */
void sAddWaiting(Broker* broker, zframe_t* identity, const aPacket* request) {
    Requester requester;
    requester.arrival = aTime_GetMSTicks();
    if (identity) sSupersede(broker, identity, request, requester.arrival);
    requester.identity = identity ? zframe_dup(identity) : nullptr;
    requester.enabling = identity && aShareSubscriptions_EnableWord(request, &requester.word);
    std::memcpy(requester.request, &request->address, request->dataSize + 2u);
    broker->waiting.push_back(requester);
}

/* The last holder of a value went without unsubscribing: the module stops sending it. */
void sTurnOff(uint32 word, void* ref) {
    Broker* broker = static_cast<Broker*>(ref);
    aPacket* request = aShareSubscriptions_DisableRequest(word);
    if (request && sPassToSync(broker->server, request)) sAddWaiting(broker, nullptr, request);
    aPacket_Destroy(&request);
}

void sSubscribe(Broker* broker, zframe_t* identity) {
    for (zframe_t* known : broker->subscribers)
        if (zframe_eq(known, identity)) return;
    if (zframe_t* copy = zframe_dup(identity)) broker->subscribers.push_back(copy);
}

void sHandleRequest(Broker* broker, zframe_t* identity, const aPacket* request) {
    uint32 word = 0;
    if (aShareSubscriptions_EnableWord(request, &word)) {
        aShareSubscriptions_Expect(broker->holders, zframe_data(identity), zframe_size(identity), word);
        sSubscribe(broker, identity);
    }
    uint8 confirmation[aSHARE_STREAM_CONFIRMATION_SIZE];
    bool confirmed = aShareSubscriptions_Offer(broker->holders, zframe_data(identity), zframe_size(identity),
                                               request, confirmation);
    if (!aShareSubscriptions_Holds(broker->holders, zframe_data(identity), zframe_size(identity)))
        sDropSubscriber(broker, identity);
    if (confirmed) {
        sSendToClient(broker, identity, confirmation, sizeof confirmation);
        return;
    }
    SequenceSend send;
    aShareSeqResult taken = aShareSequences_Offer(broker->sequences, zframe_data(identity),
                                                  zframe_size(identity), request, sSequenceSink, &send);
    if (taken == aSHARE_SEQ_TAKEN) return;
    if (taken == aSHARE_SEQ_TOO_LONG) {
        sRefuse(broker, identity, request, aErrSize);
        return;
    }
    if (taken == aSHARE_SEQ_COMPLETE) {
        if (!sPassSequence(broker->server, &send))
            sRefuse(broker, identity, request, aErrBusy);
        else if (aShare_AwaitsReply(request))
            sAddWaiting(broker, identity, request);
        return;
    }
    if (aShare_IsClientForceRoute(request)) return;
    if (sPassToSync(broker->server, request) && aShare_AwaitsReply(request))
        sAddWaiting(broker, identity, request);
}

void sFromFrontend(Broker* broker) {
    zmsg_t* message = zmsg_recv_nowait(broker->server->frontend);
    if (!message) return;
    zframe_t* identity = zmsg_first(message);
    zframe_t* content = zmsg_next(message);
    if (identity && content && zmsg_size(message) == 2) {
        aPacket* request = aShare_PacketFromFrame(zframe_data(content), zframe_size(content));
        if (request) sHandleRequest(broker, identity, request);
        aPacket_Destroy(&request);
    }
    zmsg_destroy(&message);
}

/* The module answered (reply not NULL) or did not answer the current requester's
 * enable: a client it did not confirm holds nothing, and gets no more batches, unless
 * it holds other values. Done before the client hears of it. A module that did not
 * answer may have taken the value all the same: it is turned off unless held. */
void sEnableAnswered(Broker* broker, const aPacket* reply) {
    Requester& current = broker->current;
    if (!current.identity || !current.enabling) return;
    current.enabling = false;
    const uint8* id = zframe_data(current.identity);
    const size_t size = zframe_size(current.identity);
    aShareSubscriptions_Answered(broker->holders, id, size, current.word,
                                 aShareSubscriptions_Confirms(reply));
    if (!aShareSubscriptions_Holds(broker->holders, id, size)) sDropSubscriber(broker, current.identity);
    if (!reply && !aShareSubscriptions_Held(broker->holders, current.word)) sTurnOff(current.word, broker);
}

/* A reply for the current requester. */
void sFromModule(Broker* broker, zframe_t* frame) {
    aPacket* reply = aShare_PacketFromFrame(zframe_data(frame), zframe_size(frame));
    sEnableAnswered(broker, reply);
    aPacket_Destroy(&reply);
    if (!broker->current.superseded)
        sSendToClient(broker, broker->current.identity, zframe_data(frame), zframe_size(frame));
}

void sFromSync(Broker* broker) {
    zframe_t* frame = aShareQueue_Take(broker->server->fromSync);
    if (!frame) return;
    uint16 count = 0;
    const bool commandDue = broker->expectedReplies == 0;
    switch (aShare_ClassifySyncFrame(zframe_data(frame), zframe_size(frame), commandDue, &count)) {
    case aSHARE_FRAME_INCOMING:
    case aSHARE_FRAME_DROPPED:
        zframe_destroy(&broker->current.identity);
        broker->current = Requester();
        if (!broker->waiting.empty()) {
            broker->current = broker->waiting.front();
            broker->waiting.pop_front();
        }
        broker->expectedReplies = count;
        if (count == 0) {
            sEnableAnswered(broker, nullptr);
            zframe_destroy(&broker->current.identity);
        }
        break;
    case aSHARE_FRAME_REPLY:
        if (broker->current.identity) sFromModule(broker, frame);
        if (--broker->expectedReplies == 0) zframe_destroy(&broker->current.identity);
        break;
    default:
        break;
    }
    zframe_destroy(&frame);
}

/* The samples of the batch the client holds, back to back. */
void sSamplesFor(const Broker* broker, zframe_t* identity, const uint8* batch, size_t size,
                 std::vector<uint8>& own) {
    own.clear();
    for (size_t at = 0; at + 2 <= size && at + 2 + batch[at + 1] <= size; at += 2 + batch[at + 1]) {
        if (batch[at + 1] < 3) continue;
        if (aShareSubscriptions_Wants(broker->holders, zframe_data(identity), zframe_size(identity),
                                      aShareSubscriptions_SampleWord(batch + at)))
            own.insert(own.end(), batch + at, batch + at + 2 + batch[at + 1]);
    }
}

/* Each subscriber gets only the samples of the values it holds. */
void sFromStream(Broker* broker) {
    zframe_t* batch = aShareQueue_Take(broker->server->streamed);
    if (!batch) return;
    std::list<zframe_t*> subscribers(broker->subscribers);
    std::vector<uint8> own;
    for (zframe_t* identity : subscribers) {
        /* sSendToClient may forget (and free) a gone subscriber: send from a copy. */
        zframe_t* copy = zframe_dup(identity);
        if (copy) sSamplesFor(broker, copy, zframe_data(batch), zframe_size(batch), own);
        if (copy && !own.empty() && sSendToClient(broker, copy, own.data(), own.size()) == aErrBusy)
            broker->server->droppedBatches++;
        zframe_destroy(&copy);
    }
    zframe_destroy(&batch);
}

void sAnswerBeacon(Broker* broker) {
    aServer* server = broker->server;
    zmsg_t* heard = zmsg_recv_nowait(server->beacon);
    if (!heard) return;
    char* sender = zmsg_popstr(heard);
    zframe_t* payload = zmsg_first(heard);
    in_addr from = {0};
    bool local = sender && inet_pton(AF_INET, sender, &from) == 1 && from.s_addr == server->beaconHost;
    bool discovery =
        payload && zframe_size(payload) >= aDISCOVERY_BEACON_PAYLOAD_SIZE &&
        std::memcmp(zframe_data(payload), aDISCOVERY_BEACON_PAYLOAD, aDISCOVERY_BEACON_PAYLOAD_SIZE) == 0;
    const uint8 model = server->model;
    /* A loopback-only server is not there for other hosts at all. */
    if (discovery && model != 0 && (local || !server->loopbackOnly)) {
        broker->beaconTime = aTime_GetMSTicks();
        if (!broker->beaconActive) {
            linkSpec answer;
            std::memset(&answer, 0, sizeof answer);
            answer.type = ASOLVAN;
            answer.serialNumber = server->serialNumber;
            answer.model = model;
            answer.ipAddress = server->beaconHost;
            answer.ipPort = server->port;
            zsock_send(server->beacon, "sbi", "PUBLISH", &answer, sizeof answer, kBeaconIntervalMs);
            broker->beaconActive = true;
        }
    }
    zstr_free(&sender);
    zmsg_destroy(&heard);
}

void sAgeBeacon(Broker* broker) {
    if (broker->beaconActive && aTime_GetMSTicks() - broker->beaconTime > kBeaconAnswerMs) {
        zstr_sendx(broker->server->beacon, "SILENCE", NULL);
        broker->beaconActive = false;
    }
}

enum { kBrokerPipe, kBrokerSync, kBrokerFrontend, kBrokerStream, kBrokerBeacon, kBrokerItems };

void sBrokerTask(zsock_t* pipe, void* args) {
    aServer* server = static_cast<aServer*>(args);
    Broker broker{server, aShareSequences_Create(), {}, {}, {}};
    zmq_pollitem_t items[kBrokerItems] = {
        {zsock_resolve(pipe), 0, ZMQ_POLLIN, 0},
        {nullptr, aShareQueue_Descriptor(server->fromSync), ZMQ_POLLIN, 0},
        {zsock_resolve(server->frontend), 0, ZMQ_POLLIN, 0},
        {nullptr, aShareQueue_Descriptor(server->streamed), ZMQ_POLLIN, 0},
        {server->beacon ? zsock_resolve(server->beacon) : nullptr, 0, ZMQ_POLLIN, 0}};
    const int polled = server->beacon ? kBrokerItems : kBrokerBeacon;
    zsock_signal(pipe, 0);
    while (broker.sequences && broker.holders) {
        const int ready =
            aSharePoll_Wait(items, polled, server->batchPending ? int(sBatchWaitMs(server)) : kBrokerPollMs);
        if (ready == aSHARE_POLL_END) break;
        sFlushDueBatch(server);
        /* Every ready source gets its turn each pass: a flood of requests starves
         * neither the module's answers, nor the batches, nor the beacon. */
        if (items[kBrokerSync].revents) sFromSync(&broker);
        if (items[kBrokerFrontend].revents) sFromFrontend(&broker);
        if (items[kBrokerStream].revents) sFromStream(&broker);
        if (polled > kBrokerBeacon && items[kBrokerBeacon].revents) sAnswerBeacon(&broker);
        if (server->beacon) sAgeBeacon(&broker);
    }
}

/* ---- Start. ---- */

/* The beacon's interface setting, and the interface served on. */
void sChooseInterface(aServer* server, char setting[22]) {
    uint32 interfaces[kMaxInterfaces];
    uint32 found = aDiscovery_GetIPv4Interfaces(interfaces, kMaxInterfaces);
    std::strcpy(setting, "127.0.0.1");
    if (server->loopbackOnly || found == 0) {
        server->beaconHost = aDISCOVERY_LOCALHOST;
        if (server->loopbackOnly) server->interfaceAddress = aDISCOVERY_LOCALHOST;
        return;
    }
    if (server->interfaceAddress == 0 || server->interfaceAddress == aDISCOVERY_LOCALHOST)
        server->interfaceAddress = interfaces[0];
    aDiscovery_ConvertIPv4Interface(server->interfaceAddress, setting, 22);
}

/* Our own beacon, given its interface as a copy of its own: czmq's reads the shared
 * interface setting again whenever a send fails, which a discovery may be changing. */
bool sStartBeacon(aServer* server) {
    char setting[22] = {0};
    sChooseInterface(server, setting);
    aCzmq_Setup();
    char* copy = strdup(setting);
    if (!copy) return false;
    server->beacon = zactor_new(aBeacon_Actor, copy);
    if (!server->beacon) {
        std::free(copy);
        return false;
    }
    char* host = nullptr;
    if (zsock_send(server->beacon, "si", "CONFIGURE", aDISCOVERY_BEACON_PORT) == 0) {
        zsock_set_rcvtimeo(server->beacon, 2000);
        host = zstr_recv(server->beacon);
    }
    in_addr address;
    bool configured = host && inet_pton(AF_INET, host, &address) == 1;
    zstr_free(&host);
    if (!configured) return false;
    if (!server->loopbackOnly) server->beaconHost = address.s_addr;
    zsock_send(server->beacon, "sb", "SUBSCRIBE", aDISCOVERY_BEACON_PAYLOAD,
               size_t(aDISCOVERY_BEACON_PAYLOAD_SIZE));
    zsock_set_rcvtimeo(server->beacon, kBeaconTimeoutMs);
    return true;
}

bool sBindFrontend(aServer* server) {
    server->frontend = zsock_new(ZMQ_ROUTER);
    if (!server->frontend) return false;
    zsock_set_linger(server->frontend, 0);
    /* A reply for a client that has gone fails instead of vanishing, so it is forgotten. */
    zsock_set_router_mandatory(server->frontend, 1);
    char text[22] = {0};
    aDiscovery_ConvertIPv4Interface(server->interfaceAddress, text, sizeof text);
    int port = server->loopbackOnly ? zsock_bind(server->frontend, "tcp://127.0.0.1:*")
                                    : zsock_bind(server->frontend, "tcp://%s:*", text);
    server->port = port > 0 ? uint16(port) : 0;
    return server->port != 0;
}

/* Ends the tasks and closes the sockets, at destruction or when the program ends. */
void sStopTasks(void* server) {
    aServer* s = static_cast<aServer*>(server);
    s->stopping = true;
    zactor_destroy(&s->syncTask);
    zactor_destroy(&s->broker);
    zactor_destroy(&s->beacon);
    zsock_destroy(&s->frontend);
}

void sRelease(void* server) {
    aServer* s = static_cast<aServer*>(server);
    aServer_Destroy(&s);
}

} // namespace

aServer* aServer_Create(uint32 linkRef, uint32 interfaceAddress, bool loopbackOnly) {
    aLinkEntryPtr entry = sLookupEntryByID(linkRef);
    if (!entry) return nullptr;
    aServer* server = new (std::nothrow) aServer;
    if (!server) return nullptr;
    server->linkRef = linkRef;
    server->serialNumber = entry->key;
    server->loopbackOnly = loopbackOnly;
    server->interfaceAddress = interfaceAddress ? interfaceAddress : aDISCOVERY_LOCALHOST;
    return server;
}

bool aServer_Start(aServer* server) {
    if (!server || server->port) return false;
    server->toSync = aShareQueue_Create(kToSyncFrames);
    server->fromSync = aShareQueue_Create(kQueueFrames);
    server->streamed = aShareQueue_Create(kQueueFrames);
    if (!server->toSync || !server->fromSync || !server->streamed) return false;
    /* Without a beacon (UDP 8585 held by another program, no usable interface) the
     * server still serves: clients that know its port reach it. */
    if (!sStartBeacon(server)) zactor_destroy(&server->beacon);
    if (!sBindFrontend(server) || !aShareExit_Add(server, sStopTasks)) return false;
    server->broker = zactor_new(sBrokerTask, server);
    server->syncTask = zactor_new(sSyncTask, server);
    if (!server->broker || !server->syncTask) return false;
    if (aLink_InstallUserPacketFilter(server->linkRef, sServerFilter, server) != aErrNone) return false;
    server->filterInstalled = true;
    aLink_DrainPackets(server->linkRef, sAnyPacket, nullptr);
    return true;
}

uint16 aServer_GetPort(const aServer* server) {
    return server ? server->port : 0;
}

uint32 aServer_GetInterface(const aServer* server) {
    return server ? server->interfaceAddress : 0;
}

uint64 aServer_GetDroppedBatches(const aServer* server) {
    return server ? server->droppedBatches.load() : 0;
}

void aServer_SetModule(aServer* server, uint8 model, uint8 moduleAddress) {
    if (!server) return;
    server->moduleAddress = moduleAddress;
    server->model = model;
}

void aServer_Destroy(aServer** server) {
    if (!server || !*server) return;
    aServer* s = *server;
    *server = nullptr;
    if (s->filterInstalled) aLink_InstallUserPacketFilter(s->linkRef, nullptr, nullptr);
    aShareExit_Remove(s);
    sStopTasks(s);
    aShareQueue_Destroy(&s->toSync);
    aShareQueue_Destroy(&s->fromSync);
    aShareQueue_Destroy(&s->streamed);
    delete s;
}

namespace {

/* The module's address and model, asked through the client link as any client would. */
bool sLearnModule(aServer* server, uint32 clientRef) {
    std::shared_ptr<aLink> client = sLookupLink(clientRef);
    if (!client) return false;
    for (int attempt = 0; attempt < kInfoAttempts; ++attempt) {
        if (attempt > 0) aTime_MSSleep(kInfoPauseMs);
        uint8 address = 0, model = 0;
        if (aLink_GetModuleAddress(client.get(), &address) == aErrNone &&
            aLink_GetModel(client.get(), address, &model) == aErrNone) {
            aServer_SetModule(server, model, address);
            return true;
        }
    }
    return false;
}

/* A client link to the server that holds the caller's user of the USB link and
 * releases it when it goes. 0, with that user released, when it cannot be made. */
uint32 sClientHolding(const aServer* server, uint32 usbRef) {
    uint32 clientRef = aLink_CreateClient(aServer_GetInterface(server), aServer_GetPort(server), 0);
    aLinkEntryPtr client = sLookupEntryByID(clientRef);
    if (!client) {
        aLink_Destroy(&usbRef);
        return 0;
    }
    client->linkedRef = usbRef;
    return clientRef;
}

uint32 sServe(uint32 usbRef, uint16* port, uint32* address, bool loopbackOnly) {
    aLinkEntryPtr usb = sLookupEntryByID(usbRef);
    aServer* server = aServer_Create(usbRef, *address, loopbackOnly);
    if (!usb || !server || !aServer_Start(server)) {
        aServer_Destroy(&server);
        aLink_Destroy(&usbRef);
        return 0;
    }
    usb->server = server;
    usb->serverRelease = sRelease;
    uint32 clientRef = sClientHolding(server, usbRef);
    if (!clientRef) return 0;
    if (!sLearnModule(server, clientRef)) {
        aLink_Destroy(&clientRef);
        return 0;
    }
    *port = aServer_GetPort(server);
    *address = aServer_GetInterface(server);
    return clientRef;
}

} // namespace

uint32 aLink_CreateServer(uint32 serialNumber, uint16* port, uint32* address, bool loopbackOnly) {
    if (!port || !address) return 0;
    std::lock_guard<std::recursive_mutex> creation(sCreationMutex());
    /* A link this process holds already has its users: a server would take their
     * replies and replace their filter. */
    if (sLookupEntryByKey(serialNumber, kLinkTypeUSB, 0)) return 0;
    uint32 usbRef = aLink_CreateUSB(serialNumber);
    if (!usbRef) return 0;
    return sServe(usbRef, port, address, loopbackOnly);
}

uint32 aLink_JoinUSB(uint32 serialNumber, uint16* port, uint32* address) {
    if (!port || !address) return 0;
    std::lock_guard<std::recursive_mutex> creation(sCreationMutex());
    /* The user taken here keeps the USB link, and the server on it, for the link
     * answered: a direct link's own user, or the one a client link releases with it. */
    aLinkEntryPtr usb = sAddUserByKey(serialNumber, kLinkTypeUSB, 0);
    if (!usb) return 0;
    uint32 usbRef = usb->linkRef;
    const aServer* server = static_cast<const aServer*>(usb->server);
    if (!server) {
        *port = 0;
        return usbRef;
    }
    uint32 clientRef = sClientHolding(server, usbRef);
    if (!clientRef) return 0;
    *port = aServer_GetPort(server);
    *address = aServer_GetInterface(server);
    return clientRef;
}

bool aLink_GetServer(uint32 serialNumber, uint16* port, uint32* address) {
    if (!port || !address) return false;
    std::lock_guard<std::recursive_mutex> creation(sCreationMutex());
    aLinkEntryPtr usb = sAddUserByKey(serialNumber, kLinkTypeUSB, 0);
    if (!usb) return false;
    uint32 usbRef = usb->linkRef;
    const aServer* server = static_cast<const aServer*>(usb->server);
    if (server) {
        *port = aServer_GetPort(server);
        *address = aServer_GetInterface(server);
    }
    aLink_Destroy(&usbRef);
    return server != nullptr;
}
