// -D -r: the modules on a router module's I2C bus. The router is connected, told to
// route the bus's traffic to this host, and its bus is probed address by address;
// every module that answers is connected through the router's link and read.
#include <cstring>
#include <memory>

#include "DirectNetworkConfig.h"
#include "I2CClass.h"
#include "ModuleInfo.h"
#include "SystemClass.h"
#include "UpdaterApp.h"
#include "UpdaterLog.h"
#include "aDefs.h"
#include "aDiscovery.h"
#include "aTime.h"

using Veltrano::Halvorine::I2CClass;
using Veltrano::Halvorine::kLoopbackInterface;
using Veltrano::Halvorine::Module;
using Veltrano::Halvorine::SystemClass;

namespace {

// The router's specifier in the part of it that modules behind it share: how to reach it.
constexpr size_t kWayInOffset = 24;
// How long a packet request waits for its reply.
constexpr uint32 kReplyWaitMs = 1000;
// Addresses in a row whose probes the router left unanswered before the walk stops.
constexpr unsigned int kSilentProbesToStop = 3;

struct SpecRelease {
    void operator()(linkSpec* spec) const { aLinkSpec_Destroy(&spec); }
};
using SpecHandle = std::unique_ptr<linkSpec, SpecRelease>;

struct RouterSearch {
    uint32_t serialNumber;
    linkSpec* found = nullptr;
};

bool keepRouter(const linkSpec* spec, bool* found, void* ref) {
    *found = true;
    RouterSearch* search = static_cast<RouterSearch*>(ref);
    if (spec->serialNumber != search->serialNumber) return true;
    updaterLog(DEBUG_Network, "NETWORK: Found device [%08X] via link type [%d]\n", spec->serialNumber,
               static_cast<int>(spec->type));
    search->found = aLinkSpec_Copy(*spec);
    return false;
}

// The router's specifier (the caller destroys it), or null. Transport 0 looks on USB,
// then on TCP/IP, and becomes the transport it was found on. The record found there is
// kept: a second discovery would only find it again. Any module found on USB but the
// router still leads to TCP/IP.
linkSpec* findRouter(uint32_t serialNumber, uint32_t* transport) {
    if (*transport != 0)
        return aDiscovery_FindModule(static_cast<linkType>(*transport), serialNumber, kLoopbackInterface);
    RouterSearch search{serialNumber};
    for (linkType type : {USB, TCPIP}) {
        aDiscovery_EnumerateModules(type, keepRouter, &search, kLoopbackInterface);
        if (search.found) {
            *transport = type;
            break;
        }
    }
    return search.found;
}

// Connects the router and switches its routing to this host; false, with the
// reason shown and the router disconnected, when either fails.
bool startRouting(Module& router, const linkSpec& spec, UpdaterDisplayInterface* display) {
    if (setDirectNetworkConfig(&router, display) != aErrNone) return false;
    aErr err = router.connectFromSpec(spec);
    if (err != aErrNone) {
        displayPrintf(display, 1, "Error %d on connectFromSpec", static_cast<int>(err));
        router.disconnect();
        return false;
    }
    SystemClass system;
    system.init(&router, 0);
    err = system.routeToMe(1);
    if (err != aErrNone) {
        displayPrintf(display, 1, "Error %d on route to me", static_cast<int>(err));
        router.disconnect();
        return false;
    }
    return true;
}

struct Router {
    Module& module;
    const linkSpec& spec;
    uint32_t transport;
};

// The module connected at a bus address, read into a device; false when it cannot be
// connected or gives no serial number.
bool readBusModule(const Router& router, Module& module, unsigned char address, DiscoveredDevice* device,
                   UpdaterDisplayInterface* display) {
    setDirectNetworkConfig(&module, display); // the router's configuration is taken on connecting anyway
    if (module.connectThroughLinkModule(&router.module) != aErrNone) return false;
    SystemClass system;
    system.init(&module, 0);
    unsigned int serialNumber = 0;
    if (system.getSerialNumber(&serialNumber) != aErrNone) return false;
    updaterLog(DEBUG_Updater, "Got Serial [0x%08X]\n", serialNumber);

    linkSpec& spec = device->specifier;
    std::memcpy(reinterpret_cast<unsigned char*>(&spec) + kWayInOffset,
                reinterpret_cast<const unsigned char*>(&router.spec) + kWayInOffset,
                sizeof spec - kWayInOffset);
    spec.type = static_cast<linkType>(router.transport);
    spec.serialNumber = serialNumber;
    spec.routerAddress = router.module.getModuleAddress();
    spec.routerSerialNumber = router.spec.serialNumber;
    device->busAddress = address;
    device->buildNumber = readBuildNumber(&module);
    device->error = readModuleInfo(&module, device);
    unsigned char model = 0;
    aErr err = system.getModel(&model);
    if (err == aErrNone) {
        spec.model = model;
        device->modelName = aDefs_GetModelName(model);
    } else {
        device->error = err;
    }
    return true;
}

// Probes one bus address with a write of two zero bytes; where it is acknowledged a
// module sits, and it is read into the list. False when the router gave no answer at
// all (an empty address is answered at once with an error status). Replies that came
// too late for an earlier request are dropped first, so none is taken for this one.
bool probe(const Router& router, I2CClass& bus, unsigned char address, DiscoveredDeviceList* list,
           UpdaterDisplayInterface* display) {
    updaterLog(DEBUG_Updater, "Searching Address 0x%02x\n", address);
    if (Veltrano::Halvorine::Link* link = router.module.getLink())
        link->dropMatchingPackets(router.module.getModuleAddress(), nullptr, 0);
    const unsigned char zeros[2] = {0, 0};
    uint32 start = aTime_GetMSTicks();
    if (bus.write(address, 2, zeros) != aErrNone) return aTime_GetMSTicks() - start < kReplyWaitMs;
    updaterLog(DEBUG_Updater, "Attempt Connect on address: 0x%02x\n", address);
    Module module(address, false, 0);
    DiscoveredDevice device;
    bool read = readBusModule(router, module, address, &device, display);
    module.disconnect();
    if (read) list->push_back(device);
    return true;
}

DiscoveredDeviceList walkBus(const Router& router, UpdaterDisplayInterface* display) {
    DiscoveredDeviceList list;
    I2CClass bus;
    bus.init(&router.module, 0);
    bus.setSpeed(I2CClass::kMaxSpeed);
    const unsigned int own = router.module.getModuleAddress();
    unsigned int silentInRow = 0;
    for (unsigned int address = 2; address < 254; address += 2) {
        if (address == own) continue;
        const unsigned char a = static_cast<unsigned char>(address);
        // One lost reply must not hide a module: an unanswered probe is made again.
        if (probe(router, bus, a, &list, display) || probe(router, bus, a, &list, display)) {
            silentInRow = 0;
            continue;
        }
        updaterLog(DEBUG_Updater, "No answer from the router for address 0x%02x\n", address);
        // A router that stopped answering ends the walk: waiting out every address
        // left would take minutes.
        if (++silentInRow >= kSilentProbesToStop) break;
    }
    return list;
}

} // namespace

DiscoveredDeviceList UpdaterApp::Discover_NetworkDevices(uint32_t routerSerialNumber, uint32_t transport) {
    SpecHandle spec(findRouter(routerSerialNumber, &transport)); // destroyed on every way out
    if (!spec) return {};
    updaterLog(DEBUG_Updater, "Found Link Module");
    DiscoveredDeviceList list;
    Module router(2, 0);
    if (startRouting(router, *spec, display())) {
        list = walkBus(Router{router, *spec, transport}, display());
        SystemClass system;
        system.init(&router, 0);
        system.routeToMe(0);
        router.disconnect();
    }
    return list;
}
