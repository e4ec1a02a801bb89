/* The client side of link sharing: a byte stream over a connection to a link-sharing
 * server (aServer_ZeroMQ.h), and the client links made on it (link type ASOLVAN).
 *
 * The stream carries whole packets: every write goes to the server as one frame per
 * packet, and what the server sends back (a reply, or a batch of streamed packets back
 * to back) is handed out byte by byte. A client task thread owns the server connection
 * (so its socket is used by that thread alone) and moves frames between it and two frame
 * queues (aShareQueue.h), one from the writing threads and one to the reading thread.
 * A write that never waits (aStream_TryWrite) hands whole packets to the task at once,
 * so a caller's request skips the link's writer thread.
 *
 * Reading with no byte at hand waits up to about a second for the next frame and
 * answers aErrNotReady when none came; the stream's input wait (aStream_AwaitInput)
 * waits for the next frame as long as asked. An interruption ends both waits for good
 * (the read answers aErrNotReady at once, the input wait aErrCancel). An empty frame
 * is dropped. */
#ifndef HALVORINE_ASTREAM_ZEROMQCLIENT_H
#define HALVORINE_ASTREAM_ZEROMQCLIENT_H

#include "aStream.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A stream to the server at the IPv4 address (network byte order) and TCP port.
 * aErrParam for a NULL output or a port of 0; aErrMemory when a socket, the poller or
 * the record cannot be made; aErrConnection when a bind or connect fails; aErrResource
 * when the stream cannot be made. On failure nothing is left behind. Connecting does
 * not wait for the server: requests to one that is not there get no reply. The single
 * byte writer answers aErrUnimplemented: packets go whole. */
aErr aStream_CreateClient(uint32 address, uint16 port, aStream** stream);

/* A client link through the server at address:port. With a non-zero existingRef it only
 * adds a user to that link (0 when it is not registered). Otherwise every call makes a
 * new link. 0 on failure. */
uint32 aLink_CreateClient(uint32 address, uint16 port, uint32 existingRef);

#ifdef __cplusplus
}
#endif

#endif
