// The builds a device's store directory holds, as -L lists them and -I shows them.
#ifndef UPDATER_STOREDBUILDS_H
#define UPDATER_STOREDBUILDS_H

#include <cstdint>

#include "BuildList.h"
#include "UpdaterStore.h"

// One entry per visible item of the device's directory but signature files: the key is the name up to
// its first ".bird" (the whole name when it holds none), the version that of the
// BIRD file ("" for anything that is no BIRD file or does not load). Of items with
// the same key the first found stays. Empty when the device is not in the store.
BuildList storedBuilds(UpdaterStore& store, uint32_t serialNumber);

#endif
