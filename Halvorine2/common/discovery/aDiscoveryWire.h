/* The datagrams of network discovery, as pure functions: the multicast request and
 * reply of modules with an Ethernet interface, and the beacon of a link-sharing server.
 * Nothing here touches a socket, so arbitrary datagrams can be fed to the decoders. */
#ifndef HALVORINE_ADISCOVERYWIRE_H
#define HALVORINE_ADISCOVERYWIRE_H

#include "aLinkSpecifier.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Multicast discovery: requests go to this group and port, modules answer to the
 * asker's address on the reply port. */
#define aDISCOVERY_GROUP "232.2.2.2"
#define aDISCOVERY_REQUEST_PORT 9888
#define aDISCOVERY_REPLY_PORT 9889
#define aDISCOVERY_DATAGRAM_SIZE 16

/* Beacons of link-sharing servers and of the discoverers that ask them to answer. */
#define aDISCOVERY_BEACON_PORT 8585
#define aDISCOVERY_BEACON_PAYLOAD "Halvorine2-Discovery"
#define aDISCOVERY_BEACON_PAYLOAD_SIZE 20

/* The 16-byte request: byte 0 is 1, the rest zero. */
void aDiscovery_EncodeRequest(uint8 request[aDISCOVERY_DATAGRAM_SIZE]);

/* A module's reply from sourceAddress (IPv4, network byte order) as a TCPIP record:
 * byte 1 the module address (also the router address), bytes 2-3 the TCP port and
 * bytes 4-7 the serial number (also the router's), both little-endian, byte 12 the
 * model. False, with *spec untouched, for a datagram that is not exactly 16 bytes. */
bool aDiscovery_DecodeReply(const uint8* datagram, size_t length, uint32 sourceAddress, linkSpec* spec);

/* A server's beacon: accepted only when it is exactly a 128-byte record whose type is a
 * known link type. False, with *spec untouched, for anything else. */
bool aDiscovery_DecodeBeacon(const uint8* payload, size_t length, linkSpec* spec);

#ifdef __cplusplus
}
#endif

#endif
