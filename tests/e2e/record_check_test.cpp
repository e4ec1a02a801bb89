// -I (a device's stored record) and -C (a BIRD file check) run as the built Updater:
// their output, their failures and their exit status.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "BirdBytes.h"
#include "BirdWriter.h"
#include "Subprocess.h"
#include "UpdaterProcess.h"
#include "TempDir.h"

namespace {

const std::string kBanner = "Updater (Version: 2.11.2 Apr 29 2025)\n";
const std::string kTableHeader = "  #    Type  Flags  Length      Address     Kind\n";

class RecordAndCheck : public ::testing::Test {
  protected:
    SubprocessResult updater(std::vector<std::string> args) {
        args.insert(args.end(), {"-i", dir / "store"});
        SubprocessResult r = runUpdater(args, dir / "home");
        EXPECT_TRUE(r.started);
        EXPECT_FALSE(r.timedOut);
        return r;
    }

    // The device directory (made on first use) or a file inside it.
    std::string device(const std::string& name = "") {
        for (const char* level : {"/store", "/store/updater", "/store/updater/40F5849A"})
            mkdir((dir.path() + level).c_str(), 0755);
        return dir / ("store/updater/40F5849A" + (name.empty() ? "" : "/" + name));
    }

    // A run that prints only the banner and err, and fails.
    void expectFailure(const std::vector<std::string>& args, const std::string& err) {
        SCOPED_TRACE(args.back());
        SubprocessResult r = updater(args);
        EXPECT_EQ(r.out, kBanner);
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(r.exitStatus, 1);
    }

    // What -I prints before the attributes.
    std::string recordHeading() {
        return kBanner + "Device:            40F5849A\nDirectory:         " + device() + "\n";
    }

    TempDir dir;
};

} // namespace

TEST_F(RecordAndCheck, InfoShowsTheStoredRecord) {
    const std::string record = "CREATED_TIME=Mon Dec  7 09:00:00 2026\nLATEST_DOWNLOAD=28.bird\n"
                               "LATEST_TRANSFER=\n";
    device();
    dir.write("store/updater/40F5849A/.settings", record);
    dir.write("store/updater/40F5849A/27.bird", birdFileBytes("1.2.3", 0x40F5849A, "VT-Router"));
    dir.write("store/updater/40F5849A/28.bird", birdFileBytes("1.10.0", 0, "VT-Router"));
    dir.write("store/updater/40F5849A/notes.txt", "not firmware");
    SubprocessResult r = updater({"-I", "-d", "40F5849A"});
    EXPECT_EQ(r.out, recordHeading() + "Attributes:\n"
                                       "  CREATED_TIME         Mon Dec  7 09:00:00 2026\n"
                                       "  LATEST_DOWNLOAD      28.bird\n"
                                       "  LATEST_TRANSFER\n"
                                       "Build List for device [40F5849A]:\n\n"
                                       "Build          \tVersion        \n"
                                       "28             \t1.10.0         \n"
                                       "27             \t1.2.3          \n"
                                       "notes.txt      \t               \n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 0);
    // Showing the record changes nothing in it.
    EXPECT_EQ(TempDir::read(device(".settings")), record);
}

// A FIFO among the stored files is listed without a version: reading it would wait
// for a writer that never comes.
TEST_F(RecordAndCheck, StoredBuildsPassOverWhatIsNoRegularFile) {
    device();
    dir.write("store/updater/40F5849A/.settings", "");
    dir.write("store/updater/40F5849A/7.bird", birdFileBytes("1.2.3", 0, "VT-Router"));
    ASSERT_EQ(mkfifo(device("8.bird").c_str(), 0644), 0);
    SubprocessResult r = updater({"-L", "-d", "40F5849A"});
    EXPECT_EQ(r.out, kBanner + "Build List for device [40F5849A]:\n\n"
                               "Build          \tVersion        \n"
                               "7              \t1.2.3          \n"
                               "8              \t               \n");
    EXPECT_EQ(r.exitStatus, 0);
}

TEST_F(RecordAndCheck, InfoOnAnEmptyRecord) {
    device();
    dir.write("store/updater/40F5849A/.settings", "");
    SubprocessResult r = updater({"-I", "-d", "40F5849A"});
    EXPECT_EQ(r.out, recordHeading() + "Attributes:        none\n"
                                       "No builds found for device [40F5849A]\n");
    EXPECT_EQ(r.exitStatus, 0);
}

// A record that cannot be read to its end is not shown as an empty one, nor in part.
TEST_F(RecordAndCheck, InfoOnARecordThatCannotBeRead) {
    const std::string record = "CREATED_TIME=Mon Dec  7 09:00:00 2026\nNOTE=" + std::string(3000, 'n') + "\n";
    device();
    dir.write("store/updater/40F5849A/.settings", record);
    SubprocessResult r = updater({"-I", "-d", "40F5849A"});
    EXPECT_EQ(r.out, recordHeading() + "Attributes:        cannot be read\n"
                                       "No builds found for device [40F5849A]\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(TempDir::read(device(".settings")) == record);
}

TEST_F(RecordAndCheck, InfoFailures) {
    const std::string root = dir / "store/updater";
    device();
    // A plain file named after a device is no device record.
    dir.write("store/updater/1234ABCD", "x");
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"-I"}, "-I must specify a specific device via -d\n--help for usage information\n"},
        {{"-I", "-d", "1234ABCD"}, "No record of device [1234ABCD] in the store at " + root + "\n"},
        {{"-I", "-d", "0000BEEF"}, "No record of device [0000BEEF] in the store at " + root + "\n"},
    };
    for (const auto& c : cases)
        expectFailure(c.args, c.err);
    struct stat status;
    EXPECT_NE(stat((root + "/0000BEEF").c_str(), &status), 0) << "asking creates nothing";
}

