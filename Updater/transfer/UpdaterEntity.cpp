// UpdaterEntity: the UPGRADE steps as request/reply exchanges on the module's link.
#include "UpdaterEntity.h"

#include <algorithm>

#include "SystemClass.h"
#include "UpdaterLog.h"
#include "aTime.h"

using Veltrano::Halvorine::Link;
using Veltrano::Halvorine::Module;
using Veltrano::Halvorine::SystemClass;

namespace {

constexpr uint32_t kFirm = DEBUG_Network_FIRM;
constexpr unsigned int kAddressBytes = 4;
constexpr unsigned int kReconnectAttempts = 5;
constexpr unsigned int kRebootPollMs = 250;
constexpr unsigned int kLinkDropPollMs = 5;
constexpr unsigned int kLoadReconnectDelayMs = 500;
constexpr unsigned char kUEIDataOption = UpdaterEntity::val_UPGRADE_DATA_UEI;
constexpr unsigned char kSetDirection = 0x80;
constexpr unsigned int kPooledPacketsFeature = 0x80000000u;
constexpr const char* kActivityLabel = "Verifying Update";

// A big-endian field of a reply; one the reply leaves out, even in part, reads as 0.
unsigned int sField(const unsigned char* data, unsigned char length, unsigned int offset,
                    unsigned int width) {
    if (offset + width > length) return 0;
    unsigned int value = 0;
    for (unsigned int i = 0; i < width; ++i)
        value = (value << 8) | data[offset + i];
    return value;
}

// The status byte of a reply, or fallback when the reply has none.
unsigned char sStatus(const unsigned char* data, unsigned char length, unsigned char fallback) {
    return length > 2 ? data[2] : fallback;
}

unsigned int sAddress(const unsigned char* payload) {
    return sField(payload, kAddressBytes, 0, kAddressBytes);
}

// Whether a reply of this length can answer the request. PREPARE, SUM and WRITE
// share their reply's first bytes: a reply longer than the request's full form,
// or as long as another one's full form, belongs to another request that was
// answered too late.
bool sReplyFits(unsigned char request, unsigned char length) {
    constexpr unsigned char kPrepareReply = 5, kSumReply = 7, kWriteReply = 3, kDataReply = 3;
    switch (request) {
    case UpdaterEntity::val_UPGRADE_PREPARE:
        return length <= kPrepareReply && length != kWriteReply;
    case UpdaterEntity::val_UPGRADE_SUM:
        return length <= kSumReply && length != kWriteReply && length != kPrepareReply;
    case UpdaterEntity::val_UPGRADE_WRITE:
        return length <= kWriteReply;
    case UpdaterEntity::val_UPGRADE_DATA:
        return length <= kDataReply;
    default:
        return true;
    }
}

uint32_t sByteSum(const unsigned char* data, unsigned int n) {
    uint32_t sum = 0;
    for (unsigned int i = 0; i < n; ++i)
        sum += data[i];
    return sum;
}

} // namespace

UpdaterEntity::UpdaterEntity(Module* module, unsigned char index, bool checkSums, bool skipLinkDropWait)
    : m_module(module), m_checkSums(checkSums), m_skipLinkDropWait(skipLinkDropWait) {
    init(module, cmdUPGRADE, index);
}

UpdaterEntity::~UpdaterEntity() = default;

aErr UpdaterEntity::sendStep(unsigned char replyStep, const unsigned char* request, unsigned char length) {
    if (Link* l = link()) {
        const unsigned char stale[2] = {cmdUPGRADE, replyStep};
        l->dropMatchingPackets(moduleAddress(), stale, sizeof stale);
    }
    return sendPacket(cmdUPGRADE, length, request);
}

