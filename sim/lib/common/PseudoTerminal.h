// A pseudo-terminal pair for an emulator that stands at the far end of a serial
// port: the host opens path as its port, the emulator reads and writes master.
#pragma once

#include <string>

namespace Veltrano::Sim {

struct PseudoTerminal {
    int master = -1;
    // Held open by the emulator, so the terminal keeps its settings and never hangs
    // up between the host's openings.
    int slave = -1;
    std::string path;
};

// A raw pseudo-terminal at 115200 baud. Throws std::runtime_error when none can
// be made.
PseudoTerminal openPseudoTerminal();

} // namespace Veltrano::Sim
