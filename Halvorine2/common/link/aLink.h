/* Links: live packet connections to modules.
 *
 * A link owns a byte stream, a reader thread that turns the module's bytes into
 * packets, a writer thread that sends queued packets, and two packet FIFOs
 * between those threads and the callers. Links are named by a positive 32-bit
 * reference from a process-wide registry; 0 means failure or no link. Creating
 * a link to a module that already has one adds a user to it and answers the
 * same reference; aLink_Destroy drops one user and the last one tears it down.
 *
 * The reader thread keeps the byte stream in step: an impossible address, size
 * or length makes it send six sync packets [0xAD, 0] (one burst per 100 ms at
 * most) and discard bytes until the module's answers [A, 0, A, 0] come back. The
 * reader answers the module's heartbeats [A, 2, 0, s] with [A, 2, 0, s + 2]
 * itself; they never reach the callers. A connection that the stream renews by
 * itself (a TCP module that rebooted) gets force route on first.
 *
 * Any thread may call any function. Packets handed in are copied; packets
 * handed out are the caller's to free with aPacket_Destroy.
 */
#ifndef HALVORINE_ALINK_H
#define HALVORINE_ALINK_H

#include "aPacketFifo.h"
#include "aStream.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    STOPPED = 0,             /* made or stopped; no threads */
    INITIALIZING = 1,        /* threads starting */
    RUNNING = 2,             /* threads running, stream in step */
    STOPPING = 3,            /* being stopped */
    SYNCING = 4,             /* resynchronising with the module */
    INVALID_LINK_STREAM = 5, /* no stream, or no such reference */
    IO_ERROR = 6,            /* a stream read failed; lasts until a resynchronisation completes, also
                                once a TCP stream has connected again by itself */
    UNKNOWN_ERROR = 8        /* a received packet could not be queued */
} linkStatus;

/* Creation: each answers the new or shared reference, or 0 (nothing is left
 * behind by a failure). A successful call adds one user. */

/* USB module with this serial number; the stream is synchronised before the
 * answer (a module that never answers the sync packets fails after ~2 s). */
uint32 aLink_CreateUSB(uint32 serialNumber);
/* TCP/IP module; address in network byte order. Not synchronised at creation. */
uint32 aLink_CreateTCPIP(uint32 address, uint16 port);
/* Module on a serial port (a device path, or a name under /dev), 8N1. baudRate
 * is one of 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400. */
uint32 aLink_CreateSerial(uint32 serialNumber, const char* portName, uint32 baudRate);
/* Link over the caller's stream, which the link takes over (also on failure).
 * Every call makes a new link. Each of the stream's operations must return within
 * a bound of its own: a stop ends the threads by flags and by aStream_Interrupt,
 * never by cancelling them, and waits for the operation in progress. */
uint32 aLink_Create(aStream* stream);

/* Drops one user; the last one stops the threads and frees everything: the reader
 * first, then the writer sends what is still queued with force route off last (for
 * up to a second; then the stream's waits are ended and what cannot go at once is
 * dropped). A serial port then still lets what it holds go out at its rate (at 9600
 * baud a full 4 KiB output queue takes over 4 s). Always clears *linkRef. aErrParam
 * for an unregistered reference. */
aErr aLink_Destroy(uint32* linkRef);

/* Stops the link, opens a fresh stream to the same place (USB and TCP/IP links;
 * 20 attempts, 100 ms apart) and starts it again. The reference and its users
 * stay; the user filter, pooling and packet log do not, nor do queued packets.
 * aErrParam for an unregistered reference. When no stream opens within the 20
 * attempts the link is left stopped without a stream (INVALID_LINK_STREAM, until
 * its users destroy it) and the last opening's failure is answered: aErrParam for
 * serial links and links over a caller's stream, which are never reopened, else
 * what aStream_CreateUSB or aStream_CreateSocket answered (aErrNotFound, aErrBusy,
 * aErrResource...). */