aErr UpdaterEntity::awaitStep(unsigned char request, unsigned char replyStep, unsigned char* length,
                              unsigned char* data) {
    Link* l = link();
    if (!l) return aErrResource;
    const unsigned char match[2] = {cmdUPGRADE, replyStep};
    const uint32_t start = aTime_GetMSTicks();
    for (;;) {
        const uint32_t waited = aTime_GetMSTicks() - start;
        if (waited >= m_replyTimeoutMs) return aErrTimeout;
        *length = sizeof match;
        aErr err = l->receivePacket(moduleAddress(), match, length, data, m_replyTimeoutMs - waited);
        if (err != aErrNone || sReplyFits(request, *length)) return err;
        updaterLog(kFirm, "NETWORK: Dropped a stale reply of %d bytes while waiting for step %d.\n", *length,
                   request);
    }
}

aErr UpdaterEntity::checkPayload(const unsigned char* payload, unsigned int L) const {
    if (payload && L >= kAddressBytes) return aErrNone;
    updaterLog(0, "NETWORK: Block of %u bytes has no room for its address; not sent.\n", L);
    return aErrSize;
}

aErr UpdaterEntity::LoaderInit() {
    updaterLog(kFirm, "NETWORK: Loader Initialization {cmdUPGRADE, val_UPGRADE_INIT}\n");
    const unsigned char request[] = {val_UPGRADE_INIT};
    aErr err = sendStep(val_UPGRADE_INIT, request, sizeof request);
    if (err != aErrNone) {
        updaterLog(kFirm, "NETWORK: Error sending UPGRADE_INIT (%d)\n", err);
        return err;
    }
    unsigned char reply[aPACKET_MAX_DATA];
    unsigned char length = 0;
    err = awaitStep(val_UPGRADE_INIT, val_UPGRADE_INIT, &length, reply);
    if (err != aErrNone) return err;
    if (length < 6) return aErrPacket;
    unsigned int base = sField(reply, length, 2, 4);
    updaterLog(kFirm, "NETWORK: load base = %d [%08X]\n", static_cast<int>(base), base);
    return aErrNone;
}

aErr UpdaterEntity::LoaderStart() {
    updaterLog(kFirm, "NETWORK: Loader Start {cmdUPGRADE, val_UPGRADE_LOAD}\n");
    const unsigned char request[] = {val_UPGRADE_LOAD};
    aErr err = sendStep(val_UPGRADE_LOAD, request, sizeof request);
    if (err != aErrNone) {
        updaterLog(kFirm, "NETWORK: Error sending UPGRADE_LOAD (%d)\n", err);
        return err;
    }
    unsigned char reply[aPACKET_MAX_DATA];
    unsigned char length = 0;
    if (awaitStep(val_UPGRADE_LOAD, val_UPGRADE_LOAD, &length, reply) == aErrNone) {
        updaterLog(kFirm, "NETWORK: Loader validated start\n");
        return aErrNone;
    }
    // Usually the module has restarted into its loader and answers on the new link.
    err = Reconnect(kLoadReconnectDelayMs);
    if (err != aErrNone) {
        updaterLog(kFirm, "NETWORK: Invalid or reply when starting loader. [%d, %s]\n", err,
                   aError_GetErrorText(err));
        return aErrTimeout;
    }
    err = awaitStep(val_UPGRADE_LOAD, val_UPGRADE_LOAD, &length, reply);
    if (err == aErrNone) {
        updaterLog(kFirm, "NETWORK: Loader validated start (Reconnect)\n");
        return aErrNone;
    }
    updaterLog(kFirm, "NETWORK: Invalid or reply when starting loader (Reconnect). [%d, %s]\n", err,
               aError_GetErrorText(err));
    return aErrTimeout;
}

