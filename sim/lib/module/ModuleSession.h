// Carries a virtual module over one file descriptor (socket, socketpair end,
// pseudo-terminal master) until the peer closes, the module closes the
// connection (its fault plan, a dropped link) or goes away (a reboot), or the
// stop flag is raised (noticed within 50 ms).
#pragma once

#include <atomic>
#include <thread>

#include "VirtualModule.h"

namespace Veltrano::Sim {

enum class SessionEnd { PeerClosed, FaultClose, Away, Stopped, Error };

// Runs on the calling thread. The descriptor is switched to non-blocking mode and
// stays open (the caller owns it).
SessionEnd runModuleSession(VirtualModule& module, int fd, const std::atomic<bool>& stop);

// While the module is away: waits for it, polling every 20 ms, and throws away
// what the peer sends on fd meanwhile (-1: no descriptor). False when stopped.
bool awaitModuleReturn(VirtualModule& module, int fd, const std::atomic<bool>& stop);

// A module served on one descriptor by a thread of its own (for socketpairs).
// Takes the descriptor over and closes it when the session ends or on stop().
class ModuleRunner {
  public:
    ModuleRunner(VirtualModule& module, int fd);
    ~ModuleRunner();
    ModuleRunner(const ModuleRunner&) = delete;
    ModuleRunner& operator=(const ModuleRunner&) = delete;

    void stop();

  private:
    VirtualModule& module_;
    int fd_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace Veltrano::Sim
