// Where the firmware-file code sends its diagnostic lines.
//
// The library never prints. The application installs a sink that forwards each line
// to its own log; without one, the lines are dropped (and never even formatted).
#ifndef UPDATERLIB_BIRDLOG_H
#define UPDATERLIB_BIRDLOG_H

#include "aDefs.h"

// Log category of the firmware-file code (its -X bit).
constexpr uint32 birdLogCategory = 0x00000008;

// Receives one formatted line (it carries its own line end) and its category mask.
typedef void (*BirdLogSink)(uint32 mask, const char* line);

// Installs the process-wide sink; nullptr drops every line. Safe from any thread.
void setBirdLogSink(BirdLogSink sink);

// Formats a line (at most 2047 characters) and hands it to the sink, if one is set.
void birdLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif
