// -G with a trusted key: the build is stored, with its signature beside it, only when
// the server's signature for it is good and by a trusted key; each other answer stores
// nothing and says why in one line. The reference server serves the signatures and
// can insist that every build has one.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "Base64.h"
#include "BirdWriter.h"
#include "ReferenceServer.h"
#include "ScriptedHttpServer.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "TestSigner.h"
#include "UpdaterProcess.h"

namespace {

const std::string kBuildDir = "catalogue/serial/1234ABCD";

std::string birdBytes(const std::string& version) {
    BirdWriter writer;
    writer.addIdentity(version, 0x1234ABCD, "VT-CoreUSB");
    writer.addFirmwareImage(0x1000, std::vector<uint8>(400, 0x3c));
    TempDir dir;
    writer.writeFile(dir / "b");
    return TempDir::read(dir / "b");
}

bool exists(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

// A server that knows nothing of signatures: it answers op=sig as an unknown request.
ScriptedResponse oldServer(const std::string& bird, const std::string& target) {
    auto has = [&](const char* op) {
        return target.find(std::string("op=") + op + "&") != std::string::npos;
    };
    if (has("hi")) return ScriptedResponse::http(200, "ok\n");
    if (has("qu")) return ScriptedResponse::http(200, "ok\n7\nVT-CoreUSB\n");
    if (has("builds")) return ScriptedResponse::http(200, "ok\n7;1.0.0\n");
    if (has("bird"))
        return ScriptedResponse::http(
            200, "ok\n" + Base64::encode(reinterpret_cast<const uint8_t*>(bird.data()), bird.size()) + "\n");
    return ScriptedResponse::http(400, "error: unknown request\n");
}

} // namespace

TEST(SignedDownload, StoresOnlyBuildsWithAGoodSignatureByATrustedKey) {
    const TestSigner trusted, stranger;
    const std::string bird = birdBytes("1.0.0");
    std::string truncated = trusted.signatureOf(bird);
    truncated.resize(truncated.size() / 2);
    const std::string refusedPrefix = "Refused 7.bird: ";
    struct Case {
        const char* name;
        // Lays out the catalogue's 7.bird and its signature.
        std::function<void(TempDir&)> catalogue;
        bool serverKnowsSignatures;
        std::vector<std::string> extraArgs;
        int exitStatus;
        std::string err;
        bool signatureStored;
    };
    const std::vector<Case> cases = {
        {"signed",
         [&](TempDir& d) { d.write(kBuildDir + "/7.bird.minisig", trusted.signatureOf(bird)); },
         true,
         {},
         0,
         "",
         true},
        {"legacy signature",
         [&](TempDir& d) { d.write(kBuildDir + "/7.bird.minisig", trusted.signatureOf(bird, false)); },
         true,
         {},
         0,
         "",
         true},
        {"tampered body",
         [&](TempDir& d) { d.write(kBuildDir + "/7.bird.minisig", trusted.signatureOf(birdBytes("1.0.1"))); },
         true,
         {},
         1,
         refusedPrefix + "signature does not match the file\n",
         false},
        {"another key",
         [&](TempDir& d) { d.write(kBuildDir + "/7.bird.minisig", stranger.signatureOf(bird)); },
         true,
         {},
         1,
         refusedPrefix + "signed by key " + stranger.keyId() + ", which is not trusted\n",
         false},
        {"no signature",
         [](TempDir&) {},
         true,
         {},
         1,
         refusedPrefix + "it has no signature and a trusted key is configured\n",
         false},
        {"truncated signature",
         [&](TempDir& d) { d.write(kBuildDir + "/7.bird.minisig", truncated); },
         true,
         {},
         1,
         refusedPrefix + "damaged signature: signature is not four lines\n",
         false},
        {"server without signatures",
         [](TempDir&) {},
         false,
         {},
         1,
         refusedPrefix + "it has no signature and a trusted key is configured\n",
         false},
        {"unsigned allowed once",
         [](TempDir&) {},
         true,
         {"--allow-unsigned"},
         0,
         "Warning: using unsigned 7.bird (--allow-unsigned)\n",
         false},
        {"a bad signature is never allowed",
         [&](TempDir& d) { d.write(kBuildDir + "/7.bird.minisig", stranger.signatureOf(bird)); },
         true,
         {"--allow-unsigned"},
         1,
         refusedPrefix + "signed by key " + stranger.keyId() + ", which is not trusted\n",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        TempDir::makeDirectories(dir / kBuildDir);
        dir.write("catalogue/devices.txt", "1234ABCD VT-CoreUSB\n");
        dir.write(kBuildDir + "/7.bird", bird);
        c.catalogue(dir);
        trusted.trustIn(dir / "base");

        ReferenceServer reference(dir / "catalogue", dir / "log");
        ScriptedHttpServer scripted([&](const std::string& target) { return oldServer(bird, target); });
        std::vector<std::string> args = {"-G",
                                         "-d",
                                         "1234ABCD",
                                         "-i",
                                         dir / "base",
                                         "-u",
                                         c.serverKnowsSignatures ? reference.url() : scripted.url()};
        args.insert(args.end(), c.extraArgs.begin(), c.extraArgs.end());
        const SubprocessResult run = runUpdater(args, dir / "home");

        EXPECT_EQ(run.exitStatus, c.exitStatus);
        EXPECT_EQ(run.err, c.err);
        const std::string stored = dir / "base/updater/1234ABCD/7.bird";
        EXPECT_EQ(exists(stored), c.exitStatus == 0);
        EXPECT_EQ(exists(stored + ".minisig"), c.signatureStored);
        if (c.signatureStored) {
            EXPECT_EQ(TempDir::read(stored + ".minisig"),
                      TempDir::read(dir / (kBuildDir + "/7.bird.minisig")));
        }
        if (c.exitStatus == 0) {
            EXPECT_EQ(TempDir::read(stored), bird);
            // The stored build is listed once, its signature file not at all.
            const SubprocessResult listed =
                runUpdater({"-L", "-d", "1234ABCD", "-i", dir / "base"}, dir / "home");
            EXPECT_NE(listed.out.find("7              \t1.0.0"), std::string::npos) << listed.out;
            EXPECT_EQ(listed.out.find("minisig"), std::string::npos) << listed.out;
        }
    }
}

TEST(SignedDownload, ReferenceServerServesSignaturesAndCanRequireThem) {
    const std::string server = VELTRANO_BIN_DIR "/update-server";
    TempDir dir;
    TempDir::makeDirectories(dir / kBuildDir);
    TempDir::makeDirectories(dir / "catalogue/model/VT-CoreUSB");
    dir.write(kBuildDir + "/7.bird", birdBytes("1.0.0"));
    dir.write(kBuildDir + "/7.bird.minisig", "untrusted comment: x\n");
    dir.write("catalogue/model/VT-CoreUSB/8.bird", birdBytes("1.1.0"));
    dir.write("catalogue/devices.txt", "1234ABCD VT-CoreUSB\n");

    SubprocessResult refused =
        runSubprocess(server, {"--require-signatures", "-c", dir / "catalogue", "-p", "0"});
    EXPECT_EQ(refused.exitStatus, 1);
    const std::string unsignedBuild = dir / "catalogue/model/VT-CoreUSB/8.bird";
    EXPECT_EQ(refused.err,
              "update-server: unsigned build: " + unsignedBuild + " (no " + unsignedBuild + ".minisig)\n");

    ReferenceServer reference(dir / "catalogue", dir / "log");
    const std::string query = "?bld=7&fw=X&no_cal=false&op=sig&sn=1234ABCD&";
    SubprocessResult curl =
        runSubprocess("/usr/bin/curl", {"-s", "-w", "\n%{http_code}", reference.url() + query});
    ASSERT_TRUE(curl.started) << "curl is missing: install the Debian package curl";
    EXPECT_EQ(curl.out, "ok\n" +
                            Base64::encode(reinterpret_cast<const uint8_t*>("untrusted comment: x\n"), 21) +
                            "\n\n200");
    SubprocessResult missing =
        runSubprocess("/usr/bin/curl", {"-s", "-o", "/dev/null", "-w", "%{http_code}",
                                        reference.url() + "?bld=8&fw=X&no_cal=false&op=sig&sn=1234ABCD&"});
    EXPECT_EQ(missing.out, "404");
}
