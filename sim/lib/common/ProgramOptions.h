// Small helpers shared by the emulator programs: numbers from the command line and
// waiting for the signal that ends the program.
#pragma once

#include <signal.h>

#include <functional>
#include <memory>

namespace Veltrano::Sim {

// The whole text as an unsigned number of the base (0: C prefixes); throws
// std::invalid_argument otherwise or when it exceeds max.
unsigned long programNumber(const char* text, int base, unsigned long max);

// Blocks SIGINT and SIGTERM in this thread (call before starting any thread, so that
// every thread inherits the mask) and answers the set for awaitTermination.
sigset_t blockTerminationSignals();

// Waits until SIGINT or SIGTERM arrives.
void awaitTermination(const sigset_t& signals);

// The frame of an emulator program: "--help" or "-h" alone prints the usage; parse reads
// the options (std::invalid_argument: the message and the usage on standard error, exit
// status 2); then, with SIGINT and SIGTERM blocked in every thread, start makes the
// emulator, "ready" goes out on the first line, and the program serves until one of them
// arrives (exit status 0). An emulator that cannot start: its message, exit status 1.
int runEmulatorProgram(const char* name, const char* usage, int argc, char** argv,
                       const std::function<void(int argc, char** argv)>& parse,
                       const std::function<std::shared_ptr<void>()>& start);

} // namespace Veltrano::Sim
