// Serves a virtual module on a pseudo-terminal: the host opens slavePath() as its
// serial port. The module keeps a slave descriptor of its own open, so the
// terminal stays raw and does not hang up between the host's openings.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "VirtualModule.h"

namespace Veltrano::Sim {

class ModulePty {
  public:
    // Throws std::runtime_error when no pseudo-terminal can be made.
    explicit ModulePty(VirtualModule& module);
    ~ModulePty();
    ModulePty(const ModulePty&) = delete;
    ModulePty& operator=(const ModulePty&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    // True once the session has ended (the fault plan closed the terminal).
    bool closed() const { return closed_; }
    void stop();

  private:
    VirtualModule& module_;
    int masterFd_ = -1;
    int slaveFd_ = -1;
    std::string slavePath_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> closed_{false};
    std::thread thread_;
};

} // namespace Veltrano::Sim
