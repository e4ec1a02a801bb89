// Faults the virtual module injects into what it sends and how long it talks.
#pragma once

#include <cstdint>
#include <set>

#include "ReplyFaults.h"

namespace Veltrano::Sim {

struct ModuleFaults {
    // Indices (from 0, counted over the connection) of output bytes to leave out.
    std::set<uint64_t> dropBytes;
    // Indices of output bytes sent inverted (xor 0xFF), which breaks framing.
    std::set<uint64_t> garbleBytes;
    // After this many received packets the module answers nothing more; -1 never.
    int64_t silentAfterPackets = -1;
    // After this many received packets the module closes the connection; -1 never.
    int64_t closeAfterPackets = -1;
    // Faults in the replies to chosen request types.
    ReplyFaults replies;
};

} // namespace Veltrano::Sim
