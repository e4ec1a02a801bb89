/* Packet FIFOs: thread-safe packet queues named by 64-bit ids.
 *
 * Ids come from a process-wide registry; 0 never names a FIFO. Any thread may
 * call any operation. Queues hold their own copies: Put copies the caller's
 * packet in, and every packet handed out is a new one that the caller frees
 * with aPacket_Destroy. No packet is ever shared between threads.
 *
 * A FIFO holds at most 1000 packets. Putting a 1001st discards the whole
 * content, the new packet included, and wakes nobody: a queue that nobody reads
 * cannot grow without bound. Readers that must not lose replies drain the FIFO
 * before a request and read it promptly.
 *
 * An id that is not registered (never created, or destroyed) is not an error
 * for the reading operations: they answer NULL or 0.
 */
#ifndef HALVORINE_APACKETFIFO_H
#define HALVORINE_APACKETFIFO_H

#include "aPacket.h"

#define aPACKETFIFO_CAPACITY 1000

#ifdef __cplusplus
extern "C" {
#endif

/* Answers true for a packet the caller wants. Filters run with the FIFO's lock
 * held: they must be quick and must not call into the same FIFO. */
typedef bool (*aPacketFilter)(const aPacket* packet, void* ref);

/* A new empty FIFO's id, or 0 when it cannot be made. */
uint64 aPacketFifo_Create(void);

/* Unregisters the FIFO, frees its packets, wakes every waiter (they answer
 * NULL) and clears *fifoId. Operations already running finish on the emptied
 * queue. aErrParam for a NULL pointer, aErrNotFound for an unregistered id,
 * aErrUnknown when the teardown fails unexpectedly. */
aErr aPacketFifo_Destroy(uint64* fifoId);

/* Number of queued packets; 0 for an unregistered id. */
uint32 aPacketFifo_GetLength(uint64 fifoId);

/* Queues a copy of packet; the caller keeps its own. aErrParam for an
 * unregistered id, an invalid packet, or when the copy cannot be made. */
aErr aPacketFifo_Put(uint64 fifoId, const aPacket* packet);

/* Removes and answers the front packet at once, or NULL when there is none. */
aPacket* aPacketFifo_Get(uint64 fifoId);

/* Waits up to timeoutMs (monotonic clock) for a packet; answers the front one,
 * or NULL on time-out or when the FIFO is destroyed meanwhile. */
aPacket* aPacketFifo_Await(uint64 fifoId, uint32 timeoutMs);

/* Removes and answers the first packet from the front that the filter accepts,
 * or NULL; the others keep their order. NULL for a NULL filter. */
aPacket* aPacketFifo_GetFirst(uint64 fifoId, aPacketFilter filter, void* ref);

/* As aPacketFifo_GetFirst, but waits up to timeoutMs for a matching packet.
 * Each queued packet is offered to the filter at most once per call, so a
 * filter may count or record what it has seen. */
aPacket* aPacketFifo_AwaitFirst(uint64 fifoId, aPacketFilter filter, void* ref, uint32 timeoutMs);

/* Removes and frees every packet the filter accepts, keeping the others in
 * order; answers how many went. 0 for an unregistered id or a NULL filter. */
uint32 aPacketFifo_DrainPackets(uint64 fifoId, aPacketFilter filter, void* ref);

#ifdef __cplusplus
}
#endif

#endif
