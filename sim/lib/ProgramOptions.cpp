#include "ProgramOptions.h"

#include <pthread.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace Veltrano::Sim {

unsigned long programNumber(const char* text, int base, unsigned long max) {
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(text, &end, base);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || value > max)
        throw std::invalid_argument(std::string("bad number: ") + text);
    return value;
}

sigset_t blockTerminationSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

void awaitTermination(const sigset_t& signals) {
    int signal = 0;
    sigwait(&signals, &signal);
}

} // namespace Veltrano::Sim
