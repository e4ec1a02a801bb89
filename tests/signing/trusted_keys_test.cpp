// Where trusted keys come from and what the run's policy makes of them: no key file
// means no requirement; a damaged key file is named and still keeps the check on;
// an unsigned file passes only when allowed, and then with one warning.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../updater/RecordingDisplay.h"
#include "SignaturePolicy.h"
#include "TempDir.h"
#include "TestSigner.h"
#include "TrustedKeys.h"

TEST(TrustedKeys, OnlyPubFilesCountAndADamagedOneKeepsTheCheckOn) {
    TempDir dir;
    EXPECT_FALSE(TrustedKeys::load({dir / "missing", dir.path()}).configured());

    const TestSigner signer;
    signer.trustIn(dir.path(), "good");
    dir.write("keys/notes.txt", "not a key");
    dir.write("keys/.hidden.pub", "not a key either");
    TrustedKeys keys = TrustedKeys::load({dir / "keys"});
    EXPECT_TRUE(keys.configured());
    EXPECT_TRUE(keys.problems().empty());

    dir.write("keys/damaged.pub", "untrusted comment: x\nRWQ=\n");
    keys = TrustedKeys::load({dir / "keys"});
    EXPECT_TRUE(keys.configured());
    ASSERT_EQ(keys.problems().size(), 1u);
    EXPECT_EQ(keys.problems()[0].rfind(dir / "keys/damaged.pub: ", 0), 0u) << keys.problems()[0];

    // A damaged key alone still requires signatures, which nothing can then satisfy.
    TempDir lone;
    lone.write("damaged.pub", "garbage");
    RecordingDisplay display;
    SignaturePolicy policy({lone.path()}, false);
    const std::string firmware = lone.write("7.bird", "firmware");
    signer.signFile(firmware);
    EXPECT_FALSE(policy.admitFile(&display, firmware));
    ASSERT_EQ(display.errors.size(), 2u);
    EXPECT_EQ(display.errors[0].rfind("Warning: trusted key " + lone.path() + "/damaged.pub: ", 0), 0u);
}

TEST(TrustedKeys, PolicyAdmitsUnsignedFilesOnlyWhenAllowedAndWarnsOnce) {
    TempDir dir;
    const TestSigner signer;
    signer.trustIn(dir.path());
    const std::string firmware = dir.write("7.bird", "firmware");
    for (bool allowed : {false, true}) {
        SCOPED_TRACE(allowed ? "allowed" : "not allowed");
        RecordingDisplay display;
        SignaturePolicy policy({dir / "keys"}, allowed);
        EXPECT_EQ(policy.admitFile(&display, firmware), allowed);
        EXPECT_EQ(policy.admitFile(&display, firmware), allowed);
        EXPECT_EQ(display.errors.size(), allowed ? 1u : 2u);
    }
    RecordingDisplay display;
    SignaturePolicy none({dir / "no-keys"}, false);
    EXPECT_TRUE(none.admitFile(&display, firmware));
    EXPECT_TRUE(display.errors.empty());
}
