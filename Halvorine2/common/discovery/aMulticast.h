/* A plain UDP multicast endpoint: join a group on one interface, then send to the group
 * or receive from it. Exported for library users; one endpoint is used by one thread at
 * a time.
 *
 * On Linux a group is joined and sent to through the interface given; for the loopback
 * interface that interface needs the MULTICAST flag (ip link set lo multicast on), which
 * some systems leave off, and a receiver on another interface needs a route for the
 * group or an interface that carries the MULTICAST flag (veth and Ethernet do). */
#ifndef HALVORINE_AMULTICAST_H
#define HALVORINE_AMULTICAST_H

#include "aDefs.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct aMulticast aMulticast;

/* Results besides a byte count. */
#define aMULTICAST_ERROR -1     /* socket error or receive time-out */
#define aMULTICAST_NULL -2      /* no endpoint (or not one made here) */
#define aMULTICAST_WRONG_WAY -3 /* a send on a receiver, a receive on a sender */

/* A new endpoint, or NULL. Addresses are IPv4 in network byte order; an interface of 0
 * means 127.0.0.1. A receiver binds the port on every local address. Either kind joins
 * the group on the interface and sends through it, with a TTL of 1 and multicast
 * loopback on; a receive waits at most 1000 ms. */
aMulticast* aMulticast_Create(uint32 interfaceAddress, uint32 groupAddress, uint16 port, bool sender);

/* Bytes sent to the group and port, or one of the results above. */
int aMulticast_Send(aMulticast* endpoint, const char* data, int length);

/* Bytes of the next datagram received (cut to size), or one of the results above. */
int aMulticast_Receive(aMulticast* endpoint, char* buffer, int size);

/* Closes and frees the endpoint and clears the caller's pointer: 0, or aMULTICAST_NULL
 * when there is none. */
int aMulticast_Destroy(aMulticast** endpoint);

#ifdef __cplusplus
}
#endif

#endif
