// The reference server read by an independent HTTP client: curl must get the same
// replies, byte for byte, as the Updater's own transfer.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "BirdWriter.h"
#include "Http.h"
#include "ReferenceServer.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "Required.h"

namespace {

const char kCurl[] = "/usr/bin/curl";

// A catalogue with one device, 0BADCAFE, whose builds the test puts into serial().
class ReferenceServerWithCurl : public ::testing::Test {
  protected:
    void SetUp() override {
        VELTRANO_REQUIRE(TestSupport::missingProgram(kCurl, "curl"));
        for (const char* sub : {"/catalogue", "/catalogue/serial", "/catalogue/serial/0BADCAFE"})
            ASSERT_EQ(::mkdir((dir.path() + sub).c_str(), 0755), 0);
        dir.write("catalogue/devices.txt", "0BADCAFE VT-Router\n");
    }
    std::string serial(const std::string& name) const { return dir / ("catalogue/serial/0BADCAFE/" + name); }
    SubprocessResult curl(const ReferenceServer& server, const std::string& query) const {
        return runSubprocess(kCurl, {"-sS", "--max-time", "10", server.url() + query});
    }

    TempDir dir;
};

} // namespace

TEST_F(ReferenceServerWithCurl, RepliesMatchTheUpdatersOwnTransfer) {
    BirdWriter writer;
    writer.addIdentity("2.11.4", 0x0BADCAFE, "VT-Router");
    writer.addFirmwareImage(0x1000, std::vector<uint8>(4096, 0xA5));
    writer.writeFile(serial("42.bird"));

    ReferenceServer server(dir / "catalogue", dir / "log");
    for (const std::string query : {"?op=hi&rv=2&", "?op=builds&sn=0BADCAFE&", "?op=qu&sn=0BADCAFE&",
                                    "?bld=42&fw=VT-Router&no_cal=false&op=bird&sn=0BADCAFE&"}) {
        SubprocessResult theirs = curl(server, query);
        ASSERT_EQ(theirs.exitStatus, 0) << query << ": " << theirs.err;
        Http::Reply own = Http::get((server.url() + query).c_str(), {});
        EXPECT_EQ(own.status, 200) << query;
        EXPECT_EQ(theirs.out, own.body) << query;
        EXPECT_EQ(theirs.out.rfind("ok", 0), 0u) << query << ": " << theirs.out;
    }
}

// A build travels as the Base64 text of the stored file, whatever its bytes: a file
// whose text is known, with both of the alphabet's last two letters and padding.
TEST_F(ReferenceServerWithCurl, ABuildTravelsAsTheBase64TextOfItsFile) {
    dir.write("catalogue/serial/0BADCAFE/43.bird", "\xfb\xff\xbfVeltrano");
    ReferenceServer server(dir / "catalogue", dir / "log");
    SubprocessResult build = curl(server, "?bld=43&fw=VT-Router&no_cal=false&op=bird&sn=0BADCAFE&");
    EXPECT_EQ(build.exitStatus, 0) << build.err;
    EXPECT_EQ(build.out, "ok\n+/+/VmVsdHJhbm8=\n");
}
