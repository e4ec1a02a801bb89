// A virtual module reached by a link over one of the real carriers: a socketpair
// (caller's descriptor stream), loopback TCP, or a pseudo-terminal (serial port).
#pragma once

#include <memory>
#include <string>

#include "ModulePty.h"
#include "ModuleSession.h"
#include "ModuleTcpServer.h"
#include "VirtualModule.h"
#include "aLink.h"

namespace LinkTest {

enum class Carrier { Socketpair, Tcp, Pty };
std::string carrierName(Carrier carrier);

class ModuleCarrier {
  public:
    ModuleCarrier(Carrier carrier, Veltrano::Sim::ModuleIdentity identity = {});
    ~ModuleCarrier();

    // Opens a link to the module (another user of the same link for TCP and serial).
    uint32 open();
    Veltrano::Sim::VirtualModule& module() { return module_; }
    Veltrano::Sim::ModuleTcpServer* tcp() { return tcp_.get(); }

  private:
    Carrier carrier_;
    Veltrano::Sim::VirtualModule module_;
    std::unique_ptr<Veltrano::Sim::ModuleRunner> runner_;
    std::unique_ptr<Veltrano::Sim::ModuleTcpServer> tcp_;
    std::unique_ptr<Veltrano::Sim::ModulePty> pty_;
    int hostFd_ = -1;
};

// Loopback in network byte order.
uint32 loopback();

// One entity get through the link: sends [address: command, option | 0x40, 0x20]
// and waits for the reply from address with the plain option. Answers the reply's
// data, or an empty vector on time-out.
std::vector<uint8_t> entityGet(uint32 ref, uint8_t address, uint8_t command, uint8_t option,
                               uint32 timeoutMs = 1000);

} // namespace LinkTest
