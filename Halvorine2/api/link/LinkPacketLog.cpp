// Link: the packet log file, written by a background logger from the engine
// link's packet debug ring.
#include "LinkState.h"
#include "aTime.h"

namespace Veltrano::Halvorine {

namespace {

constexpr uint32 kLogEntryMax = 64;
constexpr uint32 kIdleMs = 5;
constexpr uint8 kDirectionSent = 1;
constexpr uint8 kDirectionText = 3;
const uint8 kStartEntry[] = "START";

// Writes one entry of the ring as a line. Any other answer than an entry (an
// empty ring, a reset link's missing ring, a released reference, an entry too
// large for the buffer) waits a little: the logger calls this in a loop.
void sWriteLogLine(aFile* file, uint32 ref) {
    uint32 type = 0;
    uint32 length = kLogEntryMax;
    uint8 entry[kLogEntryMax];
    if (aLink_PacketDebug_Read(ref, &type, &length, entry) != aErrNone) {
        aTime_MSSleep(kIdleMs);
        return;
    }
    aFile_Printf(file, "%u %s ", length, type == kDirectionSent ? ">" : "<");
    for (uint32 i = 0; i < length; ++i) {
        if (type != kDirectionText)
            aFile_Printf(file, "0x%X ", entry[i]);
        else if (entry[i] != '\0')
            aFile_Printf(file, "%c", entry[i]);
    }
    aFile_Printf(file, "\r\n");
}

} // namespace

aErr Link::enablePacketLog(const char* path) {
    uint32 ref = state_->ref;
    if (!ref) return aErrConfiguration;
    aErr err = aLink_PacketDebug_Enable(ref);
    if (err != aErrNone) return err;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        // A disconnect meanwhile took the reference and any logger with it.
        if (state_->ref != ref) return aErrConfiguration;
        if (!state_->logger) state_->logger = aLogger_Create(ref, sWriteLogLine, path);
        if (!state_->logger) return aErrIO;
        err = aLogger_Enable(state_->logger);
    }
    if (err != aErrNone) return err;
    return aLink_PacketDebug_Write(ref, kDirectionText, sizeof kStartEntry, kStartEntry);
}

aErr Link::disablePacketLog() {
    uint32 ref = state_->ref;
    if (!ref) return aErrConfiguration;
    aLink_PacketDebug_Disable(ref);
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->logger ? aLogger_Disable(state_->logger) : aErrNone;
}

} // namespace Veltrano::Halvorine
