// libsodium must be initialised once before its signatures and random numbers are
// used; every caller in the signing room goes through this.
#ifndef UPDATER_SODIUMREADY_H
#define UPDATER_SODIUMREADY_H

// Initialises libsodium on first use (thread-safe); throws std::runtime_error when
// it cannot be.
void sodiumReady();

#endif