TEST_F(RecordAndCheck, CheckShowsIdentityAndBlocks) {
    BirdWriter writer;
    writer.addIdentity("2.11.4", 0x40F5849A, "VT-Router");
    writer.addSerialLocations(0x1010, 0x1020);
    writer.addLoaderImage(0x20000000, std::vector<uint8>(16, 1), 1);
    writer.addFirmwareImage(0x1000, std::vector<uint8>(64, 2));
    writer.writeFile(dir / "42.bird");
    BirdWriter bare;
    bare.addFirmwareImage(0x1000, std::vector<uint8>(8, 3));
    bare.writeFile(dir / "bare.bird");

    // What the file is for: a build with serial-number locations fits any module of its
    // models, the target serial number telling nothing then.
    const struct {
        std::string file, out;
    } cases[] = {
        {dir / "42.bird", "Identity:\n"
                          "  Description:     \n"
                          "  Version:         2.11.4\n"
                          "  Target serial:   40F5849A\n"
                          "  Model name:      VT-Router\n"
                          "  Fits models:     VT-Router (27)\n"
                          "Serial locations:  serial number 0x00001010, descriptor 0x00001020\n"
                          "Start address:     none\n"
                          "Blocks:            4\n" +
                              kTableHeader +
                              "  1    4     0      64          -           identity\n"
                              "  2    2     0      8           -           serial locations\n"
                              "  3    0     1      20          0x20000000  loader image\n"
                              "  4    1     0      68          0x00001000  firmware image\n"},
        {dir / "bare.bird", "Identity:          none\n"
                            "Serial locations:  none\n"
                            "Start address:     none\n"
                            "Blocks:            1\n" +
                                kTableHeader +
                                "  1    1     0      12          0x00001000  firmware image\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        SubprocessResult r = updater({"-C", "-f", c.file});
        EXPECT_EQ(r.out, kBanner + "BIRD file:         " + c.file + "\n" + c.out);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitStatus, 0);
        // After the file's name, birdtool info shows the same.
        SubprocessResult info = runSubprocess(VELTRANO_BIN_DIR "/birdtool", {"info", c.file});
        ASSERT_NE(info.out.find("Identity:"), std::string::npos);
        EXPECT_EQ(r.out.substr(r.out.find("Identity:")), info.out.substr(info.out.find("Identity:")));
    }
}

TEST_F(RecordAndCheck, CheckFailures) {
    const std::string notBird = dir.write("notes.bird", "no firmware here");
    const std::string broken = dir.write("broken.bird", std::string("bird\1\1") + "garbage");
    const std::string cut = birdFileBytes("1.0.0", 0, "VT-Router");
    const std::string truncated = dir.write("truncated.bird", cut.substr(0, cut.size() / 2));
    const std::string fifo = dir / "pipe.bird";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"-C"}, "-C must specify a BIRD file via -f\n--help for usage information\n"},
        {{"-C", "-f", dir / "missing.bird"}, "BIRD file not found: " + dir / "missing.bird" + "\n"},
        {{"-C", "-f", dir.path()}, "Cannot open BIRD file " + dir.path() + ": Is a directory\n"},
        {{"-C", "-f", notBird}, "Not a BIRD file: " + notBird + "\n"},
        {{"-C", "-f", fifo}, "Not a BIRD file: " + fifo + " is no regular file\n"},
        {{"-C", "-f", broken},
         "Failed to load bird data from " + broken +
             ": its compressed body is damaged, cut short or too large\n"},
        {{"-C", "-f", truncated},
         "Failed to load bird data from " + truncated +
             ": its compressed body is damaged, cut short or too large\n"},
    };
    for (const auto& c : cases)
        expectFailure(c.args, c.err);
}
