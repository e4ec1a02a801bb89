#include "aStreamUSBBackend.h"

#include <atomic>

namespace {

std::atomic<const aStreamUSBBackend*> sBackend{nullptr};

} // namespace

extern "C" {

void aStreamUSB_SetBackend(const aStreamUSBBackend* backend) { sBackend.store(backend); }

const aStreamUSBBackend* aStreamUSB_GetBackend(void) {
    const aStreamUSBBackend* backend = sBackend.load();
    return backend ? backend : aStreamUSB_LibusbBackend();
}

} // extern "C"
