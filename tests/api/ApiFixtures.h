// Fixtures for the device API tests: virtual modules reached over loopback TCP,
// a pseudo-terminal or the virtual USB bus, and the link specifiers naming them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Link.h"
#include "Module.h"
#include "ModulePty.h"
#include "ModuleTcpServer.h"
#include "ModuleUsbBus.h"
#include "VirtualModule.h"
#include "aTime.h"

namespace ApiTest {

using Bytes = std::vector<uint8_t>;
using namespace Veltrano::Halvorine;
using Veltrano::Sim::ModuleFaults;
using Veltrano::Sim::ModuleIdentity;
using Veltrano::Sim::ReplyFault;
using Veltrano::Sim::ReplyFaultKind;
using Veltrano::Sim::VirtualModule;

enum class Carrier { Tcp, Pty, Usb };
std::string carrierName(Carrier carrier);

ModuleIdentity identity(uint8_t address, uint32_t serialNumber);

// A virtual module on one carrier, and the specifier that reaches it.
class ModuleOn {
  public:
    explicit ModuleOn(Carrier carrier, ModuleIdentity id = identity(4, 0x40F5849A));
    ~ModuleOn();

    linkSpec spec() const;
    VirtualModule& module() { return *module_; }
    // The carrier's server (Tcp only, else null).
    Veltrano::Sim::ModuleTcpServer* tcp() { return tcp_.get(); }
    // The virtual USB bus (Usb only, else null).
    Veltrano::Sim::ModuleUsbBus* usb() { return usb_.get(); }
    // Replaces the module's reply faults with one fault for one request type.
    void fault(const std::string& request, ReplyFaultKind kind, uint32_t skip = 0, int32_t times = -1,
               uint8_t error = 6);
    void clearFaults();
    // Makes a link that has sent only its force route so far lose step for
    // good, and quietly: the module answers the next address query from
    // address 0 (a framing error) and then falls silent, so the link stays
    // SYNCING and repeats its sync burst only while the line is quiet. (A
    // module answering every sync packet from address 0 would make each
    // answer start another burst: a flood that overflows the link's queues.)
    void loseStep();

  private:
    Carrier carrier_;
    std::unique_ptr<VirtualModule> module_;
    std::unique_ptr<Veltrano::Sim::ModuleTcpServer> tcp_;
    std::unique_ptr<Veltrano::Sim::ModulePty> pty_;
    std::unique_ptr<Veltrano::Sim::ModuleUsbBus> usb_;
};

// Links opened directly (no link-sharing server, no fallback), as the update
// tool opens them.
aSolvanConfig directConfig();

// A Module with the direct configuration, connected from the specifier.
aErr connectModule(Module& module, const linkSpec& spec);

// A TCP module and a Module connected to it, for tests of one behaviour.
struct ConnectedModule {
    explicit ConnectedModule(ModuleIdentity id = identity(4, 0x40F5849A), Carrier carrier = Carrier::Tcp);
    ModuleOn device;
    Module module;
    aErr connected;
};

// Polls the condition every millisecond for at most timeoutMs.
template <class Condition> bool eventuallyTrue(Condition condition, uint32_t timeoutMs = 2000) {
    // Measured by the clock: a slow condition must not stretch the bound.
    const uint32_t start = aTime_GetMSTicks();
    while (!condition()) {
        if (aTime_GetMSTicks() - start >= timeoutMs) return false;
        aTime_MSSleep(1);
    }
    return true;
}

// CPU time this process used so far, in milliseconds.
double processCpuMs();

// Number of open descriptors of this process.
size_t openDescriptors();

// Whole text of a file.
std::string readFile(const std::string& path);

} // namespace ApiTest
