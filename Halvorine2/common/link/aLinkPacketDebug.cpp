/* The link's packet debug log: a ring of what was sent and received. */
#include "aLinkInternal.h"

aErr aLink_PacketDebug_SetLogSize(uint32 linkRef, int32 size) {
    std::shared_ptr<aLink> link = sLookupLink(linkRef);
    if (!link || size > aLINK_PACKETLOG_MAX_SIZE) return aErrParam;
    std::lock_guard<std::mutex> lock(link->logMutex);
    if (link->packetLog) return aErrBusy;
    link->packetLogSize = size < 0 ? 0 : static_cast<uint32>(size);
    return aErrNone;
}

aErr aLink_PacketDebug_Enable(uint32 linkRef) {
    std::shared_ptr<aLink> link = sLookupLink(linkRef);
    if (!link) return aErrParam;
    std::lock_guard<std::mutex> lock(link->logMutex);
    if (!link->packetLog) {
        link->packetLog =
            aPacketLog_Create(link->packetLogSize ? link->packetLogSize : aLINK_PACKETLOG_DEFAULT_SIZE);
        if (!link->packetLog) return aErrResource;
    }
    link->packetLog->enabled = 1;
    link->logging = true;
    return aErrNone;
}

aErr aLink_PacketDebug_Disable(uint32 linkRef) {
    std::shared_ptr<aLink> link = sLookupLink(linkRef);
    if (!link) return aErrParam;
    std::lock_guard<std::mutex> lock(link->logMutex);
    if (!link->packetLog) return aErrNotReady;
    link->packetLog->enabled = 0;
    link->logging = false;
    return aErrNone;
}

aErr aLink_PacketDebug_Read(uint32 linkRef, uint32* type, uint32* length, uint8* buffer) {
    std::shared_ptr<aLink> link = sLookupLink(linkRef);
    if (!link) return aErrParam;
    std::lock_guard<std::mutex> lock(link->logMutex);
    if (!link->packetLog) return aErrNotReady;
    return aPacketLog_Get(link->packetLog, type, length, buffer);
}

aErr aLink_PacketDebug_Write(uint32 linkRef, uint8 type, uint32 length, const uint8* bytes) {
    std::shared_ptr<aLink> link = sLookupLink(linkRef);
    if (!link) return aErrParam;
    std::lock_guard<std::mutex> lock(link->logMutex);
    if (!link->packetLog) return aErrNotReady;
    return aPacketLog_Put(link->packetLog, type, length, bytes);
}
