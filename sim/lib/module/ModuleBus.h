// A module's I2C bus: other virtual modules sitting at their own (even)
// addresses, and the bytes last written to each address. The host module
// drives them: they receive, tick and connect only through it, under its lock.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "ModuleFrame.h"

namespace Veltrano::Sim {

class VirtualModule;

class ModuleBus {
  public:
    // The device's replies go out through host while host's routing is on.
    void attach(VirtualModule& host, VirtualModule& device);
    // The module at an address (bit 0 ignored), or nullptr.
    VirtualModule* at(uint8_t address) const;
    const std::map<uint8_t, VirtualModule*>& devices() const { return devices_; }
    // What an I2C read at the address gives: the bytes last written there.
    std::vector<uint8_t>& memory(uint8_t address) { return memory_[address & 0xFE]; }

  private:
    std::map<uint8_t, VirtualModule*> devices_;
    std::map<uint8_t, std::vector<uint8_t>> memory_;
};

} // namespace Veltrano::Sim
