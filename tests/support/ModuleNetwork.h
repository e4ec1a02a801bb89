// Virtual modules with their own Ethernet interface, for end-to-end runs: served over
// TCP in the far namespace of a testbed and announced by multicast discovery through
// one veth link, each only while it takes connections (a rebooting module is silent). The
// programs under test run on the near side.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DiscoveryResponder.h"
#include "ModuleTcpServer.h"
#include "Testbed.h"
#include "VirtualModule.h"

class ModuleNetwork {
  public:
    // Empty when the network can be made here; otherwise why not (for VELTRANO_REQUIRE).
    static std::string unavailableReason() { return ApiTest::Testbed::unavailableReason(); }

    ModuleNetwork() : link_(testbed_.addLink()) {}
    // Servers and the responder use their modules from their own threads: they stop
    // first, so the modules may go after the network.
    ~ModuleNetwork() { stop(); }
    ModuleNetwork(const ModuleNetwork&) = delete;
    ModuleNetwork& operator=(const ModuleNetwork&) = delete;

    // Serves the module on the far side at port and announces it.
    void serve(Veltrano::Sim::VirtualModule& module, uint16_t port) {
        testbed_.inFar([&] {
            servers_.push_back(std::make_unique<Veltrano::Sim::ModuleTcpServer>(module, port, "0.0.0.0"));
        });
        const Veltrano::Sim::ModuleIdentity& id = module.identity();
        announced_.push_back({id.serialNumber, id.address, port, id.model});
        served_[id.serialNumber] = servers_.back().get();
    }
    // Announces a module at a port where nothing listens.
    void announceUnserved(uint32_t serialNumber, uint8_t address, uint16_t port, uint8_t model) {
        announced_.push_back({serialNumber, address, port, model});
    }
    // Starts answering discovery for everything served or announced so far.
    void startResponder() {
        testbed_.inFar([&] {
            Veltrano::Sim::DiscoveryResponderOptions options;
            options.interfaces = {link_.farAddress};
            options.modules = announced_;
            responder_ = std::make_unique<Veltrano::Sim::DiscoveryResponder>(
                options, [this](const Veltrano::Sim::DiscoveryModule& m) {
                    auto found = served_.find(m.serialNumber);
                    return found == served_.end() || found->second->reachable();
                });
        });
    }
    void stop() {
        responder_.reset();
        servers_.clear();
    }

    // The modules' address, as the -D table shows it ("[a.b.c.d]").
    const std::string& farAddress() const { return link_.farAddress; }
    const Veltrano::Sim::DiscoveryResponder* responder() const { return responder_.get(); }

  private:
    ApiTest::Testbed testbed_;
    ApiTest::VethLink link_;
    std::vector<Veltrano::Sim::DiscoveryModule> announced_;
    std::map<uint32_t, const Veltrano::Sim::ModuleTcpServer*> served_;
    std::vector<std::unique_ptr<Veltrano::Sim::ModuleTcpServer>> servers_;
    std::unique_ptr<Veltrano::Sim::DiscoveryResponder> responder_;
};
