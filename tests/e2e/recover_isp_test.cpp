// Recovery of a serial ISP module through the built Updater: the chip's boot ROM is
// the ISP emulator on a pseudo-terminal, the update server the reference server on
// loopback. What the run prints, what the server was asked, what the store keeps
// and what lands in the chip's flash; and each way a recovery fails.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "BirdWriter.h"
#include "IspRomLine.h"
#include "ReferenceServer.h"
#include "TempDir.h"
#include "UpdateTime.h"
#include "UpdaterProcess.h"

namespace {

using namespace Veltrano::Sim;
using Bytes = std::vector<uint8_t>;

const std::string kBanner = "Updater (Version: 2.11.2 Apr 29 2025)\n";
constexpr uint32_t kSerial = 0x5E1A0C02;
const char kSerialText[] = "5E1A0C02";
constexpr uint32_t kUid[4] = {0x0A1B2C3D, 0x4E5F6071, 0x8293A4B5, 0xC6D7E8F9};

Bytes pattern(size_t n, uint8_t seed) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 9));
    return bytes;
}

// Firmware whose vector table carries the checksum the chip's ROM wants.
Bytes firmware(size_t n, uint8_t seed) {
    Bytes bytes = pattern(n, seed);
    setVectorChecksum(bytes);
    return bytes;
}

// A recovery build made for one module: firmware blocks and the 4-byte end marker.
struct RecoveryBuild {
    std::map<uint32_t, Bytes> images = {{0x0000, firmware(5000, 1)}, {0x20000, pattern(6001, 77)}};
    bool generic = false;

    void write(const std::string& path) const {
        BirdWriter writer;
        writer.addIdentity("4.0.1", generic ? 0 : kSerial, "VT-Acquire");
        if (generic) writer.addSerialLocations(0x100, 0x110);
        for (const auto& [address, image] : images)
            writer.addFirmwareImage(address, image);
        writer.addFirmwareImage(0x7F000, Bytes(4, 0));
        writer.writeFile(path);
    }
    uint32_t total() const {
        uint32_t n = 0;
        for (const auto& [address, image] : images)
            n += static_cast<uint32_t>(image.size());
        return n;
    }
};

class RecoverIsp : public ::testing::Test {
  protected:
    void SetUp() override {
        TempDir::makeDirectories(dir / "catalogue/serial/5E1A0C02");
        dir.write("catalogue/devices.txt", "5E1A0C02 VT-Acquire\n");
        dir.write("catalogue/fingerprints.txt", "0A1B2C3D 4E5F6071 8293A4B5 C6D7E8F9 5E1A0C02 27\n");
        build.write(dir / "catalogue/serial/5E1A0C02/27.bird");
    }
    void startServer() { server = std::make_unique<ReferenceServer>(dir / "catalogue", dir / "server.log"); }
    void startChip(IspRomSettings settings = {}) {
        std::copy(kUid, kUid + 4, settings.uid);
        chip = std::make_unique<IspRomLine>(settings, SerialLine::Settings{true});
    }
    // A host that talks to a chip busy with its flash loses bytes.
    void TearDown() override {
        if (chip) {
            EXPECT_EQ(chip->line().overruns(), 0u);
        }
    }

    SubprocessResult updater(std::vector<std::string> args) {
        std::vector<std::string> all = {"-u", server ? server->url() : "http://127.0.0.1:9/cgi/u", "-i",
                                        dir / "store"};
        all.insert(all.begin(), args.begin(), args.end());
        SubprocessResult r = runUpdater(all, dir / "home");
        EXPECT_TRUE(r.started);
        EXPECT_FALSE(r.timedOut);
        return r;
    }
    SubprocessResult recover(std::vector<std::string> more = {}) {
        std::vector<std::string> args = {"-U", "-t", "RECOVER", "-s", chip->path()};
        args.insert(args.end(), more.begin(), more.end());
        return updater(args);
    }

    // The flash holds each image, the rest of each copied range erased.
    void expectFlashHolds(const RecoveryBuild& written) {
        const Bytes flash = chip->rom().flash();
        for (const auto& [address, image] : written.images) {
            ASSERT_LE(address + image.size(), flash.size());
            EXPECT_EQ(Bytes(flash.begin() + address, flash.begin() + address + image.size()), image)
                << std::hex << address;
        }
        // 6001 bytes end in a piece of 1905 bytes, copied as 4096: erased beyond.
        EXPECT_EQ(Bytes(flash.begin() + 0x20000 + 6001, flash.begin() + 0x20000 + 8192),
                  Bytes(8192 - 6001, 0xFF));
    }
    static std::string transferLines(const RecoveryBuild& written) {
        return "Transferring firmware block 1 of 2, 5000 bytes\n"
               "Transferring firmware block 2 of 2, 6001 bytes\n"
               "Transferred 2 blocks, " +
               std::to_string(written.total()) + " total bytes\n" + "Verified " +
               std::to_string(written.total()) + " bytes\n";
    }

