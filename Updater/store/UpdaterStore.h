// The updater's store: under its root, one directory per device named after the
// serial number ("%08X"), holding the device's attributes file (".settings") and
// the BIRD files downloaded for it ("<build>.bird").
//
// Failures to create directories travel as std::runtime_error; a device that is not
// in the store is no error (not found, or an empty list).
#ifndef UPDATER_UPDATERSTORE_H
#define UPDATER_UPDATERSTORE_H

#include <cstdint>
#include <memory>
#include <string>

#include "BirdFile.h"
#include "DeviceRecord.h"
#include "UpdaterDisplayInterface.h"
#include "aError.h"

class UpdaterStore {
  public:
    // Creates root (and its parents) when missing; throws when it cannot, or when a
    // plain file stands in its place.
    explicit UpdaterStore(const std::string& root);

    const std::string& root() const { return m_root; }

    // Makes sure path is a directory, creating it and its parents when missing.
    static void ensureDirectory(const std::string& path);

    // The device's record; its directory and attributes file are created when missing.
    DeviceRecord makeDevice(uint32_t serialNumber);

    // Whether the root holds an entry named name (or the serial number as "%08X");
    // fills record when one is given. Creates nothing but a missing attributes file.
    bool FindDevice(uint32_t serialNumber, DeviceRecord* record = nullptr);
    bool FindDevice(const std::string& name, DeviceRecord* record = nullptr);

    // Appends a record per visible entry (names not starting with ".") of the
    // device's directory, in the file system's order. Always true.
    bool listDeviceItems(uint32_t serialNumber, DeviceRecordList& list);

    // The BIRD file fileName inside the record's directory; throws
    // "Invalid bird <path>" when it is missing or no BIRD file.
    BirdFile loadBird(const DeviceRecord& record, const std::string& fileName);

    // Stores bytes as fileName inside the record's directory. The bytes go to a
    // temporary file that replaces fileName only once complete, so a failure never
    // leaves a partial file under that name. aErrNotFound without bytes or when the
    // file cannot be created or put in place; aErrWrite when the bytes cannot be
    // written; aErrFileNameLength, with nothing written, when the file's path or the
    // record's attributes path is too long for the store to list or read back
    // (aFILE_MAXPATH bytes with the closing NUL).
    aErr writeFile(const DeviceRecord& record, const std::string& fileName, const uint8_t* bytes,
                   uint32_t length);

  private:
    std::string m_root;
};

// Creates the store for a command; on failure shows "Failed to Create UpdaterStore
// in: <caller> - Exception: <text>" and returns none.
std::unique_ptr<UpdaterStore> openStore(UpdaterDisplayInterface* display, const std::string& root,
                                        const char* callerName);

#endif
