/* ZeroMQ plumbing of link sharing: socket pairs between two threads of one process, and
 * sends that never block. Each socket of a pair belongs to one thread. The pairs are
 * in-process endpoints: a hand-over between threads costs no system call on the
 * loopback interface, which keeps a request through a server near a direct one. */
#ifndef HALVORINE_ASHAREPAIR_H
#define HALVORINE_ASHAREPAIR_H

#include <czmq.h>

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Two DEALER sockets: *bound on an in-process endpoint of its own, *connected to it.
 * False (with nothing made) when a socket, the bind or the connect fails. */
bool aSharePair_Create(zsock_t** bound, zsock_t** connected);

/* Sends the bytes as one frame without waiting; while the peer cannot take it, tries
 * again up to tries times, 1 ms apart. aErrNone, aErrBusy when it never could, aErrIO
 * when the socket refuses it (a ROUTER with no such peer), aErrMemory. identity, when
 * not NULL, goes first as a frame of its own (a ROUTER's peer). */
aErr aSharePair_Send(zsock_t* socket, zframe_t* identity, const uint8* bytes, size_t size, int tries);

#ifdef __cplusplus
}
#endif

#endif
