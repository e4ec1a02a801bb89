// Runs the built Updater and compares standard output, standard error and the exit
// status exactly.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "Subprocess.h"
#include "UpdaterProcess.h"
#include "TempDir.h"

namespace {

const std::string kBanner = "Updater (Version: 2.11.2 Apr 29 2025)\n";
const std::string kNotice = "Copyright (c) 2025 Veltrano. All rights reserved.\n";
std::string golden(const char* name) {
    std::ifstream in(std::string(VELTRANO_SOURCE_DIR "/tests/e2e/") + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

const std::string kShortUsage = golden("short_usage.txt");

bool isDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Each run gets its own home directory and store, so nothing touches the real ones.
class UpdaterRun : public ::testing::Test {
  public:
    SubprocessResult run(std::vector<std::string> args, bool withStore = true) {
        if (withStore) {
            args.push_back("-i");
            args.push_back(store());
        }
        SubprocessResult r = runUpdater(args, home());
        EXPECT_TRUE(r.started);
        EXPECT_FALSE(r.timedOut);
        return r;
    }
    std::string home() { return dir / "home"; }
    std::string store() { return dir / "store"; }

    TempDir dir;
};

struct Expected {
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
};

void expectRun(UpdaterRun& fixture, const Expected& e) {
    std::string line;
    for (const std::string& a : e.args)
        line += a + " ";
    SCOPED_TRACE("Updater " + line);
    SubprocessResult r = fixture.run(e.args, false);
    EXPECT_EQ(r.out, e.out);
    EXPECT_EQ(r.err, e.err);
    EXPECT_EQ(r.exitStatus, e.status);
}

} // namespace

TEST_F(UpdaterRun, NoArgumentsShowsShortUsage) {
    ASSERT_FALSE(kShortUsage.empty());
    expectRun(*this, {{}, kBanner + kNotice, kShortUsage, 0});
    EXPECT_FALSE(isDirectory(home() + "/.veltrano")) << "no command: no store";
}

TEST_F(UpdaterRun, HelpShowsFullUsageAndRunsNothing) {
    std::string usage = golden("full_usage.txt");
    ASSERT_FALSE(usage.empty());
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"-h"}, {"-H"}, {"--help"}, {"--he"}, {"/h"}, {"-h", "-D"}, {"-D", "-h"}}) {
        expectRun(*this, {args, kBanner + kNotice, usage, 0});
    }
    // Help wins over an earlier failure, whose message has already been shown.
    expectRun(*this, {{"-d", "0", "-h"},
                      kBanner + kNotice,
                      "Invalid serial number obtained from argument [0]\n" + usage,
                      0});
    EXPECT_FALSE(isDirectory(home() + "/.veltrano"));
}

TEST_F(UpdaterRun, FailingOptionsPrintTheirMessageThenShortUsage) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"-G", "-d", "12G4"}, "Invalid serial number obtained from argument [12G4]\n"},
        {{"-G", "-d", "0"}, "Invalid serial number obtained from argument [0]\n"},
        {{"-G", "-d", "0x"}, "Invalid serial number obtained from argument []\n"},
        {{"-D", "-r", "zz"}, "Invalid router serial number obtained from argument [zz]\n"},
        {{"-D", "-t", "tcpip"},
         "Invalid transport type:[tcpip]\nMust be one of the following: USB, TCPIP, RECOVER\n"},
        {{"-U", "-OVER", "-d", "1"}, "Invalid format for firmware update override parameter [-OVER]\n"},
        {{"-Y"}, "Unhandled command: [-Y]\n"},
        {{"-d", "0", "-t", "x"},
         "Invalid serial number obtained from argument [0]\n"
         "Invalid transport type:[x]\nMust be one of the following: USB, TCPIP, RECOVER\n"},
    };
    for (const Case& c : cases)
        expectRun(*this, {c.args, kBanner + kNotice, c.message + kShortUsage, 1});
    EXPECT_FALSE(isDirectory(home() + "/.veltrano")) << "a failed parse creates no store";
}

TEST_F(UpdaterRun, BadLogMaskIsReportedButTheRunGoesOn) {
    expectRun(*this, {{"-X", "12ab"},
                      kBanner + kNotice,
                      "Invalid format for \"-X\" parameter, unprocessed characters [ab]\n" + kShortUsage,
                      0});
}

TEST_F(UpdaterRun, CommandsMissingTheirDeviceOrPortFail) {
    Expected cases[] = {
        {{"-G"}, kBanner, "-G must specify a specific device via -d\n--help for usage information\n", 1},
        {{"-G", "-d"},
         kBanner,
         "-G must specify a specific device via -d\n--help for usage information\n",
         1},
        {{"-N"}, kBanner, "Must specify the serial port used for connecting\n", 1},
        {{"-N", "-s"}, kBanner, "Must specify the serial port used for connecting\n", 1},
        {{"-U"}, kBanner, "Must specify the specific device to be updated\n", 1},
        {{"-B"}, kBanner, "Error must supply a serial number for the List Builds command\n" + kShortUsage, 1},
        {{"-L"},
         kBanner,
         "Error must supply a serial number for the List Local Builds command\n" + kShortUsage,
         1},
        {{"-B", "-L"},
         kBanner,
         "Error must supply a serial number for the List Builds command\n" + kShortUsage,
         1},
    };
    for (Expected e : cases) {
        e.args.push_back("-i");
        e.args.push_back(store());
        expectRun(*this, e);
    }
}

