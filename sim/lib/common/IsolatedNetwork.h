// The emulators that send multicast or broadcast traffic run only in a network namespace
// that a test made: one whose interfaces are loopback and veth pairs and nothing else,
// so that nothing they send can reach a real network. The machine's own namespace has a
// real interface and is refused.
#pragma once

namespace Veltrano::Sim {

// True when every interface of this thread's network namespace is loopback or veth.
bool inIsolatedNetwork();

// Throws std::runtime_error unless inIsolatedNetwork().
void requireIsolatedNetwork(const char* who);

} // namespace Veltrano::Sim
