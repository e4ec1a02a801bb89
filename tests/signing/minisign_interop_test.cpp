// Interoperability with the standard minisign tool, both ways: what minisign signs
// verifies with birdtool and the trusted-key check, what birdtool signs verifies
// with minisign, and each tool signs with the other's secret keys.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "FirmwareSignature.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "TrustedKeys.h"

namespace {

const char kMinisign[] = "/usr/bin/minisign";
const std::string kBirdtool = std::string(VELTRANO_BIN_DIR) + "/birdtool";

SubprocessResult run(const std::string& program, const std::vector<std::string>& args,
                     const std::string& input = "") {
    SubprocessOptions options;
    options.input = input;
    SubprocessResult result = runSubprocess(program, args, options);
    EXPECT_TRUE(result.started && !result.timedOut) << program;
    return result;
}

class MinisignInterop : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(access(kMinisign, X_OK), 0) << "minisign is missing: install the Debian package minisign";
        firmware = dir.write("7.bird", std::string("BIRD") + std::string(3000, '\x5a') + "end");
    }

    // A key pair made by minisign (no password) in keys/.
    void minisignKeys() {
        TempDir::makeDirectories(dir / "keys");
        ASSERT_EQ(run(kMinisign, {"-G", "-W", "-p", dir / "keys/m.pub", "-s", dir / "m.key"}).exitStatus, 0);
    }

    SignatureStatus trustedCheck() { return checkFileSignature(TrustedKeys::load({dir / "keys"}), firmware); }

    TempDir dir;
    std::string firmware;
};

} // namespace

TEST_F(MinisignInterop, MinisignSignaturesVerifyHere) {
    minisignKeys();
    for (const std::vector<std::string>& legacy :
         {std::vector<std::string>{}, std::vector<std::string>{"-l"}}) {
        SCOPED_TRACE(legacy.empty() ? "prehashed" : "legacy");
        std::vector<std::string> args = {"-S", "-s", dir / "m.key", "-m", firmware};
        args.insert(args.end(), legacy.begin(), legacy.end());
        ASSERT_EQ(run(kMinisign, args).exitStatus, 0);
        SubprocessResult verified = run(kBirdtool, {"verify", "-p", dir / "keys/m.pub", firmware});
        EXPECT_EQ(verified.exitStatus, 0) << verified.err;
        EXPECT_EQ(trustedCheck().kind, SignatureStatus::Signed);
    }
    dir.write("7.bird", TempDir::read(firmware) + "!");
    EXPECT_EQ(run(kBirdtool, {"verify", "-p", dir / "keys/m.pub", firmware}).exitStatus, 1);
    EXPECT_EQ(trustedCheck().kind, SignatureStatus::Bad);
}

TEST_F(MinisignInterop, BirdtoolSignaturesVerifyWithMinisign) {
    TempDir::makeDirectories(dir / "keys");
    SubprocessResult made =
        run(kBirdtool, {"keygen", "-p", dir / "keys/b.pub", "-s", dir / "b.key"}, "lab password\n");
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    struct stat secret {};
    ASSERT_EQ(stat((dir / "b.key").c_str(), &secret), 0);
    EXPECT_EQ(secret.st_mode & 0077, 0u) << "the secret key is for its owner only";
    for (const std::vector<std::string>& legacy :
         {std::vector<std::string>{}, std::vector<std::string>{"-l"}}) {
        SCOPED_TRACE(legacy.empty() ? "prehashed" : "legacy");
        std::vector<std::string> args = {"sign", "-s", dir / "b.key"};
        args.insert(args.end(), legacy.begin(), legacy.end());
        args.push_back(firmware);
        SubprocessResult signedFile = run(kBirdtool, args, "lab password\n");
        ASSERT_EQ(signedFile.exitStatus, 0) << signedFile.err;
        SubprocessResult verified = run(kMinisign, {"-V", "-p", dir / "keys/b.pub", "-m", firmware});
        EXPECT_EQ(verified.exitStatus, 0) << verified.err;
        EXPECT_EQ(trustedCheck().kind, SignatureStatus::Signed);
    }
    EXPECT_EQ(run(kBirdtool, {"sign", "-s", dir / "b.key", firmware}, "not the password\n").exitStatus, 1);
}

TEST_F(MinisignInterop, EachToolSignsWithTheOthersSecretKey) {
    minisignKeys();
    ASSERT_EQ(run(kBirdtool, {"sign", "-s", dir / "m.key", firmware}).exitStatus, 0);
    EXPECT_EQ(run(kMinisign, {"-V", "-p", dir / "keys/m.pub", "-m", firmware}).exitStatus, 0);

    ASSERT_EQ(run(kBirdtool, {"keygen", "-p", dir / "b.pub", "-s", dir / "b.key"}, "pw\n").exitStatus, 0);
    SubprocessResult signedFile = run(kMinisign, {"-S", "-s", dir / "b.key", "-m", firmware}, "pw\n");
    ASSERT_EQ(signedFile.exitStatus, 0) << signedFile.err;
    EXPECT_EQ(run(kBirdtool, {"verify", "-p", dir / "b.pub", firmware}).exitStatus, 0);
    // A signature by the other key is refused, naming the key that made it.
    SubprocessResult other = run(kBirdtool, {"verify", "-p", dir / "keys/m.pub", firmware});
    EXPECT_EQ(other.exitStatus, 1);
    EXPECT_NE(other.err.find("signed by key"), std::string::npos) << other.err;
}
