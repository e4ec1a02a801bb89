#include "SodiumReady.h"

#include <sodium.h>

#include <stdexcept>

void sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    if (!ready) throw std::runtime_error("libsodium could not be initialised");
}
