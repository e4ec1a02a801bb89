// The system entity (class 3): serial number, model, module and router
// addresses, firmware version and build, protocol features, its name (a
// streamed value), reset, and routing to the host. The host's model query is
// this entity's model get. Reply faults: "system.get", "system.set".
#pragma once

#include <array>
#include <atomic>
#include <mutex>
#include <vector>

#include "ModuleArea.h"
#include "UeiMessage.h"

namespace Veltrano::Sim {

class SystemArea : public ModuleArea {
  public:
    static constexpr uint8_t kCommand = 3;
    enum Option : uint8_t {
        kModule = 1,
        kRouter = 2,
        kVersion = 7,
        kModel = 8,
        kSerialNumber = 9,
        kReset = 11,
        kRouteToMe = 20,
        kName = 32,
        kIdentifier = 39,
        kBuild = 43,
        kProtocolFeatures = 45,
    };

    bool handle(VirtualModule& module, const ModuleFrame& frame) override;
    void reset() override;
    uint64_t requestsAnswered() const { return answered_; }

    // Routing of the bus modules' traffic to the host (route to me).
    bool routing() const { return routing_; }
    uint8_t routerAddress() const { return router_; }
    // A module on a router's bus learns the router's address when it is attached.
    void setRouterAddress(uint8_t address) { router_ = address; }
    uint64_t resets() const { return resets_; }
    void setProtocolFeatures(uint32_t features) { features_ = features; }
    // Any thread. The chip identifier, one word per subindex 0..3 of option 39 (an
    // i.MX liveloader's); a module without one does not know the option.
    void setIdentifier(const std::array<uint32_t, 4>& words);
    void setName(const std::vector<uint8_t>& name);
    std::vector<uint8_t> name() const;

  private:
    bool get(VirtualModule& module, const UeiRequest& request);
    bool set(VirtualModule& module, const UeiRequest& request);
    void sendName(VirtualModule& module, const UeiRequest& request);
    void takeNameChunk(VirtualModule& module, const UeiRequest& request);

    std::atomic<uint64_t> answered_{0};
    std::atomic<bool> routing_{false};
    std::atomic<uint8_t> router_{0};
    std::atomic<uint64_t> resets_{0};
    std::atomic<uint32_t> features_{0x80000000};
    std::array<std::atomic<uint32_t>, 4> identifier_{};
    std::atomic<bool> hasIdentifier_{false};
    mutable std::mutex nameMutex_;
    std::vector<uint8_t> name_;
    UeiChunkCollector incoming_; // chunks of a name being set
};

} // namespace Veltrano::Sim
