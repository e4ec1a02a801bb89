// Faults in the module's replies, chosen per request type, so that each way a
// host can be let down is shown: no reply, the protocol's error reply, a reply
// whose checked byte (checksum, echoed byte, count) is wrong, a reply one byte
// short, or the right reply sent late (after the host's wait, as from a module
// busy erasing).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace Veltrano::Sim {

enum class ReplyFaultKind { NoReply, ErrorReply, Corrupt, Short, Late };

struct ReplyFault {
    ReplyFaultKind kind = ReplyFaultKind::NoReply;
    uint32_t skip = 0;   // requests of the type answered normally first
    int32_t times = -1;  // requests then faulted; -1: all that follow
    uint8_t error = 6;   // the code an error reply carries (aErrIO)
    uint32_t lateMs = 0; // Late: how long after the request the reply goes
};

// Keyed by request type, one of kReplyFaultRequests.
using ReplyFaults = std::map<std::string, ReplyFault>;

// The request types a fault can be chosen for, as "name: what it is".
extern const char* const kReplyFaultRequests[];

// "TYPE=KIND[:SKIP[:TIMES[:ERROR]]]" with KIND none|error|corrupt|short|late=MS
// ("none" for no reply, "late=MS" for the reply MS milliseconds late). Empty for
// a malformed text or an unknown type.
std::optional<std::pair<std::string, ReplyFault>> parseReplyFault(const std::string& text);

} // namespace Veltrano::Sim
