/* ZeroMQ sends of link sharing that never block: to the server, to a client through
 * the server's ROUTER socket. */
#ifndef HALVORINE_ASHAREPAIR_H
#define HALVORINE_ASHAREPAIR_H

#include <czmq.h>

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Sends the bytes as one frame without waiting; while the peer cannot take it, tries
 * again up to tries times, 1 ms apart. aErrNone, aErrBusy when it never could, aErrIO
 * when the socket refuses it (a ROUTER with no such peer), aErrMemory. identity, when
 * not NULL, goes first as a frame of its own (a ROUTER's peer). */
aErr aSharePair_Send(zsock_t* socket, zframe_t* identity, const uint8* bytes, size_t size, int tries);

#ifdef __cplusplus
}
#endif

#endif
