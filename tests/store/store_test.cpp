// The updater store on a real file system: directory creation and its failures,
// finding and making device records, listing a device's items, loading and writing
// stored files.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "../updater/LogCapture.h"
#include "../updater/RecordingDisplay.h"
#include "BirdWriter.h"
#include "TempDir.h"
#include "UpdaterStore.h"
#include "aFile.h"

namespace {

bool isDirectory(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool exists(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

std::vector<std::string> names(const DeviceRecordList& list) {
    std::vector<std::string> result;
    for (const DeviceRecord& record : list)
        result.push_back(record.name);
    return result;
}

// Every entry of a directory but "." and "..", sorted.
std::vector<std::string> listing(const std::string& path) {
    std::vector<std::string> entries;
    if (DIR* directory = opendir(path.c_str())) {
        while (dirent* entry = readdir(directory))
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
                entries.push_back(entry->d_name);
        closedir(directory);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

} // namespace

TEST(UpdaterStore, OpeningCreatesTheRootWithItsParents) {
    TempDir dir;
    LogCapture log(DEBUG_Updater);
    RecordingDisplay display;
    const std::string root = dir / "a/b/updater";
    std::unique_ptr<UpdaterStore> store = openStore(&display, root, "Download_Firmware");
    ASSERT_NE(store, nullptr);
    EXPECT_TRUE(isDirectory(root));
    EXPECT_NE(log.text().find("UpdaterStore: Created directory [" + root + "].\n"), std::string::npos);
    // A second open finds it.
    EXPECT_NE(openStore(&display, root, "Download_Firmware"), nullptr);
    EXPECT_NE(log.text().find("UpdaterStore: [" + root + "] already exists.\n"), std::string::npos);
    EXPECT_TRUE(display.errors.empty());
}

TEST(UpdaterStore, PlainFileAtTheRootFailsTheOpen) {
    TempDir dir;
    RecordingDisplay display;
    const std::string root = dir.write("updater", "not a directory");
    EXPECT_EQ(openStore(&display, root, "Get_BuildListLocal"), nullptr);
    ASSERT_EQ(display.errors.size(), 1u);
    EXPECT_EQ(display.errors[0],
              "Failed to Create UpdaterStore in: Get_BuildListLocal - Exception: UpdaterStore: " + root +
                  " exists and is a file");
}

TEST(UpdaterStore, RootThatCannotBeCreatedFailsTheOpen) {
    TempDir dir;
    RecordingDisplay display;
    dir.write("file", "x");
    EXPECT_EQ(openStore(&display, dir / "file/updater", "Download_Firmware"), nullptr);
    ASSERT_EQ(display.errors.size(), 1u);
    EXPECT_EQ(display.errors[0].rfind("Failed to Create UpdaterStore in: Download_Firmware - Exception: "
                                      "UpdaterStore: Could not create directory " +
                                          dir / "file/updater" + " error ",
                                      0),
              0u)
        << display.errors[0];
}

TEST(UpdaterStore, MakeDeviceCreatesTheDirectoryAndAttributes) {
    TempDir dir;
    UpdaterStore store(dir.path());
    DeviceRecord record = store.makeDevice(0x1A2B);
    EXPECT_EQ(record.directory, dir.path());
    EXPECT_EQ(record.name, "00001A2B");
    EXPECT_TRUE(record.isDirectory);
    EXPECT_TRUE(isDirectory(dir / "00001A2B"));
    const std::string settings = TempDir::read(dir / "00001A2B/.settings");
    EXPECT_NE(settings.find("CREATED_TIME="), std::string::npos);
    EXPECT_NE(settings.find("UPDATED_TIME="), std::string::npos);
    EXPECT_EQ(record.attributes.fileName(), dir / "00001A2B/.settings");
    // A plain file named like the device stops it.
    dir.write("0000BEEF", "x");
    EXPECT_THROW(store.makeDevice(0xBEEF), std::runtime_error);
}

TEST(UpdaterStore, FindDeviceMatchesTheEntryNameOnly) {
    TempDir dir;
    // The root's own path holds the serial number: that must not count as a match.
    UpdaterStore store(dir / "00001A2B/updater");
    store.makeDevice(0x40F5849A);
    DeviceRecord record;
    EXPECT_FALSE(store.FindDevice(0x1A2B, &record));
    EXPECT_FALSE(exists(dir / "00001A2B/updater/00001A2B"));
    // Other entries that merely contain the name are no match either.
    dir.write("00001A2B/updater/00001A2B.old", "x");
    EXPECT_FALSE(store.FindDevice(0x1A2B));
    EXPECT_TRUE(store.FindDevice(0x40F5849A, &record));
    EXPECT_EQ(record.name, "40F5849A");
    EXPECT_EQ(record.directory, store.root());
}

TEST(UpdaterStore, FindDeviceCreatesAMissingAttributesFile) {
    TempDir dir;
    LogCapture log(DEBUG_Updater);
    UpdaterStore store(dir.path());
    ASSERT_EQ(mkdir((dir / "40F5849A").c_str(), 0755), 0);
    DeviceRecord record;
    EXPECT_TRUE(store.FindDevice(0x40F5849A, &record));
    EXPECT_TRUE(record.isDirectory);
    EXPECT_TRUE(exists(dir / "40F5849A/.settings"));
    // Without a record nothing is read.
    ASSERT_EQ(mkdir((dir / "0000ABCD").c_str(), 0755), 0);
    EXPECT_TRUE(store.FindDevice("0000ABCD"));
    EXPECT_FALSE(exists(dir / "0000ABCD/.settings"));
    const std::string text = log.text();
    EXPECT_NE(text.find("UpdaterStore: FindDevice Found 40F5849A.\n"), std::string::npos);
    EXPECT_NE(text.find("_find_item([" + dir / "40F5849A" + "], 1, "), std::string::npos);
}

TEST(UpdaterStore, ListDeviceItemsSkipsHiddenEntries) {
    TempDir dir;
    UpdaterStore store(dir.path());
    DeviceRecordList list;
    EXPECT_TRUE(store.listDeviceItems(0x40F5849A, list));
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(exists(dir / "40F5849A"));

    store.makeDevice(0x40F5849A);
    dir.write("40F5849A/12.bird", "a");
    dir.write("40F5849A/13.bird", "b");
    dir.write("40F5849A/.12.bird.part", "c");
    EXPECT_TRUE(store.listDeviceItems(0x40F5849A, list));
    std::vector<std::string> found = names(list);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"12.bird", "13.bird"}));
    for (const DeviceRecord& item : list) {
        EXPECT_FALSE(item.isDirectory);
        EXPECT_EQ(item.directory, dir / "40F5849A");
    }
}

TEST(UpdaterStore, WriteFileReplacesWholeFilesOnly) {
    TempDir dir;
    UpdaterStore store(dir.path());
    DeviceRecord record = store.makeDevice(0x40F5849A);
    const uint8_t bytes[] = {'b', 'i', 'r', 'd', 0, 1};
    EXPECT_EQ(store.writeFile(record, "5.bird", nullptr, 6), aErrNotFound);
    EXPECT_FALSE(exists(dir / "40F5849A/5.bird"));

    EXPECT_EQ(store.writeFile(record, "5.bird", bytes, sizeof bytes), aErrNone);
    EXPECT_EQ(TempDir::read(dir / "40F5849A/5.bird"), std::string("bird\0\1", 6));
    EXPECT_EQ(store.writeFile(record, "5.bird", bytes, 2), aErrNone);
    EXPECT_EQ(TempDir::read(dir / "40F5849A/5.bird"), "bi");

    // A device directory that went away: an error, and nothing half-written anywhere.
    DeviceRecord gone = record;
    gone.name = "00000000";
    EXPECT_EQ(store.writeFile(gone, "5.bird", bytes, sizeof bytes), aErrNotFound);
    EXPECT_FALSE(exists(dir / "00000000"));

    // A directory where the file should go cannot be replaced: not found, as any file
    // that cannot be opened for writing.
    ASSERT_EQ(mkdir((dir / "40F5849A/6.bird").c_str(), 0755), 0);
    EXPECT_EQ(store.writeFile(record, "6.bird", bytes, sizeof bytes), aErrNotFound);
    EXPECT_EQ(listing(dir / "40F5849A"), (std::vector<std::string>{".settings", "5.bird", "6.bird"}));
}

// A file that the listing could not name, or whose device record could not be kept
// beside it, is not written at all.
TEST(UpdaterStore, WriteFileHonoursThePathLimit) {
    const uint8_t bytes[] = {'b', 'i', 'r', 'd', 1, 1};
    const struct {
        size_t deviceLength; // of the device directory's path
        const char* name;
        aErr result;
    } cases[] = {
        // The longest that fits: ".settings" then takes 259 characters, 28.bird 257.
        {aFILE_MAXPATH - 11, "28.bird", aErrNone},
        {aFILE_MAXPATH - 11, "4294967295.bird", aErrFileNameLength},
        // 28.bird would fit, but the attributes beside it would not.
        {aFILE_MAXPATH - 10, "28.bird", aErrFileNameLength},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.deviceLength) + " " + c.name);
        TempDir dir;
        const size_t rootLength = c.deviceLength - std::string("/40F5849A").size();
        ASSERT_LT(dir.path().size() + 1, rootLength);
        UpdaterStore store(dir.path() + "/" + std::string(rootLength - dir.path().size() - 1, 'r'));
        DeviceRecord record = store.makeDevice(0x40F5849A);
        const std::string device = store.root() + "/40F5849A";
        ASSERT_EQ(device.size(), c.deviceLength);
        EXPECT_EQ(store.writeFile(record, c.name, bytes, sizeof bytes), c.result);
        DeviceRecordList items;
        store.listDeviceItems(0x40F5849A, items);
        EXPECT_EQ(names(items),
                  c.result == aErrNone ? std::vector<std::string>{c.name} : std::vector<std::string>{});
        EXPECT_EQ(exists(device + "/" + c.name), c.result == aErrNone);
    }
}

TEST(UpdaterStore, LoadBirdNeedsABirdFile) {
    TempDir dir;
    UpdaterStore store(dir.path());
    DeviceRecord record = store.makeDevice(0x40F5849A);
    BirdWriter writer;
    writer.addIdentity("1.2.3", 0x40F5849A, "VT-Router");
    writer.addFirmwareImage(0x1000, std::vector<uint8>(64, 0xAA));
    writer.writeFile(dir / "40F5849A/7.bird");
    EXPECT_EQ(store.loadBird(record, "7.bird").version(), "1.2.3");

    dir.write("40F5849A/8.bird", "not a bird");
    for (const char* name : {"8.bird", "9.bird"}) {
        try {
            store.loadBird(record, name);
            ADD_FAILURE() << name;
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()), "Invalid bird " + dir / "40F5849A/" + name);
        }
    }
}
