// Virtual modules as USB devices: a USB backend (the library's seam beneath the
// USB stream and USB discovery) whose attached devices are virtual modules. Each
// shows the maker's vendor id, product id 0x0100 | model, the module interface
// with bulk endpoints, and its serial number as "%08X". Installed for the bus's
// lifetime; one bus at a time.
//
// A module that is away (VirtualModule::away) or unplugged is off the bus: not
// enumerated, not opened, and the transfers of a connection opened before it
// left fail with aErrIO, also once it is back (a new open is needed then). A
// connection the module closes (its fault plan, a dropped link) fails the same way.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "VirtualModule.h"
#include "aStreamUSBBackend.h"

namespace Veltrano::Sim {

class ModuleUsbBus {
  public:
    ModuleUsbBus();
    ~ModuleUsbBus();
    ModuleUsbBus(const ModuleUsbBus&) = delete;
    ModuleUsbBus& operator=(const ModuleUsbBus&) = delete;

    void attach(VirtualModule& module);
    // Another program holds the module: opening it answers aErrBusy.
    void setHeldElsewhere(const VirtualModule& module, bool held);
    // The module stops taking data: OUT transfers move nothing and end by their
    // time-out, as a module whose firmware hangs does.
    void setStalled(const VirtualModule& module, bool stalled);
    // Takes the module off the bus or puts it back, as a cable would.
    void setPlugged(const VirtualModule& module, bool plugged);
    // Times the module was opened so far.
    uint64_t opens(const VirtualModule& module) const;

    struct Slot;

  private:
    std::vector<Slot*> slots_;
    mutable std::mutex mutex_;
    friend struct UsbBackendAccess;
};

} // namespace Veltrano::Sim
