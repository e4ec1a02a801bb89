// How one module's update went, for machine-readable output and the fleet
// summary: the step it stopped at, why, and what the module ran before and after.
#ifndef UPDATER_UPDATERESULT_H
#define UPDATER_UPDATERESULT_H

#include <cstdint>
#include <string>
#include <vector>

#include "RunningFirmware.h"
#include "aError.h"

// A line shown to the user, on standard error when error is set.
struct ShownLine {
    bool error = false;
    std::string text;
};

struct UpdateResult {
    uint32_t serialNumber = 0;
    bool ok = false;
    // The step that failed, one of: "options", "store", "build", "file",
    // "connect", "validate", "loader", "loader-return", "firmware", "reboot",
    // "verify", "download", "not-found", "internal". Empty after success.
    std::string step;
    aErr error = aErrNone;  // the library's code where one caused the failure
    std::string errorText;  // the first error line the user read, else the code's text
    std::string model;      // model name of the module as reached; empty when never reached
    std::string reachedOn;  // "USB", "TCPIP" or empty
    // What the module ran before the transfer and after its reboot, where read.
    bool beforeRead = false;
    RunningFirmware before;
    bool afterRead = false;
    RunningFirmware after;
    uint64_t bytesSent = 0; // loader and firmware block bytes that went through
    double seconds = 0.0;
    // A fleet module's own lines, held back while others run; empty otherwise.
    std::vector<ShownLine> lines;
};

#endif