aErr UpdaterEntity::TransferPrepare(const unsigned char* payload, unsigned int L, unsigned char flags,
                                    unsigned short* blockSize) {
    if (!blockSize) return aErrParam;
    aErr err = checkPayload(payload, L);
    if (err != aErrNone) return err;
    updaterLog(kFirm, "NETWORK: TransferPrepare(..., %d, %02X, %d)\n", static_cast<int>(L), flags,
               *blockSize);
    updaterLog(kFirm,
               "NETWORK: TransferPrepare {cmdUPGRADE, val_UPGRADE_PREPARE, %02X, [%02X %02X %02X %02X]} \n",
               flags, payload[0], payload[1], payload[2], payload[3]);
    updaterLog(kFirm, "NETWORK: Address: %d\n", static_cast<int>(sAddress(payload)));
    const unsigned char request[] = {val_UPGRADE_PREPARE, flags,      payload[0],
                                     payload[1],          payload[2], payload[3]};
    err = sendStep(val_UPGRADE_STATUS, request, sizeof request);
    if (err != aErrNone) {
        updaterLog(kFirm, "NETWORK: Error sending UPGRADE_PREPARE (%d)\n", err);
        return err;
    }
    unsigned char reply[aPACKET_MAX_DATA];
    unsigned char length = 0;
    err = awaitStep(val_UPGRADE_PREPARE, val_UPGRADE_STATUS, &length, reply);
    if (err != aErrNone) return err;
    if (sStatus(reply, length, flags) != 0) {
        updaterLog(kFirm, "NETWORK: Invalid or error reply when initializing loader for firmware.\n");
        return aErrInvalidOption;
    }
    *blockSize = static_cast<unsigned short>(sField(reply, length, 3, 2));
    updaterLog(kFirm, "NETWORK: Loader validated firmware init [%d block size]\n", *blockSize);
    return aErrNone;
}

aErr UpdaterEntity::BlockTransfer(const unsigned char* data, unsigned int n, unsigned int* packetCount) {
    if (!packetCount || (n > 0 && !data)) return aErrParam;
    updaterLog(kFirm, "\nNETWORK: Block Transfer\n");
    uint32_t hostSum = 0;
    unsigned int sent = 0;
    aErr err = aErrNone;
    unsigned char reply[aPACKET_MAX_DATA];
    unsigned char length = 0;

    if (m_useUEIData) {
        updaterLog(kFirm, "\nNETWORK: Block Transfer {cmdUPGRADE, val_UPGRADE_DATA_UEI, %d} \n", n);
        err = setUEIBytes(kUEIDataOption, data, n);
        if (err != aErrNone) {
            updaterLog(kFirm, "\nNETWORK: Error sending UPGRADE_DATA_UEI (%d)\n", err);
            return err;
        }
        hostSum = sByteSum(data, n);
        sent = n;
        *packetCount = 1;
        updaterLog(kFirm, "\nNETWORK: accepted %d bytes \n", n);
    } else {
        unsigned int wrongCounts = 0;
        while (sent < n && err == aErrNone) {
            unsigned int chunk = std::min(n - sent, kDataChunk);
            updaterLog(kFirm, "\nNETWORK: Block Transfer {cmdUPGRADE, val_UPGRADE_DATA, %d} \n", chunk);
            unsigned char request[1 + kDataChunk];
            request[0] = val_UPGRADE_DATA;
            std::copy(data + sent, data + sent + chunk, request + 1);
            err = sendStep(val_UPGRADE_DATA, request, static_cast<unsigned char>(1 + chunk));
            if (err != aErrNone) {
                updaterLog(kFirm, "\nNETWORK: Error sending UPGRADE_DATA (%d)\n", err);
                return err;
            }
            if (awaitStep(val_UPGRADE_DATA, val_UPGRADE_DATA, &length, reply) != aErrNone) {
                updaterLog(kFirm, "\nNETWORK(DATA): No reply when initializing upgrade.\n");
                err = aErrPacket;
                break;
            }
            unsigned int count = sStatus(reply, length, 0);
            if (count == chunk) {
                hostSum += sByteSum(data + sent, chunk);
                ++*packetCount;
                sent += chunk;
                wrongCounts = 0;
                updaterLog(kFirm, "\nNETWORK: accepted %d more bytes (%d of %d remaining)\n", chunk, n - sent,
                           n);
                continue;
            }
            updaterLog(kFirm, "\nNETWORK: Invalid upgrade transfer response [%d != %d].\n", count, chunk);
            if (++wrongCounts >= kMaxDataResends) {
                updaterLog(0,
                           "\nNETWORK: DATA answered with a wrong count %u times in a row; block given up.\n",
                           wrongCounts);
                err = aErrInvalidOption;
            }
        }
    }
    updaterLog(kFirm, "\nNETWORK: transferred %d of %d bytes\n", sent, n);
    if (err != aErrNone || !m_checkSums) return err;

    updaterLog(kFirm, "\nNETWORK: Block Transfer Validation {cmdUPGRADE, val_UPGRADE_SUM}\n");
    const unsigned char request[] = {val_UPGRADE_SUM};
    sendStep(val_UPGRADE_STATUS, request, sizeof request); // a failed send shows as no reply
    if (awaitStep(val_UPGRADE_SUM, val_UPGRADE_STATUS, &length, reply) != aErrNone) {
        updaterLog(kFirm, "\nNETWORK(STATUS): No reply when initializing upgrade.\n");
        return aErrPacket;
    }
    unsigned char status = sStatus(reply, length, 0);
    uint32_t moduleSum = sField(reply, length, 3, 4);
    // A reply without its sum proves nothing, even for bytes that sum to 0.
    constexpr unsigned char kSumReplyBytes = 7;
    if (length < kSumReplyBytes || status != 0 || moduleSum != hostSum) {
        updaterLog(0, "\nNETWORK: Unable to validate transfer [%02X] [%08X != %08X].\n", status, hostSum,
                   moduleSum);
        return aErrInvalidOption;
    }
    updaterLog(kFirm, "\nNETWORK: Validate transfer [%02X] [%08X == %08X][%d blocks].\n", 0, hostSum,
               moduleSum, *packetCount);
    return aErrNone;
}

