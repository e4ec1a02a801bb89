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

} // namespace

TEST(ReferenceServerWithCurl, RepliesMatchTheUpdatersOwnTransfer) {
    VELTRANO_REQUIRE(TestSupport::missingProgram(kCurl, "curl"));
    TempDir dir;
    for (const char* sub : {"/catalogue", "/catalogue/serial", "/catalogue/serial/0BADCAFE"})
        ASSERT_EQ(::mkdir((dir.path() + sub).c_str(), 0755), 0);
    dir.write("catalogue/devices.txt", "0BADCAFE VT-Router\n");
    BirdWriter writer;
    writer.addIdentity("2.11.4", 0x0BADCAFE, "VT-Router");
    writer.addFirmwareImage(0x1000, std::vector<uint8>(4096, 0xA5));
    writer.writeFile(dir / "catalogue/serial/0BADCAFE/42.bird");
    const std::string file = TempDir::read(dir / "catalogue/serial/0BADCAFE/42.bird");

    ReferenceServer server(dir / "catalogue", dir / "log");
    for (const std::string query : {"?op=hi&rv=2&", "?op=builds&sn=0BADCAFE&", "?op=qu&sn=0BADCAFE&",
                                    "?bld=42&fw=VT-Router&no_cal=false&op=bird&sn=0BADCAFE&"}) {
        const std::string url = server.url() + query;
        SubprocessResult curl = runSubprocess(kCurl, {"-sS", "--max-time", "10", url});
        ASSERT_EQ(curl.exitStatus, 0) << query << ": " << curl.err;
        Http::Reply own = Http::get(url.c_str(), {});
        EXPECT_EQ(own.status, 200) << query;
        EXPECT_EQ(curl.out, own.body) << query;
        EXPECT_EQ(curl.out.rfind("ok", 0), 0u) << query << ": " << curl.out;
    }
}

// A build travels as the Base64 text of the stored file, whatever its bytes: a file
// whose text is known, with both of the alphabet's last two letters and padding.
TEST(ReferenceServerWithCurl, ABuildTravelsAsTheBase64TextOfItsFile) {
    VELTRANO_REQUIRE(TestSupport::missingProgram(kCurl, "curl"));
    TempDir dir;
    for (const char* sub : {"/catalogue", "/catalogue/serial", "/catalogue/serial/0BADCAFE"})
        ASSERT_EQ(::mkdir((dir.path() + sub).c_str(), 0755), 0);
    dir.write("catalogue/devices.txt", "0BADCAFE VT-Router\n");
    dir.write("catalogue/serial/0BADCAFE/43.bird", "\xfb\xff\xbfVeltrano");
    ReferenceServer server(dir / "catalogue", dir / "log");
    SubprocessResult build =
        runSubprocess(kCurl, {"-sS", "--max-time", "10",
                              server.url() + "?bld=43&fw=VT-Router&no_cal=false&op=bird&sn=0BADCAFE&"});
    EXPECT_EQ(build.exitStatus, 0) << build.err;
    EXPECT_EQ(build.out, "ok\n+/+/VmVsdHJhbm8=\n");
}
