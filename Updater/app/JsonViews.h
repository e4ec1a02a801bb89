// The pieces of the --json document, one per kind of fact a command reports.
// Their shape is written down in UpdaterOutput.schema.json and the README; a
// change here is a change of that contract.
#ifndef UPDATER_JSONVIEWS_H
#define UPDATER_JSONVIEWS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "BirdFile.h"
#include "BuildList.h"
#include "DiscoveredDevice.h"
#include "UpdateResult.h"

// Members keep the order they were added in, so "schema" leads the document.
using Json = nlohmann::ordered_json;

// The version of the document's shape; raised only when a member changes meaning
// or goes away.
constexpr int kJsonSchemaVersion = 1;

// A serial number as the 8-digit upper-case hex text the tables show.
std::string serialText(uint32_t serialNumber);

// A discovered module: serial, addresses, model, firmware, and how it was reached.
Json jsonDevice(const DiscoveredDevice& device);
// Builds newest first, as the listings print them.
Json jsonBuilds(const BuildList& builds);
// A stored record's attributes, in file order of keys.
Json jsonAttributes(const std::map<std::string, std::string>& values);
// A BIRD file's identity, the models it fits, its serial locations and blocks.
Json jsonBird(const BirdFile& file, const std::string& path);
// Four fingerprint words, each as 8-digit hex text.
Json jsonFingerprint(const uint32_t words[4]);
// One module's update.
Json jsonUpdate(const UpdateResult& result);
// A failure: the code where one is known, the text the user read, and every
// error line of the run.
Json jsonError(int code, const std::string& text, const std::vector<std::string>& lines);

#endif
