#include "PseudoTerminal.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace Veltrano::Sim {

PseudoTerminal openPseudoTerminal() {
    PseudoTerminal pty;
    pty.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {0};
    if (pty.master < 0 || ::grantpt(pty.master) != 0 || ::unlockpt(pty.master) != 0 ||
        ::ptsname_r(pty.master, name, sizeof name) != 0) {
        std::string reason = std::strerror(errno);
        if (pty.master >= 0) ::close(pty.master);
        throw std::runtime_error("cannot make a pseudo-terminal: " + reason);
    }
    pty.path = name;
    pty.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios terminal{};
    if (pty.slave < 0 || ::tcgetattr(pty.slave, &terminal) != 0) {
        std::string reason = std::strerror(errno);
        if (pty.slave >= 0) ::close(pty.slave);
        ::close(pty.master);
        throw std::runtime_error("cannot open " + pty.path + ": " + reason);
    }
    ::cfmakeraw(&terminal);
    ::cfsetispeed(&terminal, B115200);
    ::cfsetospeed(&terminal, B115200);
    ::tcsetattr(pty.slave, TCSANOW, &terminal);
    return pty;
}

} // namespace Veltrano::Sim
