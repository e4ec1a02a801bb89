#include "ModulePty.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "ModuleSession.h"
#include "PseudoTerminal.h"

namespace Veltrano::Sim {

ModulePty::ModulePty(VirtualModule& module) : module_(module) {
    PseudoTerminal pty = openPseudoTerminal();
    masterFd_ = pty.master;
    slaveFd_ = pty.slave;
    slavePath_ = pty.path;
    thread_ = std::thread([this] {
        // A module that is away stays silent on its line and then talks again.
        SessionEnd end;
        do
            end = runModuleSession(module_, masterFd_, stop_);
        while (end == SessionEnd::Away && awaitModuleReturn(module_, masterFd_, stop_));
        if (end == SessionEnd::FaultClose) {
            ::close(slaveFd_);
            ::close(masterFd_);
            slaveFd_ = masterFd_ = -1;
        }
        closed_ = true;
    });
}

ModulePty::~ModulePty() {
    stop();
}

void ModulePty::stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (slaveFd_ >= 0) ::close(slaveFd_);
    if (masterFd_ >= 0) ::close(masterFd_);
    slaveFd_ = masterFd_ = -1;
}

} // namespace Veltrano::Sim