aErr UpdaterEntity::FirmwareWrite(unsigned short n) {
    updaterLog(kFirm, "NETWORK: Firmware Write {cmdUPGRADE, val_UPGRADE_WRITE, %d}\n\n", n);
    const unsigned char request[] = {val_UPGRADE_WRITE, static_cast<unsigned char>(n >> 8),
                                     static_cast<unsigned char>(n & 0xFF)};
    aErr err = sendStep(val_UPGRADE_STATUS, request, sizeof request);
    if (err != aErrNone) {
        updaterLog(kFirm, "NETWORK: Error sending UPGRADE_WRITE (%d, %s)\n", err, aError_GetErrorText(err));
        return err;
    }
    unsigned char reply[aPACKET_MAX_DATA];
    unsigned char length = 0;
    err = awaitStep(val_UPGRADE_WRITE, val_UPGRADE_STATUS, &length, reply);
    if (err != aErrNone || sStatus(reply, length, 0xFF) != 0) {
        updaterLog(kFirm, "NETWORK: invalid or error reply when loader writing firmware.\n\n");
        return aErrInvalidOption;
    }
    updaterLog(kFirm, "NETWORK: Loader validated write\n\n");
    return aErrNone;
}

aErr UpdaterEntity::FirmwareTransfer(const unsigned char* payload, unsigned int L, unsigned short blockSize,
                                     UpdaterDisplayInterface* display) {
    aErr err = checkPayload(payload, L);
    if (err != aErrNone) return err;
    updaterLog(kFirm, "NETWORK: Firmware Transfer (addr=%08X, len=%d)\n", sAddress(payload),
               L - kAddressBytes);
    const unsigned char* image = payload + kAddressBytes;
    unsigned int remaining = L - kAddressBytes;
    if (display) display->clearLine(true);
    if (remaining > 0 && blockSize == 0) {
        // Nothing could ever be sent: the transfer would make no progress.
        updaterLog(0, "NETWORK: The module granted a block size of 0.\n");
        err = aErrInvalidOption;
    }
    unsigned int packetCount = 0;
    while (remaining > 0 && err == aErrNone) {
        unsigned int n = std::min<unsigned int>(blockSize, remaining);
        err = BlockTransfer(image + (L - kAddressBytes - remaining), n, &packetCount);
        if (err != aErrNone) break;
        remaining -= n;
        if (display) display->showProgress(static_cast<double>(L - remaining) / L, nullptr);
        updaterLog(kFirm, "\nNETWORK: accepted %d more bytes (%d of %d remaining)\n", n, remaining, L);
        err = FirmwareWrite(static_cast<unsigned short>(n));
    }
    if (display) display->clearLine(false);
    updaterLog(kFirm, "NETWORK: transferred %d of %d bytes\n", L - remaining, L);
    if (err != aErrNone) updaterLog(0, "NETWORK: Failed to transfer firmware\n");
    return err;
}

