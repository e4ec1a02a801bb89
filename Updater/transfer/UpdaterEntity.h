// UpdaterEntity: the host's side of a running module's firmware loader, reached
// through the module's UPGRADE command (0x5F) at entity index 0. Each member is
// one protocol step; the transfer driver (TransferDriver.h) strings them together.
//
// Wire form (multi-byte values big-endian; byte 0 of every packet is 0x5F, byte 1
// the step):
//   INIT     0x5F 0x00                 -> 0x5F 0x00 B3 B2 B1 B0 (load base)
//   DATA     0x5F 0x01 + 1..26 bytes   -> 0x5F 0x01 C (bytes accepted)
//   LOAD     0x5F 0x02                 -> 0x5F 0x02
//   PREPARE  0x5F 0x03 F A3 A2 A1 A0   -> 0x5F 0x07 S N1 N0 (status, block size)
//   SUM      0x5F 0x04                 -> 0x5F 0x07 S M3 M2 M1 M0 (status, byte sum)
//   WRITE    0x5F 0x05 N1 N0           -> 0x5F 0x07 S (status)
//   REBOOT   0x5F 0x06                 (no reply)
// Image data can instead go as one UEI byte-array value of option 10 per block.
//
// PREPARE, SUM and WRITE share their reply form, so a late reply to one could be
// taken for the next: every request first drops the UPGRADE replies still queued,
// and a reply whose length fits another step's is dropped while waiting.
// A field that a reply leaves out reads as 0, except PREPARE's status, which keeps
// the flags sent, and WRITE's, which reads as a failure.
//
// Every step logs under DEBUG_Network_FIRM; failures that end a transfer are also
// logged with mask 0. Not thread-safe: one transfer on one thread.
#ifndef UPDATER_UPDATERENTITY_H
#define UPDATER_UPDATERENTITY_H

#include "EntityClass.h"
#include "UpdaterDisplayInterface.h"

class UpdaterEntity : public Veltrano::Halvorine::EntityClass {
  public:
    static constexpr unsigned char cmdUPGRADE = 0x5F;
    enum Step : unsigned char {
        val_UPGRADE_INIT = 0,
        val_UPGRADE_DATA = 1,
        val_UPGRADE_LOAD = 2,
        val_UPGRADE_PREPARE = 3,
        val_UPGRADE_SUM = 4,
        val_UPGRADE_WRITE = 5,
        val_UPGRADE_REBOOT = 6,
        val_UPGRADE_STATUS = 7,
        val_UPGRADE_DATA_UEI = 10,
    };
    // Most image bytes in one DATA packet.
    static constexpr unsigned int kDataChunk = 26;
    // DATA packets answered with a wrong count in a row before a block is given up
    // (aErrInvalidOption): a module that never takes the chunk must not hold the
    // transfer forever.
    static constexpr unsigned int kMaxDataResends = 8;
    // Reply time-out of every step.
    static constexpr unsigned int kReplyTimeoutMs = 1000;
    // How long the reboot wait watches for the link to drop before it gives up.
    static constexpr unsigned int kRebootDropWaitMs = 30000;

    // The module is not owned and must stay connected while the entity is used.
    UpdaterEntity(Veltrano::Halvorine::Module* module, unsigned char index, bool checkSums,
                  bool skipLinkDropWait);
    ~UpdaterEntity() override;

    // INIT: aErrPacket for a reply shorter than 6 bytes; the load base is only logged.
    aErr LoaderInit();
    // LOAD. An unanswered LOAD reconnects (Reconnect(500)) and waits once more;
    // aErrTimeout when it stays unanswered.
    aErr LoaderStart();
    // PREPARE for the block whose payload (4 address bytes, then the image) is L
    // bytes long. On success *blockSize is the size the module accepts between
    // writes. A refused status is aErrInvalidOption; a missing reply aErrTimeout.
    aErr TransferPrepare(const unsigned char* payload, unsigned int L, unsigned char flags,
                         unsigned short* blockSize);
    // Sends n image bytes (DATA packets, or one UEI value) and, with checkSums,
    // checks the module's byte sum. *packetCount counts the packets accepted.
    aErr BlockTransfer(const unsigned char* data, unsigned int n, unsigned int* packetCount);
    // WRITE of n staged bytes; a missing or refused reply is aErrInvalidOption.
    aErr FirmwareWrite(unsigned short n);
    // One firmware block after its PREPARE: BlockTransfer and WRITE per blockSize
    // bytes, with the progress bar. A blockSize of 0 with image bytes to send is
    // aErrInvalidOption.
    //
    // Every step that takes a payload refuses one shorter than its 4 address bytes
    // with aErrSize before anything is sent.
    aErr FirmwareTransfer(const unsigned char* payload, unsigned int L, unsigned short blockSize,
                          UpdaterDisplayInterface* display);
    // One loader block: its image goes straight into loader memory (no WRITE).
    aErr LoaderTransfer(const unsigned char* payload, unsigned int L);
    // REBOOT, then waits (showing activity) until the link drops: one pass with
    // skipLinkDropWait, none after a failed send, at most kRebootDropWaitMs. A
    // link still up then is logged with mask 0 and is no error: the firmware is
    // written, and a module behind a router never drops it. The send's result.
    aErr LoaderReboot(UpdaterDisplayInterface* display);
    // Sets useUEIData when the module implements option 10 for setting.
    aErr CheckUEIDataSupport();
    // Switches the link to pooled packets when bit 31 of the module's protocol
    // feature word is set.
    aErr CheckProtocolFeatures();
    // Disconnects, then up to 5 reconnects with delayMs between them; the last error.
    aErr Reconnect(unsigned int delayMs);

    bool useUEIData() const { return m_useUEIData; }
    // Whether the link dropped after the last REBOOT request: a sign of the restart.
    bool linkDroppedAtReboot() const { return m_linkDroppedAtReboot; }

    // For tests and fuzzing: shorter waits than the module's timing needs. The
    // reply time-out covers the UPGRADE steps' own replies; the UEI exchanges
    // (option-10 data, the support and feature queries) keep the link's waits.
    void setReplyTimeoutMs(unsigned int ms) { m_replyTimeoutMs = ms; }
    void setRebootDropWaitMs(unsigned int ms) { m_rebootDropWaitMs = ms; }

  private:
    // Drops the queued replies of the kind the request will get, then sends the
    // request (step byte first).
    aErr sendStep(unsigned char replyStep, const unsigned char* request, unsigned char length);
    // The first reply [0x5F, replyStep, ...] to request within the reply time-out;
    // replies too long for it (late answers to other steps) are dropped. data holds
    // a whole packet (aPACKET_MAX_DATA bytes).
    aErr awaitStep(unsigned char request, unsigned char replyStep, unsigned char* length,
                   unsigned char* data);
    // Refuses (aErrSize) a payload too short to hold its address.
    aErr checkPayload(const unsigned char* payload, unsigned int L) const;

    Veltrano::Halvorine::Module* m_module; // not owned
    bool m_checkSums;
    bool m_skipLinkDropWait;
    bool m_useUEIData = false;
    bool m_linkDroppedAtReboot = false;
    unsigned int m_replyTimeoutMs = kReplyTimeoutMs;
    unsigned int m_rebootDropWaitMs = kRebootDropWaitMs;
};

#endif
