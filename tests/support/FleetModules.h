// Virtual modules for fleet updates: count live modules (heartbeats on, a short
// reboot) with consecutive serial numbers, served on consecutive ports of a
// module network, the one at faulty (when given) refusing every firmware write
// after the loader's.
#pragma once

#include <cstdint>
#include <vector>

#include "KeptModules.h"
#include "ModuleNetwork.h"
#include "VirtualModule.h"

inline std::vector<Veltrano::Sim::VirtualModule*> serveFleet(KeptModules& kept, ModuleNetwork& network,
                                                             uint32_t firstSerial, uint16_t firstPort, int count,
                                                             int faulty = -1) {
    using namespace Veltrano::Sim;
    std::vector<VirtualModule*> modules;
    for (int i = 0; i < count; ++i) {
        ModuleIdentity id = moduleIdentity(firstSerial + static_cast<uint32_t>(i), 4, 4);
        id.heartbeatIntervalMs = 200;
        VirtualModule& m = kept.make(id);
        UpgradeArea::Settings settings;
        settings.rebootAwayMs = 300;
        m.upgrade().configure(settings);
        if (i == faulty) {
            ModuleFaults faults;
            faults.replies["upgrade.write"] = ReplyFault{ReplyFaultKind::ErrorReply, 1};
            m.setFaults(faults);
        }
        network.serve(m, static_cast<uint16_t>(firstPort + i));
        modules.push_back(&m);
    }
    network.startResponder();
    return modules;
}
