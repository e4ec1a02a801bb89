// -U and recovery with a trusted key: a file is sent only with a good signature beside
// it (a stored build's stored signature, FILE.minisig for -f); a refused file never
// reaches the module or the chip. -C and -I show each file's signature status.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BirdWriter.h"
#include "FirmwareImageTag.h"
#include "IspRomLine.h"
#include "ModuleNetwork.h"
#include "ReferenceServer.h"
#include "TempDir.h"
#include "TestSigner.h"
#include "UpdaterProcess.h"
#include "VirtualModule.h"
#include "aVersion.h"

namespace {

using namespace Veltrano::Sim;

constexpr uint32_t kSerial = 0x5A17C3C4;
const std::string kServer = "http://127.0.0.1:9/cgi/u";

// A build for the module: a loader and one firmware image it then runs.
std::string writeBuild(const std::string& path, uint8_t seed) {
    BirdWriter writer;
    writer.addIdentity("3.4.2", kSerial, "VT-CoreUSB");
    writer.addLoaderImage(0x20000000, std::vector<uint8_t>(40, seed));
    FirmwareImageTag tag;
    tag.version = aVersion_Pack(3, 4, 2);
    // The build "-b 77" names: the module must come back running it.
    tag.build = 77;
    writer.addFirmwareImage(0x1000, tag.appendTo(std::vector<uint8_t>(900, static_cast<uint8_t>(seed + 1))));
    writer.writeFile(path);
    return path;
}

class SignedUpdate : public ::testing::Test {
  protected:
    void SetUp() override {
        signer.trustIn(dir / "base");
        TempDir::makeDirectories(deviceDir());
    }

    SubprocessResult updater(std::vector<std::string> args) {
        args.insert(args.end(), {"-u", kServer, "-i", dir / "base"});
        SubprocessResult run = runUpdater(args, dir / "home");
        EXPECT_TRUE(run.started && !run.timedOut);
        return run;
    }
    std::string deviceDir() const { return dir / "base/updater/5A17C3C4"; }

    TempDir dir;
    TestSigner signer;
};

} // namespace

