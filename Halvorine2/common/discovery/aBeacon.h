/* UDP beacons for finding link-sharing servers: an actor that publishes a payload to the
 * broadcast address of one interface at an interval and reports every beacon it hears
 * there, used by network discovery and by a link-sharing server.
 *
 * Which beacon runs: czmq's own zbeacon wherever it can serve, that is when czmq's
 * beacon interface setting names an interface in czmq's list (ziflist: up,
 * broadcast-capable, not loopback), or is "" or "*" and that list is not empty.
 * Everywhere else, above all on loopback (local mode, or a host or network namespace
 * whose only interface is lo), where zbeacon finds no interface, the beacon of our own
 * below runs instead. On the wire the two are the same: the payload unchanged to
 * interface-broadcast:port, from the interface's address.
 *
 * Our own beacon speaks zbeacon's commands on the actor pipe, so its owner cannot tell
 * them apart:
 *   zsock_send (beacon, "si", "CONFIGURE", port)   then zstr_recv: the interface address
 *                                                  in dotted form ("" when none)
 *   zsock_send (beacon, "sbi", "PUBLISH", data, size, intervalMs)   (size at most 255)
 *   zstr_sendx (beacon, "SILENCE", NULL)
 *   zsock_send (beacon, "sb", "SUBSCRIBE", prefix, prefixSize)   (size 0: every beacon)
 *   zstr_sendx (beacon, "UNSUBSCRIBE", NULL)
 *   zmsg_recv (beacon): [sender's address in dotted form, payload]
 * A beacon identical to the one being published is not reported (it is our own, echoed
 * back), and neither is a datagram longer than 255 bytes.
 *
 * Our beacon's interface: the setting's dotted address names the interface carrying it
 * (127.0.0.1: loopback), any other non-empty text an interface name, and "" or "*" the
 * loopback interface. Its broadcast address is the interface's own, or the address with
 * every host bit set where the interface has none (127.255.255.255 for loopback). With no
 * such interface CONFIGURE answers "" and the beacon stays silent and deaf.
 *
 * Both beacons read czmq's interface setting: aBeacon_New reads it when it creates the
 * actor (and zbeacon again at CONFIGURE), so create and configure it while holding the
 * beacon-interface lock (zBeaconInterface.h). */
#ifndef HALVORINE_ABEACON_H
#define HALVORINE_ABEACON_H

#include <czmq.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A beacon actor for czmq's current interface setting, chosen as above; NULL when it
 * cannot be started. Destroy it with zactor_destroy. */
zactor_t* aBeacon_New(void);

/* True when czmq's zbeacon can serve this interface setting. */
bool aBeacon_ZbeaconServes(const char* interfaceSetting);

/* Our own beacon as a czmq actor function; args is the interface setting, text from
 * malloc (strdup) that the actor takes over and frees. */
void aBeacon_Actor(zsock_t* pipe, void* args);

#ifdef __cplusplus
}
#endif

#endif
