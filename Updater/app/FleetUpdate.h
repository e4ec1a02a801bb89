// -U (and -G) with several -d: the modules updated at once, each on its own link
// and thread, each exactly as a single update would run, with one line per module
// as it finishes and a summary table at the end.
#ifndef UPDATER_FLEETUPDATE_H
#define UPDATER_FLEETUPDATE_H

#include <cstdint>
#include <string>
#include <vector>

#include "JsonViews.h"
#include "UpdateResult.h"
#include "UpdaterApp.h"

struct FleetRequest {
    std::vector<uint32_t> serialNumbers; // as given, repeats included
    uint32_t routerSerialNumber = 0;
    bool download = false; // -G first, then the update with the build it stored
    bool update = true;
    std::string build;     // -b text; empty: the latest
    std::string birdFilePath;
    bool override = false;
    uint32_t jobs = 0;     // modules at once; 0: all
};

// Runs the request; the exit status (0 only when every module succeeded). doc,
// when given, receives "updates" and "fleet".
int runFleet(UpdaterApp& app, const FleetRequest& request, Json* doc);

// The summary lines for results, in the order given.
std::vector<std::string> fleetSummary(const std::vector<UpdateResult>& results);

#endif
