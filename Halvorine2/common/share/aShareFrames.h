/* The frames of link sharing, as pure functions: what a client sends the server,
 * what the server's sync task tells its broker, which requests the module answers,
 * and the collector that keeps one client's multi-packet set-bytes sequence together.
 * Nothing here touches a socket, so arbitrary frames can be fed to them.
 *
 * A packet frame is one packet in wire form: address, dataSize, data, exactly
 * dataSize + 2 bytes and at most 30. A command frame (sync task to broker only) is
 * three bytes: [0, 0, 0] the request got no answer, [1, hi, lo] the next hi * 256 + lo
 * frames are its replies. The sync task sends a command before the replies of every
 * request that awaits a reply and for no other, so a three-byte frame is a command
 * only where a command is due: a reply with one data byte is three bytes too. */
#ifndef HALVORINE_ASHAREFRAMES_H
#define HALVORINE_ASHAREFRAMES_H

#include <stddef.h>

#include "aPacket.h"

#ifdef __cplusplus
extern "C" {
#endif

#define aSHARE_COMMAND_SIZE 3
#define aSHARE_CMD_DROPPED_PACKET 0x00
#define aSHARE_CMD_INCOMING_PACKETS 0x01

/* True when the bytes are exactly one packet in wire form. */
bool aShare_IsPacketFrame(const uint8* bytes, size_t size);

/* The packet of a packet frame, or NULL (also when memory runs out). */
aPacket* aShare_PacketFromFrame(const uint8* bytes, size_t size);

typedef enum {
    aSHARE_FRAME_INVALID = 0, /* neither what was due nor anything else usable */
    aSHARE_FRAME_DROPPED,     /* the request got no answer */
    aSHARE_FRAME_INCOMING,    /* *count replies follow */
    aSHARE_FRAME_REPLY        /* a reply packet */
} aShareFrameKind;

/* Reads a frame from the sync task: a command when commandDue, else a reply. A
 * command announcing 0 replies is invalid. */
aShareFrameKind aShare_ClassifySyncFrame(const uint8* bytes, size_t size, bool commandDue, uint16* count);

/* Writes the command frame into frame (aSHARE_COMMAND_SIZE bytes). */
void aShare_EncodeCommand(uint8 command, uint16 count, uint8 frame[aSHARE_COMMAND_SIZE]);

/* True for a request the module answers and the sync task awaits: not a force-route
 * packet (address 0xAF), and not a set-bytes chunk that announces another (a UEI payload
 * of 27 or 28 data bytes whose last data byte has bit 7 set). The broker lists a client
 * as waiting exactly for these, so its list stays in step with the sync task. */
bool aShare_AwaitsReply(const aPacket* request);

/* True for a reply after which another reply of the same request follows (a bytes
 * chunk that announces another). */
bool aShare_ReplyContinues(const aPacket* reply);

/* True for the streaming enable request: 7 data bytes starting 0x5D, 0x81. */
bool aShare_IsStreamEnable(const aPacket* request);

/* True for a force-route request from a client (address 0xAF, one data byte), which
 * the server keeps from the module. */
bool aShare_IsClientForceRoute(const aPacket* request);

/* True when the server filter takes the packet for the stream batch. */
bool aShare_IsStreamed(const aPacket* packet);

/* True for a heartbeat-shaped packet (two data bytes, the first 0): a batch goes out. */
bool aShare_IsHeartbeat(const aPacket* packet);

/* The module's way of refusing the request (a UEI error reply with the code), in wire
 * form: address, size, data. */
#define aSHARE_ERROR_REPLY_SIZE 6
void aShare_ErrorReply(const aPacket* request, aErr code, uint8* wire);

/* ---- Set-bytes sequences of each client. ---- */

typedef struct aShareSequences aShareSequences;

#define aSHARE_SEQUENCE_TTL 2000
#define aSHARE_IDENTITY_MAX 255
/* The most packets a sequence may have: enough for the longest byte value (65 535
 * bytes, at 24 a chunk). All go to the sync task at once. */
#define aSHARE_SEQUENCE_MAX_PACKETS 2800

/* Empty collector, or NULL when memory runs out. */
aShareSequences* aShareSequences_Create(void);
/* Frees it and every pending sequence; clears *sequences. */
void aShareSequences_Destroy(aShareSequences** sequences);

typedef enum {
    aSHARE_SEQ_PASS = 0, /* not part of a sequence: goes on as a request of its own */
    aSHARE_SEQ_TAKEN,    /* kept (started, continued), or dropped out of turn */
    aSHARE_SEQ_COMPLETE, /* ended a sequence: the sink got every packet, in order */
    aSHARE_SEQ_TOO_LONG  /* ended a sequence that grew past its bound: none goes on */
} aShareSeqResult;

/* Called for each packet of a completed sequence, first to last. */
typedef void (*aShareSequenceSink)(const aPacket* packet, void* ref);

/* Offers a client's request. Only UEI payloads take part; each ages every other
 * client's pending sequence by one (a sequence already at 0 goes): a long sequence
 * does not age itself. A sequence starts with 28 data bytes
 * whose last byte has bit 7 set and number 0; a packet continues it when its command,
 * option and specifier are the first packet's and its number is the next, modulo 128.
 * Any other packet of that client ends its sequence, which is dropped: the packet then
 * starts a new sequence, passes (another target) or is dropped (a chunk out of turn). A
 * continuation that is a full chunk with bit 7 set waits for more; any other ends it.
 * A sequence that would grow past aSHARE_SEQUENCE_MAX_PACKETS takes its further packets
 * without keeping them and ends aSHARE_SEQ_TOO_LONG (its sink gets nothing). An
 * identity longer than aSHARE_IDENTITY_MAX bytes never has a sequence. */
aShareSeqResult aShareSequences_Offer(aShareSequences* sequences, const uint8* identity, size_t identitySize,
                                      const aPacket* packet, aShareSequenceSink sink, void* ref);

/* Drops the identity's pending sequence (a client that has gone). */
void aShareSequences_Forget(aShareSequences* sequences, const uint8* identity, size_t identitySize);

/* Pending sequences. */
uint32 aShareSequences_Count(const aShareSequences* sequences);

#ifdef __cplusplus
}
#endif

#endif
