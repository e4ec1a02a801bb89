/* Callers' side of a link: queuing packets, taking received ones, the user
 * filter and pooling. Callers touch only the FIFOs and a few flags. */
#include "aLinkInternal.h"
#include "aTime.h"

namespace {

uint64 sInFifo(uint32 linkRef) {
    std::shared_ptr<aLink> link = sLookupLink(linkRef);
    return link ? link->inFifo.load() : 0;
}

} // namespace

linkStatus aLink_GetStatus(uint32 linkRef) {
    std::shared_ptr<aLink> link = sLookupLink(linkRef);
    return link ? static_cast<linkStatus>(link->status.load()) : INVALID_LINK_STREAM;
}

aErr aLink_PutPacket(uint32 linkRef, const aPacket* packet) {
    std::shared_ptr<aLink> link = sLookupLink(linkRef);
    if (!link) return aErrParam;
    if (sWriteDirect(link.get(), packet)) return aErrNone;
    return aPacketFifo_Put(link->outFifo, packet);
}

aErr aLink_AwaitOutgoingRoom(uint32 linkRef, uint32 packets, uint32 timeoutMs) {
    constexpr uint32 kRoomPollMs = 1;
    std::shared_ptr<aLink> link = sLookupLink(linkRef);
    if (!link || packets > aPACKETFIFO_CAPACITY) return aErrParam;
    const uint32 start = aTime_GetMSTicks();
    while (aPacketFifo_GetLength(link->outFifo) + packets > aPACKETFIFO_CAPACITY) {
        if (!link->running) return aErrConnection;
        if (aTime_GetMSTicks() - start >= timeoutMs) return aErrTimeout;
        aTime_MSSleep(kRoomPollMs);
    }
    return aErrNone;
}

aPacket* aLink_GetPacket(uint32 linkRef) {
    return aPacketFifo_Get(sInFifo(linkRef));
}

aPacket* aLink_AwaitPacket(uint32 linkRef, uint32 timeoutMs) {
    return aPacketFifo_Await(sInFifo(linkRef), timeoutMs);
}

aPacket* aLink_GetFirst(uint32 linkRef, aPacketFilter filter, void* ref) {
    return aPacketFifo_GetFirst(sInFifo(linkRef), filter, ref);
}

aPacket* aLink_AwaitFirst(uint32 linkRef, aPacketFilter filter, void* ref, uint32 timeoutMs) {
    std::shared_ptr<aLink> link = sLookupLink(linkRef);
    if (!link) return nullptr;
    uint32 start = aTime_GetMSTicks();
    aPacket* packet = nullptr;
    while (!packet && link->running && link->status == RUNNING) {
        uint32 elapsed = aTime_GetMSTicks() - start;
        if (elapsed >= timeoutMs) break;
        packet = aPacketFifo_AwaitFirst(link->inFifo, filter, ref, timeoutMs - elapsed);
    }
    return packet;
}

uint32 aLink_DrainPackets(uint32 linkRef, aPacketFilter filter, void* ref) {
    return aPacketFifo_DrainPackets(sInFifo(linkRef), filter, ref);
}

aErr aLink_InstallUserPacketFilter(uint32 linkRef, aPacketFilter filter, void* ref) {
    std::shared_ptr<aLink> link = sLookupLink(linkRef);
    if (!link) return aErrParam;
    std::lock_guard<std::recursive_mutex> lock(link->filterMutex);
    link->userFilter = filter;
    link->userFilterRef = ref;
    return aErrNone;
}

aErr aLink_EnablePooledPackets(uint32 linkRef, bool enable) {
    std::shared_ptr<aLink> link = sLookupLink(linkRef);
    if (!link) return aErrParam;
    link->pooled = enable;
    return aErrNone;
}