    TempDir dir;
    RecoveryBuild build;
    std::unique_ptr<ReferenceServer> server;
    std::unique_ptr<IspRomLine> chip;
};

TEST_F(RecoverIsp, AsksTheServerDownloadsTheBuildAndProgramsTheChip) {
    startServer();
    startChip();
    SubprocessResult r = recover();
    EXPECT_EQ(withoutUpdateTime(r.out), kBanner +
                                            "Recovering firmware with build: 27\n"
                                            "Downloading firmware build 27\n"
                                            "Retrieving build 27\n"
                                            "Validating build 27 with server\n"
                                            "Build 27 is valid\n" +
                                            transferLines(build) + "Rebooting Device\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 0);
    expectFlashHolds(build);
    EXPECT_TRUE(chip->rom().started());
    EXPECT_EQ(chip->rom().startAddress(), 0u);

    std::vector<std::string> asked = server->requests();
    ASSERT_GE(asked.size(), 2u);
    EXPECT_EQ(asked.front(), "/cgi/u?brief=true&fp=0A1B2C3D%204E5F6071%208293A4B5%20C6D7E8F9&op=fix&");
    EXPECT_EQ(TempDir::read(dir / "store/updater/5E1A0C02/27.bird"),
              TempDir::read(dir / "catalogue/serial/5E1A0C02/27.bird"));
}

TEST_F(RecoverIsp, FingerprintIsTheChipsUniqueId) {
    startChip();
    SubprocessResult r = updater({"-N", "-s", chip->path()});
    EXPECT_EQ(r.out, kBanner + "[ 0A1B2C3D 4E5F6071 8293A4B5 C6D7E8F9 ]\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_FALSE(chip->rom().started()) << "identification leaves the chip in its ROM";
}

TEST_F(RecoverIsp, ABuildGivenWinsOverTheServersAndAFileNeedsNoServer) {
    RecoveryBuild other;
    // The second block's copy, padded to 4096 bytes, reaches over the third, and the
    // first's (the vector table's, copied last) over the one at 0x300: only images
    // that share bytes are refused.
    other.images = {{0x0000, firmware(0x201, 3)},
                    {0x300, pattern(256, 8)},
                    {0x1000, pattern(0x500, 9)},
                    {0x1600, pattern(200, 7)},
                    {0x20000, pattern(6001, 5)}};
    other.write(dir / "catalogue/serial/5E1A0C02/30.bird");
    startServer();
    startChip();
    SubprocessResult r = recover({"-b", "30"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("Recovering firmware with build: 30\n"), std::string::npos) << r.out;
    expectFlashHolds(other);

    // With a file, the server is never asked: none runs here.
    server.reset();
    startChip();
    const std::string path = dir / "given.bird";
    build.write(path);
    r = recover({"-f", path, "-d", kSerialText});
    EXPECT_EQ(withoutUpdateTime(r.out), kBanner + "Recovering from Birdfile: " + path + "\n" +
                                            transferLines(build) + "Rebooting Device\n");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    expectFlashHolds(build);
}

// Synchronised and programmed at the rate the user chose: a chip locks onto the
// rate of its synchronisation and hears garbage at any other.
TEST_F(RecoverIsp, RunsWholeAtTheChosenRate) {
    startServer();
    startChip();
    SubprocessResult r = recover({"-o", "57600"});
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_EQ(chip->rom().lockedBaud(), 57600u);
    expectFlashHolds(build);
}

TEST_F(RecoverIsp, RefusedBuildsLeaveTheChipAlone) {
    struct Case {
        const char* name;
        RecoveryBuild file;
        std::string err;
    } cases[] = {
        {"generic", RecoveryBuild{}, "Updater does not support offline recovery\n"},
        {"no firmware", RecoveryBuild{}, "The recovery file holds no firmware the chip can take\n"},
        {"off the flash map", RecoveryBuild{}, "The recovery file holds no firmware the chip can take\n"},
        {"overlapping blocks", RecoveryBuild{}, "The recovery file holds no firmware the chip can take\n"},
        {"no vector table", RecoveryBuild{}, "The recovery file holds no firmware the chip can take\n"},
        {"vector table cut short", RecoveryBuild{},
         "The recovery file holds no firmware the chip can take\n"},
    };
    cases[0].file.generic = true;
    cases[1].file.images.clear();
    cases[2].file.images = {{0x7F800, pattern(4000, 3)}};
    cases[3].file.images = {{0x0000, firmware(600, 3)}, {0x200, pattern(300, 4)}};
    cases[4].file.images = {{0x1000, pattern(600, 3)}, {0x20000, pattern(300, 4)}};
    cases[5].file.images = {{0x0000, pattern(16, 3)}, {0x1000, pattern(600, 4)}};
    for (const Case& c : cases) {
        startChip();
        const Bytes before(IspRom::kFlashSize, 0x5A);
        chip->rom().loadFlash(before);
        const std::string path = dir / "refused.bird";
        c.file.write(path);
        SubprocessResult r = recover({"-f", path, "-d", kSerialText});
        EXPECT_EQ(r.err, c.err) << c.name;
        EXPECT_EQ(r.exitStatus, 1) << c.name;
        EXPECT_EQ(chip->rom().flash(), before) << c.name << ": nothing is erased";
        EXPECT_FALSE(chip->rom().started()) << c.name;
    }
}

TEST_F(RecoverIsp, ServerAndChipFailuresAreSaid) {
    // A fingerprint the server does not know.
    dir.write("catalogue/fingerprints.txt", "01 02 03 04 5E1A0C02 27\n");
    startServer();
    startChip();
    SubprocessResult r = recover();
    EXPECT_EQ(r.out, kBanner);
    EXPECT_EQ(r.err, "Failed to retrieve recovery information from Veltrano server\n");
    EXPECT_EQ(r.exitStatus, 1);

    // The chip refuses a copy into flash: the run says the transfer failed, shows
    // its time, and the chip stays in its ROM.
    dir.write("catalogue/fingerprints.txt", "0A1B2C3D 4E5F6071 8293A4B5 C6D7E8F9 5E1A0C02 27\n");
    IspRomSettings refusing;
    refusing.failAt = IspCommandPoint{'C', 2};
    refusing.failCode = 9;
    startChip(refusing);
    r = recover();
    EXPECT_EQ(r.err, "Failed to transfer firmware\n");
    EXPECT_NE(r.out.find("Update time: "), std::string::npos) << r.out;
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_FALSE(chip->rom().started());

    // The chip will not take its echo back after the flash is written: it is not started.
    IspRomSettings noEcho;
    noEcho.failAt = IspCommandPoint{'A', 2};
    noEcho.failCode = 1;
    startChip(noEcho);
    r = recover();
    EXPECT_EQ(r.err, "Recovery Error transfering data to device ==> [2, aErrParam]\n");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_FALSE(chip->rom().started());

    // An answer that names no module or no build: nothing is downloaded and the
    // store keeps no record for it.
    for (const char* answer : {"00000000 27", "5E1A0C02 0"}) {
        dir.write("catalogue/fingerprints.txt",
                  std::string("0A1B2C3D 4E5F6071 8293A4B5 C6D7E8F9 ") + answer + "\n");
        startChip();
        const size_t asked = server->requests().size();
        r = recover();
        EXPECT_EQ(r.err, "Failed to retrieve recovery information from Veltrano server\n") << answer;
        EXPECT_EQ(r.exitStatus, 1) << answer;
        EXPECT_EQ(server->requests().size(), asked + 1) << answer << ": only the recovery query";
        EXPECT_NE(::access((dir / "store/updater/00000000").c_str(), F_OK), 0) << answer;
        EXPECT_EQ(chip->rom().commands(), std::vector<std::string>{"N"}) << answer;
    }

    // The server names a build it cannot give.
    dir.write("catalogue/fingerprints.txt", "0A1B2C3D 4E5F6071 8293A4B5 C6D7E8F9 5E1A0C02 99\n");
    startChip();
    r = recover();
    EXPECT_EQ(r.err, "No valid build 99\nFailed to load bird file\n");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(chip->rom().commands(), std::vector<std::string>{"N"})
        << "only the identification reached the chip";
}

} // namespace

namespace {

// A chip stays in its ROM, synchronised, after a run that identified it or failed
// part-way: the next run takes it up at the same rate.
TEST_F(RecoverIsp, AChipAnEarlierRunLeftInItsRomIsTakenUpAgain) {
    startServer();
    IspRomSettings refusing;
    refusing.failAt = IspCommandPoint{'C', 2};
    refusing.failCode = 9;
    startChip(refusing);
    SubprocessResult r = updater({"-N", "-s", chip->path()});
    EXPECT_EQ(r.out, kBanner + "[ 0A1B2C3D 4E5F6071 8293A4B5 C6D7E8F9 ]\n");
    r = recover();
    EXPECT_EQ(r.err, "Failed to transfer firmware\n");
    EXPECT_TRUE(chip->rom().echo()) << "a failed run gives the chip its echo back";

    r = recover();
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 0);
    expectFlashHolds(build);
    EXPECT_TRUE(chip->rom().started());
}

} // namespace

namespace {

// The built tool against a chip as strict and as slow as the silicon (paced line,
// real erase and copy times, the valid-user-code rule), and each way such a chip
// can fail: a recovery either ends with the firmware in place and verified, or
// with the vector table blank, so the chip stays in its ROM for the next try.
TEST_F(RecoverIsp, AStrictChipIsNeverLeftWorseOff) {
    enum Command { Recover, Fingerprint };
    struct Case {
        const char* name;
        IspRomSettings chip;
        Command command = Recover;
        std::vector<std::string> more;
        int exitStatus = 0;
        std::string err;         // the start of standard error
        bool programmed = false; // the flash holds the build, its vector table valid
        bool started = false;
    } cases[] = {
        {"a slow chip", {}, Recover, {}, 0, "", true, true},
        {"no checksum at 0x1C", {}, Recover, {}, 0, "Setting the vector table checksum at 0x1C", true, true},
        {"the second copy refused", {}, Recover, {}, 1, "Failed to transfer firmware\n"},
        {"the last copy refused", {}, Recover, {}, 1, "Failed to transfer firmware\n"},
        // Programmed and verified: the next reset starts it.
        {"G answered 13", {}, Recover, {}, 1, "The chip did not start the firmware ==> [ADDR_ERROR]\n", true},
        {"a copy that does not compare", {}, Recover, {}, 1, "Failed to transfer firmware\n"},
        {"the vector table's copy does not compare", {}, Recover, {}, 1, "Failed to transfer firmware\n"},
        {"silent after synchronising", {}, Fingerprint, {}, 1, "Got no response from chip\n"},
        {"babbling", {}, Fingerprint, {}, 1, "Got no response from chip\n"},
        {"a rate the port cannot run at", {}, Recover, {"-o", "12345"}, 1, "Unsupported baud rate 12345: "},
    };
    cases[0].chip.eraseMsPerSector = 400;
    cases[0].chip.copyMs = 30;
    // Four copies: 5000 bytes at 0 and 6001 at 0x20000 in two pieces each, the
    // vector table's piece last.
    cases[2].chip.failAt = IspCommandPoint{'C', 2};
    cases[2].chip.failCode = 9;
    cases[3].chip.failAt = IspCommandPoint{'C', 4};
    cases[3].chip.failCode = 9;
    cases[4].chip.failAt = IspCommandPoint{'G', 1};
    cases[4].chip.failCode = 13;
    cases[5].chip.flipBitAtCopy = 2;
    cases[6].chip.flipBitAtCopy = 4;
    cases[7].chip.silentFrom = IspCommandPoint{'N', 1};
    cases[8].chip.babble = "Veltrano chip says hello";

    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecoveryBuild written = build;
        if (std::string(c.name) == "no checksum at 0x1C") written.images[0][0x1C] ^= 0x5A;
        const std::string path = dir / "strict.bird";
        written.write(path);
        startChip(c.chip);
        std::vector<std::string> args = {"-f", path, "-d", kSerialText};
        args.insert(args.end(), c.more.begin(), c.more.end());
        SubprocessResult r = c.command == Recover ? recover(args) : updater({"-N", "-s", chip->path()});
        EXPECT_EQ(r.exitStatus, c.exitStatus) << r.out << r.err;
        EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
        const Bytes flash = chip->rom().flash();
        if (c.programmed) {
            expectFlashHolds(build);
            EXPECT_NE(r.out.find("Verified " + std::to_string(build.total()) + " bytes\n"), std::string::npos)
                << r.out;
        }
        EXPECT_EQ(vectorChecksumValid(flash.data()), c.programmed);
        EXPECT_EQ(chip->rom().started(), c.started);
        if (c.command == Fingerprint) {
            EXPECT_EQ(r.out, kBanner) << "no fingerprint line";
        }
        if (!c.more.empty()) {
            EXPECT_EQ(chip->line().bytesReceived(), 0u) << "nothing was sent";
        }
        EXPECT_EQ(chip->line().overruns(), 0u);
    }
}

} // namespace
