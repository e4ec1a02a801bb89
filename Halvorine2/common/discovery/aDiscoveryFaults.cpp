#include "aDiscoveryFaults.h"

#include <atomic>

namespace {
std::atomic<int> sFault{aDISCOVERY_STEP_NONE};
}

extern "C" {

void aDiscovery_InjectFault(aDiscoveryStep step) {
    sFault.store(step);
}

bool aDiscovery_StepGoes(aDiscoveryStep step) {
    return sFault.load() != step;
}

} // extern "C"
