/* The link-sharing server: a process that holds a module's USB link serves it to
 * other processes (and to itself) over TCP, as links of type ASOLVAN
 * (aStream_ZeroMQClient.h).
 *
 * One request reaches the module at a time; its replies go to the client that sent it.
 * Streamed values from the module are batched and go to every client that holds a
 * stream subscription, at each module heartbeat or when a batch fills; a client's
 * unsubscription reaches the module only when no other client holds that value. A client's multi-packet
 * set-bytes sequence reaches the module in one piece even while others send requests.
 * The server answers discovery beacons ("Halvorine2-Discovery" on UDP 8585) with its own
 * link specifier for about 2 s after each one heard; a loopback-only server answers only
 * beacons from this host.
 *
 * Threads: a broker task owns the client-facing ROUTER socket, and a sync task is the
 * only consumer of the USB link's received packets. A request the module does not
 * answer within 2000 ms gets no reply: the client's own wait ends. A client that asks
 * the same again half a second or more after an earlier ask that is still unanswered
 * has given up on that one: the earlier one's reply, however late, is not sent (it
 * would answer the new request, and leave the client one reply behind for ever).
 * Identical requests sent together are each answered. */
#ifndef HALVORINE_ASERVER_ZEROMQ_H
#define HALVORINE_ASERVER_ZEROMQ_H

#include "aDefs.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct aServer aServer;

/* A server for a registered link (normally a USB link), serving on the IPv4 interface
 * (network byte order; 0 means 127.0.0.1), or on 127.0.0.1 only with loopbackOnly. NULL
 * when the link is not registered or memory runs out. */
aServer* aServer_Create(uint32 linkRef, uint32 interfaceAddress, bool loopbackOnly);

/* Binds, starts the tasks and the beacon, and takes the link's received packets over.
 * A beacon that cannot start (UDP 8585 held by another program, no usable interface)
 * leaves a server that answers no discovery but serves clients that know its port.
 * False when anything else fails (the server is then only fit for aServer_Destroy). */
bool aServer_Start(aServer* server);

/* The TCP port clients connect to (0 before a start), and the interface served on. */
uint16 aServer_GetPort(const aServer* server);
uint32 aServer_GetInterface(const aServer* server);

/* The module the beacon answer names; a server answers no beacon before its model is
 * known. */
void aServer_SetModule(aServer* server, uint8 model, uint8 moduleAddress);

/* Batches of streamed samples dropped so far: the queue to the broker was full, or a
 * subscriber's connection took no more. */
uint64 aServer_GetDroppedBatches(const aServer* server);

/* Stops the tasks and the beacon and frees everything; clears *server. The link's user
 * filter must have been removed first (a link's teardown does). */
void aServer_Destroy(aServer** server);

/* Opens the USB module, starts a server on its link and answers a client link through
 * it, which owns the USB link (destroying the client link's last user ends both).
 * *address: in, the interface to serve on (0: 127.0.0.1); out, the one used. *port
 * receives the server's port. The module's address and model are asked through the
 * client link (5 tries). 0 when anything fails, with nothing left behind; 0 also when
 * the module's link is open already in this process (aLink_JoinUSB instead). */
uint32 aLink_CreateServer(uint32 serialNumber, uint16* port, uint32* address, bool loopbackOnly);

/* A new user of the USB module this process holds already. When a server runs on its
 * link: a client link of its own to that server (*port and *address where it serves),
 * which keeps the server and the USB link alive while it lives, whoever else goes
 * first. Otherwise the direct link itself with one more user (*port 0). 0 when the
 * process does not hold the module. */
uint32 aLink_JoinUSB(uint32 serialNumber, uint16* port, uint32* address);

/* Where the server on this USB module's link in this process serves, if one runs.
 * False when none runs. */
bool aLink_GetServer(uint32 serialNumber, uint16* port, uint32* address);

#ifdef __cplusplus
}
#endif

#endif
