// The update server's plain-text reply grammar: lines separated by "\n", the first
// beginning with "ok", the operation's values on the lines after it. Pure parsing,
// no I/O, so every reply form can be checked (and fuzzed) without a server.
#ifndef UPDATER_SERVERCOMMREPLY_H
#define UPDATER_SERVERCOMMREPLY_H

#include <cstdint>
#include <string>
#include <vector>

#include "BuildList.h"

namespace ServerCommReply {

// Splits text at any of the delimiter characters; empty pieces are dropped, so
// consecutive delimiters count as one.
std::vector<std::string> tokens(const std::string& text, const char* delimiters);

// The reply's lines (empty ones dropped), and whether the first begins with "ok".
bool isOk(const std::string& body, std::vector<std::string>& lines);

// Latest-build reply: line 2 is the build, line 3 (cut at "\r") the firmware
// identifier. Each out-value is written only when its line is present.
void latestBuild(const std::vector<std::string>& lines, std::string& build, std::string& firmwareId);

// Build-list reply: each line after the first of at least 3 characters is
// "build;version"; the first entry for a build number wins.
void buildList(const std::vector<std::string>& lines, BuildList& builds);

// Build reply: line 2, or "" when there is none.
std::string buildPayload(std::vector<std::string> lines);

// The same for a whole build reply, without splitting it into lines: when its first
// line begins with "ok", body becomes line 2 ("" when there is none), cut out in
// place, since a build runs to megabytes; otherwise false and body is untouched.
bool takeBuildPayload(std::string& body);

// Recovery reply: line 2 the serial number in hexadecimal, line 3 the build number
// (0x prefix hexadecimal, leading 0 octal, else decimal). Each written only when
// present; values beyond 32 bits saturate at FFFFFFFF.
void recoveryInfo(const std::vector<std::string>& lines, uint32_t& serialNumber, uint32_t& buildNumber);

} // namespace ServerCommReply

#endif
