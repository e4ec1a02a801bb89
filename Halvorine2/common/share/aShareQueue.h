/* A frame queue that hands frames from one thread of link sharing to another
 * without a ZeroMQ socket: a put costs a lock and, when the queue was empty, one
 * eventfd write, and the taker wakes from a plain poll. Frames keep their
 * boundaries, one per put. The queue's descriptor is readable while a frame waits,
 * so a thread can poll it next to its ZeroMQ sockets. Any thread may put; one
 * thread takes. */
#ifndef HALVORINE_ASHAREQUEUE_H
#define HALVORINE_ASHAREQUEUE_H

#include <czmq.h>

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct aShareQueue aShareQueue;

/* A queue of up to capacity frames; NULL when the eventfd or memory cannot be had. */
aShareQueue* aShareQueue_Create(uint32 capacity);

/* Frees the frames still queued and the queue; clears *queue. */
void aShareQueue_Destroy(aShareQueue** queue);

/* Adds a copy of the bytes as one frame without waiting; while the queue is full,
 * tries again up to tries times, 1 ms apart. aErrNone, aErrBusy when it never had
 * room, aErrMemory. */
aErr aShareQueue_Put(aShareQueue* queue, const uint8* bytes, size_t size, int tries);

/* Adds the frames, which it takes over (they are destroyed when they cannot go), as
 * one hand-over: the taker wakes once and finds them all. While the queue has no room
 * for all, tries again up to tries times, 1 ms apart. aErrNone, aErrBusy, aErrMemory
 * when a frame is NULL. */
aErr aShareQueue_PutFrames(aShareQueue* queue, zframe_t** frames, size_t count, int tries);

/* The oldest frame, or NULL when none waits; the caller destroys it. */
zframe_t* aShareQueue_Take(aShareQueue* queue);

/* Readable while a frame waits (or after a wake), for poll or zmq_poll. */
int aShareQueue_Descriptor(const aShareQueue* queue);

/* Waits up to timeoutMs until a frame waits or the queue is woken; true when a
 * frame waits. */
bool aShareQueue_Await(aShareQueue* queue, uint32 timeoutMs);

/* Ends a wait on the queue early, frame or not. */
void aShareQueue_Wake(aShareQueue* queue);

#ifdef __cplusplus
}
#endif

#endif