aErr aLink_Reset(uint32 linkRef);

/* INVALID_LINK_STREAM for an unregistered reference. */
linkStatus aLink_GetStatus(uint32 linkRef);

/* Queues a copy for sending; never waits for the transport. When nothing is queued
 * ahead of it, an unpooled packet may go to the stream at once on the caller's
 * thread, with a write that cannot wait (aStream_TryWrite); otherwise the writer
 * thread sends it, in order. aErrParam for an unregistered reference. */
aErr aLink_PutPacket(uint32 linkRef, const aPacket* packet);
/* Waits up to timeoutMs until the outgoing queue has room for `packets` more
 * (a long series of puts that would overflow it, discarding it whole, waits here
 * instead). aErrNone when there is room, aErrTimeout when the writer does not
 * make it in time, aErrConnection when the link stops running, aErrParam for an
 * unregistered reference or more packets than the queue ever holds. */
aErr aLink_AwaitOutgoingRoom(uint32 linkRef, uint32 packets, uint32 timeoutMs);
/* Next received packet, or NULL at once. */
aPacket* aLink_GetPacket(uint32 linkRef);
/* Next received packet, waiting up to timeoutMs. */
aPacket* aLink_AwaitPacket(uint32 linkRef, uint32 timeoutMs);
/* First received packet the filter accepts, or NULL at once. */
aPacket* aLink_GetFirst(uint32 linkRef, aPacketFilter filter, void* ref);
/* First received packet the filter accepts, waiting up to timeoutMs while the
 * link is running and in step; NULL at once when it is not. */
aPacket* aLink_AwaitFirst(uint32 linkRef, aPacketFilter filter, void* ref, uint32 timeoutMs);
/* Removes and frees the received packets the filter accepts; answers how many. */
uint32 aLink_DrainPackets(uint32 linkRef, aPacketFilter filter, void* ref);

/* Installs (NULL: removes) a filter that sees every complete received packet on
 * the reader thread before anything else; answering true takes the packet (the
 * packet is reused afterwards: keep a copy). When this returns, the previous
 * filter is not running. The filter must be quick: no byte is read meanwhile.
 * aErrParam for an unregistered reference. */
aErr aLink_InstallUserPacketFilter(uint32 linkRef, aPacketFilter filter, void* ref);

/* Batches queued packets into one stream write of up to 4096 bytes.
 * aErrParam for an unregistered reference. */
aErr aLink_EnablePooledPackets(uint32 linkRef, bool enable);

/* Packet debug log: a ring of entries (type 1 sent, 2 received, 3 text; length;
 * bytes). Only the first packet of a pooled batch is recorded. */
#define aLINK_PACKETLOG_DEFAULT_SIZE 65536
#define aLINK_PACKETLOG_MAX_SIZE 0x4000000

/* Ring size for the next enable; negative or 0 means the default. aErrParam for
 * an unregistered reference or a size above aLINK_PACKETLOG_MAX_SIZE, aErrBusy
 * when the ring exists already. */
aErr aLink_PacketDebug_SetLogSize(uint32 linkRef, int32 size);
/* Makes the ring when missing and starts recording; aErrResource when it cannot. */
aErr aLink_PacketDebug_Enable(uint32 linkRef);
/* Stops recording; the entries stay. aErrNotReady when there is no ring. */
aErr aLink_PacketDebug_Disable(uint32 linkRef);
/* Takes the oldest entry. On entry *length is the buffer's capacity.
 * aErrNotFound when empty; aErrOverrun (with the entry's length in *length,
 * the entry kept) when it does not fit; aErrNotReady when there is no ring. */
aErr aLink_PacketDebug_Read(uint32 linkRef, uint32* type, uint32* length, uint8* buffer);
/* Adds an entry; aErrNotReady when there is no ring. */
aErr aLink_PacketDebug_Write(uint32 linkRef, uint8 type, uint32 length, const uint8* bytes);

#ifdef __cplusplus
}
#endif

#endif