TEST_F(UpdaterRun, CommandsEnsureTheDefaultStore) {
    expectRun(*this, {{"-L", "-d", "40F5849A"}, kBanner + "No builds found for device [40F5849A]\n", "", 0});
    EXPECT_TRUE(isDirectory(home() + "/.veltrano/updater"));
}

TEST_F(UpdaterRun, StoreOptionPutsTheRootInsideTheGivenDirectory) {
    SubprocessResult r = run({"-L", "-d", "40F5849A"});
    EXPECT_EQ(r.out, kBanner + "No builds found for device [40F5849A]\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_TRUE(isDirectory(store() + "/updater"));
    EXPECT_FALSE(isDirectory(home() + "/.veltrano"));
}

// -Z counts as a command but has no operation: the run ends quietly.
TEST_F(UpdaterRun, CommandWithoutAnOperationEndsQuietly) {
    SubprocessResult r = run({"-Z", "1"});
    EXPECT_EQ(r.out, kBanner);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 0);
}

TEST_F(UpdaterRun, StoreRootThatCannotBeCreatedFails) {
    std::string blocker = dir.write("plain-file", "x");
    expectRun(
        *this,
        {{"-I", "-i", blocker}, kBanner, "Could not find updater directory at " + blocker + "/updater\n", 1});
    // A file where the store root should be is no store root either.
    std::string base = dir / "base";
    ASSERT_EQ(mkdir(base.c_str(), 0755), 0);
    dir.write("base/updater", "x");
    expectRun(*this,
              {{"-I", "-i", base}, kBanner, "Could not find updater directory at " + base + "/updater\n", 1});
}

TEST_F(UpdaterRun, StartupLogListsTheArguments) {
    SubprocessResult r = run({"-X", "0x10000", "-Z", "1"}, false);
    EXPECT_EQ(r.out, kBanner);
    EXPECT_EQ(r.err, "\nApplication parameters:[Updater]\n"
                     "Home directory:[" +
                         home() +
                         "]\n"
                         "\t[" +
                         kUpdaterProgram +
                         "]\n"
                         "\t[-X]\n"
                         "\t[0x10000]\n"
                         "\t[-Z]\n"
                         "\t[1]\n");
    EXPECT_EQ(r.exitStatus, 0);
}

TEST_F(UpdaterRun, SerialPrefixIsLoggedUnderUpdaterCategory) {
    SubprocessResult quiet = run({"-Z", "1", "-d", "0x1a2b"});
    EXPECT_EQ(quiet.err, "");
    SubprocessResult logged = run({"-X", "1", "-Z", "1", "-d", "0x1a2b"});
    EXPECT_EQ(logged.err, "Discarding '0x' serial number prefix\n");
    EXPECT_EQ(logged.exitStatus, 0);
}

// A port that does not exist: neither boot ROM answers (the i.MX route finds no
// liveloader to load, the server being gone), and each command says so, then
// names the port and the system's reason. A rate the port cannot run at is
// refused before the port is tried.
TEST_F(UpdaterRun, RecoveryCommandsOnAPortWithNoChipFail) {
    const std::string noPort = "Could not open serial port /dev/ttyVT9: No such file or directory\n";
    const std::string badRate =
        "Unsupported baud rate 12345: use one of 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400\n";
    struct Case {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"-U", "-t", "RECOVER", "-s", "/dev/ttyVT9", "-u", "http://127.0.0.1:9/cgi/u"},
         "Could not get Device Identifier\n" + noPort},
        {{"-N", "-s", "/dev/ttyVT9", "-u", "http://127.0.0.1:9/cgi/u"},
         "Got no response from chip\n" + noPort},
        {{"-U", "-t", "RECOVER", "-s", "/dev/ttyVT9", "-o", "12345", "-u", "http://127.0.0.1:9/cgi/u"},
         badRate + "Could not get Device Identifier\n"},
        {{"-N", "-s", "/dev/ttyVT9", "-o", "12345", "-u", "http://127.0.0.1:9/cgi/u"},
         badRate + "Got no response from chip\n"},
    };
    for (const Case& c : cases) {
        SubprocessResult r = run(c.args);
        EXPECT_EQ(r.out, kBanner) << c.args[0];
        EXPECT_EQ(r.err, c.err) << c.args[0];
        EXPECT_EQ(r.exitStatus, 1) << c.args[0];
    }
}
