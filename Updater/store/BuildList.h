// Builds of a device: build-number text to version text, in byte-wise key order.
#ifndef UPDATER_BUILDLIST_H
#define UPDATER_BUILDLIST_H

#include <map>
#include <string>

using BuildList = std::map<std::string, std::string>;

#endif
