/* Discovery of modules: over USB, over UDP multicast on the local networks (modules with
 * their own Ethernet interface) and through the beacons of link-sharing servers. Each
 * module found is handed to a callback as a linkSpec; the find functions on top pick one.
 *
 * Every function runs on the caller's thread, returns when discovery is over and keeps
 * nothing between calls; any thread may call them. Failures (no USB, no socket, no
 * interface) end in fewer modules or none, never in an error.
 *
 * How long it takes:
 *  - USB: one walk of the attached devices.
 *  - TCPIP (multicast): a 16-byte request to 232.2.2.2 port 9888 through every IPv4
 *    interface address but 127.0.0.1, then replies on port 9889 until 2000 ms pass
 *    without one, and never longer than 10 s in all. A datagram that is not exactly 16
 *    bytes is skipped. Replies are not merged: a module heard through two interfaces is
 *    reported twice.
 *  - ASOLVAN (link-sharing servers): 22 polls of at most 100 ms each (about 2.2 s when
 *    no server answers), holding the beacon-interface lock (zBeaconInterface.h)
 *    throughout; see aBeacon.h for which beacon runs. */
#ifndef HALVORINE_ADISCOVERY_H
#define HALVORINE_ADISCOVERY_H

#include "aLinkSpecifier.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Called once per module. spec is valid only during the call (copy what you keep).
 * *found is false on entry: set it to true to count the module. Answer true to go on,
 * false to end discovery at once. */
typedef bool (*aDiscoveryCallback)(const linkSpec* spec, bool* found, void* ref);

/* Local machine only, as a networkInterface argument (0 means the same). */
#define aDISCOVERY_LOCALHOST 0x0100007Fu /* 127.0.0.1 in network byte order */

/* Runs the discovery of the given type and answers how many callbacks set their flag
 * (at most 255). networkInterface (IPv4, network byte order) matters only to ASOLVAN.
 * Any other type answers 0 at once. */
uint8 aDiscovery_EnumerateModules(linkType type, aDiscoveryCallback callback, void* ref,
                                  uint32 networkInterface);

/* Discovery of link-sharing servers. networkInterface 0 or 127.0.0.1 is local mode: only
 * servers on this machine count. Otherwise it names the interface whose broadcast
 * domain is searched. A server heard twice (the same serial number) is reported once. */
uint8 aDiscovery_Enumerate_aSolvanModules(aDiscoveryCallback callback, void* ref, uint32 networkInterface);

/* A new record of the first module found with this serial number, or NULL. Release it
 * with aLinkSpec_Destroy. */
linkSpec* aDiscovery_FindModule(linkType type, uint32 serialNumber, uint32 networkInterface);

/* A new record of the first module found whose serial number is not 0, or NULL. */
linkSpec* aDiscovery_FindFirstModule(linkType type, uint32 networkInterface);

/* Writes the IPv4 addresses (network byte order) of the interfaces czmq can beacon on
 * (up, broadcast-capable, not loopback), in its list order, at most capacity of them;
 * answers how many. A NULL array gives 0. */
uint32 aDiscovery_GetIPv4Interfaces(uint32* addresses, uint32 capacity);

/* Writes an IPv4 address (network byte order) as dotted text into a cleared buffer of at
 * least 22 bytes; answers the text's length, or 0 (buffer untouched when too small). */
uint32 aDiscovery_ConvertIPv4Interface(uint32 address, char* buffer, uint32 size);

#ifdef __cplusplus
}
#endif

#endif