TEST_F(SignedUpdate, SendsOnlyFilesWithAGoodSignature) {
    ASSERT_EQ(ModuleNetwork::unavailableReason(), "");
    VirtualModule module{moduleIdentity(kSerial, 4, 4)};
    UpgradeArea::Settings settings;
    settings.rebootAwayMs = 300;
    module.upgrade().configure(settings);
    ModuleNetwork network;
    network.serve(module, 7031);
    network.startResponder();

    const std::string stored = writeBuild(deviceDir() + "/77.bird", 1);
    signer.signFile(stored);
    const std::string tampered = writeBuild(deviceDir() + "/78.bird", 2);
    signer.signFile(tampered);
    writeBuild(tampered, 3); // rebuilt after signing
    const std::string signedFile = writeBuild(dir / "signed.bird", 4);
    signer.signFile(signedFile);
    const std::string unsignedFile = writeBuild(dir / "unsigned.bird", 5);

    const std::string noSignature = ": it has no signature and a trusted key is configured\n";
    const struct {
        const char* name;
        std::vector<std::string> args;
        bool sent;
        std::string err;
    } cases[] = {
        {"stored build", {"-b", "77"}, true, ""},
        {"tampered stored build",
         {"-b", "78"},
         false,
         "Refused " + tampered + ": signature does not match the file\n"},
        {"file with its signature", {"-f", signedFile}, true, ""},
        {"file without", {"-f", unsignedFile}, false, "Refused " + unsignedFile + noSignature},
        {"-OVERRIDE is no way round",
         {"-f", unsignedFile, "-OVERRIDE"},
         false,
         "Refused " + unsignedFile + noSignature},
        {"unsigned file allowed once",
         {"-f", unsignedFile, "--allow-unsigned"},
         true,
         "Warning: using unsigned " + unsignedFile + " (--allow-unsigned)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const uint64_t initsBefore = module.upgrade().counts().inits;
        std::vector<std::string> args = {"-U", "-d", "5A17C3C4"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const SubprocessResult run = updater(args);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.exitStatus, c.sent ? 0 : 1);
        EXPECT_EQ(module.upgrade().counts().inits > initsBefore, c.sent);
        // The next run needs the module back from its reboot.
        for (int i = 0; i < 100 && module.away(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    network.stop();
}

TEST_F(SignedUpdate, RecoveryWithABadSignatureNeverTouchesTheChip) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string port = ptsname(master);
    const std::string file = writeBuild(dir / "recover.bird", 6);
    const TestSigner stranger;
    stranger.signFile(file);

    const SubprocessResult run = updater({"-U", "-t", "RECOVER", "-s=" + port, "-f", file});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.err,
              "Refused " + file + ": signed by key " + stranger.keyId() + ", which is not trusted\n");
    char byte;
    EXPECT_EQ(read(master, &byte, 1), -1) << "the chip's port was written to";
    EXPECT_EQ(errno, EAGAIN);
    close(master);
}

TEST_F(SignedUpdate, CheckAndInfoShowEachFilesSignature) {
    const std::string good = writeBuild(deviceDir() + "/77.bird", 1);
    signer.signFile(good);
    const std::string bad = writeBuild(deviceDir() + "/78.bird", 2);
    signer.signFile(bad);
    writeBuild(bad, 3);
    const std::string none = writeBuild(deviceDir() + "/79.bird", 4);

    const std::string label = "Signature:         ";
    const struct {
        std::string path;
        std::string shown;
        int exitStatus;
    } checks[] = {
        {good, "signed by key " + signer.keyId(), 0},
        {bad, "bad (signature does not match the file)", 1},
        {none, "unsigned", 0},
    };
    for (const auto& c : checks) {
        SCOPED_TRACE(c.path);
        const SubprocessResult run = updater({"-C", "-f", c.path});
        EXPECT_NE(run.out.find("\n" + label + c.shown + "\n"), std::string::npos) << run.out;
        EXPECT_EQ(run.exitStatus, c.exitStatus);
    }

    const SubprocessResult info = updater({"-I", "-d", "5A17C3C4"});
    EXPECT_EQ(info.exitStatus, 0);
    for (const auto& c : checks) {
        const std::string name = c.path.substr(c.path.rfind('/') + 1);
        char line[128];
        snprintf(line, sizeof line, "%-19s%s\n", ("  " + name).c_str(), c.shown.c_str());
        EXPECT_NE(info.out.find(line), std::string::npos) << info.out;
    }
    EXPECT_EQ(info.out.find(".minisig"), std::string::npos) << info.out;

    // Without a trusted key nothing about signatures is shown.
    unlink((dir / "base/keys/lab.pub").c_str());
    const SubprocessResult plain = updater({"-C", "-f", bad});
    EXPECT_EQ(plain.exitStatus, 0);
    EXPECT_EQ(plain.out.find("Signature"), std::string::npos) << plain.out;

    // Without -i the keys are those of the home directory's .veltrano.
    signer.trustIn(dir / "home/.veltrano");
    const SubprocessResult home = runUpdater({"-C", "-f", bad}, dir / "home");
    EXPECT_EQ(home.exitStatus, 1);
    EXPECT_NE(home.out.find(label + "bad ("), std::string::npos) << home.out;
}

// Recovery of a serial ISP chip with the build the server names for its fingerprint:
// downloaded (and stored) only with a good signature, and programmed only then.
TEST_F(SignedUpdate, RecoveryProgramsTheChipOnlyWithASignedBuild) {
    constexpr uint32_t kUid[4] = {0x0A1B2C3D, 0x4E5F6071, 0x8293A4B5, 0xC6D7E8F9};
    const std::string buildDir = dir / "catalogue/serial/5E1A0C02";
    TempDir::makeDirectories(buildDir);
    dir.write("catalogue/devices.txt", "5E1A0C02 VT-Acquire\n");
    dir.write("catalogue/fingerprints.txt", "0A1B2C3D 4E5F6071 8293A4B5 C6D7E8F9 5E1A0C02 27\n");
    // Its vector table valid as it is: recovery would otherwise set the checksum.
    std::vector<uint8_t> image(5000, 0x42);
    setVectorChecksum(image);
    BirdWriter writer;
    writer.addIdentity("4.0.1", 0x5E1A0C02, "VT-Acquire");
    writer.addFirmwareImage(0x0000, image);
    writer.addFirmwareImage(0x7F000, std::vector<uint8_t>(4, 0));
    writer.writeFile(buildDir + "/27.bird");
    ReferenceServer server(dir / "catalogue", dir / "server.log");
    const std::string stored = dir / "base/updater/5E1A0C02/27.bird";

    const struct {
        const char* name;
        std::function<void()> prepare;
        bool programmed;
        std::string err;
    } cases[] = {
        {"unsigned build", [] {}, false,
         "Refused 27.bird: it has no signature and a trusted key is configured\nFailed to load bird file\n"},
        {"signed build", [&] { signer.signFile(buildDir + "/27.bird"); }, true, ""},
        {"stored build altered since",
         [&] {
             dir.write("base/updater/5E1A0C02/27.bird.minisig",
                       TestSigner().signatureOf(TempDir::read(stored)));
         },
         false, "Refused " + stored + ": signed by key "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        IspRomSettings settings;
        std::copy(kUid, kUid + 4, settings.uid);
        IspRomLine chip(settings, SerialLine::Settings{});
        const std::vector<uint8_t> before(IspRom::kFlashSize, 0x5A);
        chip.rom().loadFlash(before);

        const SubprocessResult run = runUpdater(
            {"-U", "-t", "RECOVER", "-s", chip.path(), "-u", server.url(), "-i", dir / "base"}, dir / "home");
        EXPECT_EQ(run.err.substr(0, c.err.size()), c.err);
        EXPECT_EQ(run.exitStatus, c.programmed ? 0 : 1);
        const std::vector<uint8_t> flash = chip.rom().flash();
        EXPECT_EQ(std::vector<uint8_t>(flash.begin(), flash.begin() + image.size()) == image, c.programmed);
        if (!c.programmed) {
            EXPECT_EQ(flash, before);
        }
    }
}