aErr UpdaterEntity::LoaderTransfer(const unsigned char* payload, unsigned int L) {
    aErr err = checkPayload(payload, L);
    if (err != aErrNone) return err;
    updaterLog(kFirm, "NETWORK: Loader Transfer (addr=%08X, len=%d)\n", sAddress(payload), L - kAddressBytes);
    unsigned int packetCount = 0;
    return BlockTransfer(payload + kAddressBytes, L - kAddressBytes, &packetCount);
}

aErr UpdaterEntity::LoaderReboot(UpdaterDisplayInterface* display) {
    updaterLog(kFirm, "NETWORK: LoaderReboot {cmdUPGRADE, val_UPGRADE_REBOOT}\n");
    const unsigned char request[] = {val_UPGRADE_REBOOT};
    m_linkDroppedAtReboot = false;
    aErr err = sendPacket(cmdUPGRADE, sizeof request, request);
    if (err != aErrNone) {
        // A module that never got the request will not drop the link.
        updaterLog(kFirm, "NETWORK: Error sending Loader REBOOT\n");
        return err;
    }
    const uint32_t start = aTime_GetMSTicks();
    while (m_module && m_module->isConnected()) {
        if (aTime_GetMSTicks() - start >= m_rebootDropWaitMs) {
            updaterLog(
                0,
                "NETWORK: Link still up %u ms after the reboot request; no longer waiting for it to drop.\n",
                m_rebootDropWaitMs);
            break;
        }
        if (display) display->showActivity(true, kActivityLabel);
        updaterLog(kFirm, "Waiting for link to drop.\n");
        updaterLog(kFirm, "Rebooting Device\n");
        // One activity frame per pass, but the wait ends as soon as the link drops.
        const uint32_t pass = aTime_GetMSTicks();
        while (m_module->isConnected() && aTime_GetMSTicks() - pass < kRebootPollMs)
            aTime_MSSleep(kLinkDropPollMs);
        if (m_skipLinkDropWait) break;
    }
    if (display) display->showActivity(false, kActivityLabel);
    m_linkDroppedAtReboot = m_module && !m_module->isConnected();
    return err;
}

aErr UpdaterEntity::CheckUEIDataSupport() {
    if (!m_module) return aErrResource;
    aErr err = m_module->hasUEI(cmdUPGRADE, kUEIDataOption, 0, kSetDirection);
    updaterLog(kFirm, "NETWORK: CheckUEIDataSupport: Error: %d\n", err);
    if (err == aErrNone) m_useUEIData = true;
    return err;
}

aErr UpdaterEntity::CheckProtocolFeatures() {
    SystemClass system;
    system.init(m_module, 0);
    unsigned int features = 0;
    aErr err = system.getProtocolFeatures(&features);
    updaterLog(kFirm, "NETWORK: Protocol Version: %d Error: %d\n", static_cast<int>(features), err);
    if (err == aErrNone && (features & kPooledPacketsFeature)) {
        Link* l = m_module ? m_module->getLink() : nullptr;
        err = l ? l->enablePooledPackets(true) : aErrConnection;
    }
    return err;
}

aErr UpdaterEntity::Reconnect(unsigned int delayMs) {
    if (!m_module) return aErrResource;
    m_module->disconnect();
    aErr err = aErrConnection;
    for (unsigned int attempt = 1; attempt <= kReconnectAttempts; ++attempt) {
        updaterLog(DEBUG_Network, "NETWORK: Attempting to reconnect. Attempt: %d of %d\n", attempt,
                   kReconnectAttempts);
        err = m_module->reconnect();
        if (err == aErrNone) {
            updaterLog(DEBUG_Network, "NETWORK: Reconnected to device\n");
            return aErrNone;
        }
        updaterLog(DEBUG_Network, "NETWORK: Couldn't reconnect to device delaying: %d ms\n", delayMs);
        aTime_MSSleep(delayMs);
    }
    return err;
}
