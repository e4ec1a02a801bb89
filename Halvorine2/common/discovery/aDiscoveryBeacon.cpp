// Discovery of link-sharing servers: publish the discovery payload on UDP 8585 and take
// the 128-byte records that servers publish in answer.
#include <arpa/inet.h>

#include <string>
#include <vector>

#include "aBeacon.h"
#include "aDiscoveryFaults.h"
#include "aDiscoveryReport.h"
#include "aDiscoveryWire.h"
#include "zBeaconInterface.h"

namespace {

const uint32 kMaxInterfaces = 50;
const int kPolls = 22;
const int kPollMs = 100;
const int kPublishIntervalMs = 100;
// CONFIGURE is answered at once; this only bounds a beacon that fails to.
const int kHostWaitMs = 2000;

struct Search {
    zactor_t* beacon;
    bool local;
    uint32 host; // the beacon's own address, network byte order
    std::vector<linkSpec> accepted;
    aDiscoveryReport report;
};

bool sKnown(const Search& search, uint32 serialNumber) {
    for (const linkSpec& spec : search.accepted)
        if (spec.serialNumber == serialNumber) return true;
    return false;
}

// In local mode only servers on this machine count.
bool sAcceptable(const Search& search, const linkSpec& spec) {
    if (sKnown(search, spec.serialNumber)) return false;
    return !search.local || spec.ipAddress == aDISCOVERY_LOCALHOST || spec.ipAddress == search.host;
}

// Answers whether discovery goes on.
bool sTake(Search* search, zmsg_t* heard) {
    if (zmsg_size(heard) != 2) return true;
    zframe_t* payload = zmsg_last(heard);
    linkSpec spec;
    if (!aDiscovery_DecodeBeacon(zframe_data(payload), zframe_size(payload), &spec) ||
        !sAcceptable(*search, spec))
        return true;
    search->accepted.push_back(spec);
    return aDiscoveryReport_Module(&search->report, &spec);
}

void sListen(Search* search) {
    for (int poll = 0; poll < kPolls; poll++) {
        zmsg_t* heard = zmsg_recv(search->beacon);
        if (!heard) continue;
        bool more = sTake(search, heard);
        zmsg_destroy(&heard);
        if (!more) return;
    }
}

// The beacon's host address; false when it found no interface to run on.
bool sConfigure(Search* search) {
    zactor_t* beacon = search->beacon;
    if (!aDiscovery_StepGoes(aDISCOVERY_STEP_CONFIGURE) ||
        zsock_send(beacon, "si", "CONFIGURE", aDISCOVERY_BEACON_PORT) != 0)
        return false;
    zsock_set_rcvtimeo(beacon, kHostWaitMs);
    char* host = aDiscovery_StepGoes(aDISCOVERY_STEP_HOST) ? zstr_recv(beacon) : nullptr;
    in_addr address;
    bool configured = host && inet_pton(AF_INET, host, &address) == 1;
    zstr_free(&host);
    if (configured) search->host = address.s_addr;
    return configured;
}

void sDiscover(Search* search) {
    zactor_t* beacon = search->beacon;
    if (!sConfigure(search)) return;
    if (!aDiscovery_StepGoes(aDISCOVERY_STEP_PUBLISH) ||
        zsock_send(beacon, "sbi", "PUBLISH", aDISCOVERY_BEACON_PAYLOAD,
                   size_t(aDISCOVERY_BEACON_PAYLOAD_SIZE), kPublishIntervalMs) != 0)
        return;
    if (aDiscovery_StepGoes(aDISCOVERY_STEP_SUBSCRIBE) &&
        zsock_send(beacon, "sb", "SUBSCRIBE", "", size_t(0)) == 0 &&
        aDiscovery_StepGoes(aDISCOVERY_STEP_TIMEOUT)) {
        zsock_set_rcvtimeo(beacon, kPollMs);
        sListen(search);
    }
    // The actor is destroyed next whatever these answer.
    if (aDiscovery_StepGoes(aDISCOVERY_STEP_SILENCE)) zstr_sendx(beacon, "SILENCE", NULL);
    if (aDiscovery_StepGoes(aDISCOVERY_STEP_UNSUBSCRIBE)) zstr_sendx(beacon, "UNSUBSCRIBE", NULL);
}

// The interface setting for the beacon, and whether the search stays on this machine.
std::string sInterfaceSetting(uint32 networkInterface, bool* local) {
    *local = networkInterface == 0 || networkInterface == aDISCOVERY_LOCALHOST;
    uint32 interfaces[kMaxInterfaces];
    char text[22];
    if (*local || aDiscovery_GetIPv4Interfaces(interfaces, kMaxInterfaces) == 0 ||
        aDiscovery_ConvertIPv4Interface(networkInterface, text, sizeof text) == 0)
        return "127.0.0.1";
    return text;
}

} // namespace

extern "C" uint8 aDiscovery_Enumerate_aSolvanModules(aDiscoveryCallback callback, void* ref,
                                                     uint32 networkInterface) {
    if (!callback) return 0;
    Search search = {nullptr, false, 0, {}, {callback, ref, 0}};
    const std::string setting = sInterfaceSetting(networkInterface, &search.local);
    if (!aDiscovery_StepGoes(aDISCOVERY_STEP_LOCK) || !zBeaconInterface_backupSetAndLock(setting.c_str()))
        return 0;
    search.beacon = aDiscovery_StepGoes(aDISCOVERY_STEP_CREATE) ? aBeacon_New() : nullptr;
    if (search.beacon) {
        sDiscover(&search);
        zactor_destroy(&search.beacon);
    }
    zBeaconInterface_restoreAndUnlock();
    return search.report.count;
}
