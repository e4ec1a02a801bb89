#include "ModulePty.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "ModuleSession.h"

namespace Veltrano::Sim {

ModulePty::ModulePty(VirtualModule& module) : module_(module) {
    masterFd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {0};
    if (masterFd_ < 0 || ::grantpt(masterFd_) != 0 || ::unlockpt(masterFd_) != 0 ||
        ::ptsname_r(masterFd_, name, sizeof name) != 0) {
        std::string reason = std::strerror(errno);
        if (masterFd_ >= 0) ::close(masterFd_);
        throw std::runtime_error("cannot make a pseudo-terminal: " + reason);
    }
    slavePath_ = name;
    slaveFd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (slaveFd_ < 0 || ::tcgetattr(slaveFd_, &settings) != 0) {
        std::string reason = std::strerror(errno);
        if (slaveFd_ >= 0) ::close(slaveFd_);
        ::close(masterFd_);
        throw std::runtime_error("cannot open " + slavePath_ + ": " + reason);
    }
    ::cfmakeraw(&settings);
    ::tcsetattr(slaveFd_, TCSANOW, &settings);
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
