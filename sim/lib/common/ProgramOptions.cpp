#include "ProgramOptions.h"

#include <pthread.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

int runEmulatorProgram(const char* name, const char* usage, int argc, char** argv,
                       const std::function<void(int argc, char** argv)>& parse,
                       const std::function<std::shared_ptr<void>()>& start) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(usage, stdout);
        return 0;
    }
    try {
        parse(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n%s", name, e.what(), usage);
        return 2;
    }
    sigset_t signals = blockTerminationSignals();
    try {
        std::shared_ptr<void> emulator = start();
        std::printf("ready\n");
        std::fflush(stdout);
        awaitTermination(signals);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", name, e.what());
        return 1;
    }
    return 0;
}

} // namespace Veltrano::Sim
