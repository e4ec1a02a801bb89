// One entry of the updater store: a device directory under the store root, or an
// item inside a device directory, with the attributes read for it.
#ifndef UPDATER_DEVICERECORD_H
#define UPDATER_DEVICERECORD_H

#include <string>
#include <vector>

#include "AttributesFile.h"

struct DeviceRecord {
    std::string directory; // the directory that contains the entry (the store root for devices)
    std::string name;      // the entry's own name ("40F5849A", "12.bird")
    bool isDirectory = false;
    AttributesFile attributes;
};

using DeviceRecordList = std::vector<DeviceRecord>;

#endif
