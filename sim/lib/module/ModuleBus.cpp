#include "ModuleBus.h"

#include <memory>

#include "VirtualModule.h"

namespace Veltrano::Sim {

void ModuleBus::attach(VirtualModule& host, VirtualModule& device) {
    devices_[device.identity().address] = &device;
    device.system().setRouterAddress(host.identity().address);
    auto framer = std::make_shared<ModuleFramer>();
    device.connect([&host, framer](const uint8_t* bytes, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            if (!framer->feed(bytes[i])) continue;
            ModuleFrame frame = framer->take();
            if (host.system().routing()) host.send(frame);
        }
    });
}

VirtualModule* ModuleBus::at(uint8_t address) const {
    auto found = devices_.find(static_cast<uint8_t>(address & 0xFE));
    return found == devices_.end() ? nullptr : found->second;
}

} // namespace Veltrano::Sim
