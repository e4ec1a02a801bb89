// The local time as the standard ctime text without its line feed, 24 characters
// (as "Tue Dec  8 10:30:54 2026"). Stored files record their dates this way.
#ifndef UPDATER_TIMESTAMP_H
#define UPDATER_TIMESTAMP_H

#include <ctime>
#include <string>

std::string timestampText(time_t when);
std::string currentTimestamp();

#endif
