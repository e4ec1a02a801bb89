// Engine links through a link-sharing server: a USB module opened behind a
// server of our own (or joining the one this process runs for it already), and
// links to a server found elsewhere.
#include "LinkState.h"
#include "aServer_ZeroMQ.h"
#include "aStream_ZeroMQClient.h"

namespace Veltrano::Halvorine {

aErr sOpenSharedUSB(const linkSpec& spec, aSolvanConfig& config, uint32* ref) {
    uint16 port = 0;
    uint32 address = config.interfaceAddress;
    // A module this process holds already is joined: through its server, or, held
    // without one, on the direct link itself (no server: port 0).
    *ref = aLink_JoinUSB(spec.serialNumber, &port, &address);
    if (!*ref) *ref = aLink_CreateServer(spec.serialNumber, &port, &address, config.loopbackOnly != 0);
    if (*ref) {
        config.serverPort = port;
        config.interfaceAddress = address;
    }
    return aErrNone;
}

aErr sOpenSharingClient(const linkSpec& spec, uint32 existingRef, uint32* ref) {
    *ref = aLink_CreateClient(spec.ipAddress, spec.ipPort, existingRef);
    return aErrNone;
}

} // namespace Veltrano::Halvorine
