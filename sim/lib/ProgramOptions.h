// Small helpers shared by the emulator programs: numbers from the command line and
// waiting for the signal that ends the program.
#pragma once

#include <signal.h>

namespace Veltrano::Sim {

// The whole text as an unsigned number of the base (0: C prefixes); throws
// std::invalid_argument otherwise or when it exceeds max.
unsigned long programNumber(const char* text, int base, unsigned long max);

// Blocks SIGINT and SIGTERM in this thread (call before starting any thread, so that
// every thread inherits the mask) and answers the set for awaitTermination.
sigset_t blockTerminationSignals();

// Waits until SIGINT or SIGTERM arrives.
void awaitTermination(const sigset_t& signals);

} // namespace Veltrano::Sim
