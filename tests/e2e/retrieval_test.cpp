// -G, -B and -L run as the built Updater against the reference update server (and
// against scripted servers that fail on purpose): console output, exit status, what
// lands in the store, and the exact queries sent.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>

#include "AsNobody.h"
#include "Base64.h"
#include "BirdBytes.h"
#include "ReferenceServer.h"
#include "ScriptedHttpServer.h"
#include "Subprocess.h"
#include "UpdaterProcess.h"
#include "TempDir.h"

namespace {

const std::string kBanner = "Updater (Version: 2.11.2 Apr 29 2025)\n";
const std::string kGetLatest = kBanner + "Retrieving firmware for device with serial number 40F5849A\n"
                                         "No build specified\n"
                                         "Using Latest build\n";

// What -B prints for the catalogue of the Retrieval tests.
const std::string kServerListing = "Build List for device [40F5849A]:\n\n"
                                   "Build          \tVersion        \n"
                                   "28             \t1.10.0         \n"
                                   "27             \t1.2.3          \n"
                                   "26             \t0.9.0          \n";

// What -G -b BUILD prints up to the build check.
std::string getChosen(const std::string& build) {
    return kBanner +
           "Retrieving firmware for device with serial number 40F5849A\nRetrieving firmware build " + build +
           "\nRetrieving build " + build + "\n";
}

bool exists(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

// The build every scripted server sends, and its Base64 form as sent.
const std::string& servedBuild() {
    static const std::string bytes = birdFileBytes("1.0.0", 0x40F5849A, "VT-Router");
    return bytes;
}

std::string base64(const std::string& bytes) {
    return Base64::encode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// The attributes file as a map.
class Retrieval : public ::testing::Test {
  protected:
    Retrieval() {
        TempDir::makeDirectories(dir / "catalogue/serial/40F5849A");
        TempDir::makeDirectories(dir / "catalogue/model/VT-Router");
        dir.write("catalogue/devices.txt", "# serial model\n40F5849A VT-Router\n");
        build27 =
            dir.write("catalogue/serial/40F5849A/27.bird", birdFileBytes("1.2.3", 0x40F5849A, "VT-Router"));
        build28 = dir.write("catalogue/model/VT-Router/28.bird", birdFileBytes("1.10.0", 0, "VT-Router"));
        dir.write("catalogue/model/VT-Router/26.bird", birdFileBytes("0.9.0", 0, "VT-Router"));
    }

    SubprocessResult updater(std::vector<std::string> args, const std::string& url) {
        args.insert(args.end(), {"-u", url, "-i", dir / "store"});
        SubprocessResult result = runUpdater(args, dir / "home");
        EXPECT_TRUE(result.started);
        EXPECT_FALSE(result.timedOut);
        return result;
    }

    std::string device(const std::string& name = "") const {
        return dir / ("store/updater/40F5849A" + (name.empty() ? "" : "/" + name));
    }

    TempDir dir;
    std::string build27, build28;
};

} // namespace

TEST_F(Retrieval, GetStoresTheLatestBuildAndRecordsIt) {
    ReferenceServer server(dir / "catalogue", dir / "server.log");
    SubprocessResult r = updater({"-G", "-d", "40F5849A"}, server.url());
    EXPECT_EQ(r.out, kGetLatest + "Retrieving build 28\n"
                                  "Validating build 28 with server\n"
                                  "Build 28 is valid\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(TempDir::read(device("28.bird")), TempDir::read(build28));
    const auto values = TempDir::readAttributes(device(".settings"));
    EXPECT_EQ(values.at("LATEST_DOWNLOAD"), "28.bird");
    EXPECT_EQ(values.at("LAST_DOWNLOAD_DATE").size(), 24u);
    EXPECT_EQ(values.count("CREATED_TIME"), 1u);
    EXPECT_EQ(values.count("UPDATED_TIME"), 1u);
    EXPECT_EQ(server.requests(), (std::vector<std::string>{
                                     "/cgi/u?op=hi&rv=2&",
                                     "/cgi/u?op=qu&sn=40F5849A&",
                                     "/cgi/u?op=builds&sn=40F5849A&",
                                     "/cgi/u?bld=28&fw=VT-Router&no_cal=false&op=bird&sn=40F5849A&",
                                 }));
}

TEST_F(Retrieval, GetChosenBuild) {
    ReferenceServer server(dir / "catalogue", dir / "server.log");
    // "-b 027" reads as build 27; "-b 0" means the latest.
    SubprocessResult chosen = updater({"-G", "-d", "40F5849A", "-b", "027"}, server.url());
    EXPECT_EQ(chosen.out, getChosen("27") +

                              "Validating build 27 with server\n"
                              "Build 27 is valid\n");
    EXPECT_EQ(chosen.exitStatus, 0);
    EXPECT_EQ(TempDir::read(device("27.bird")), TempDir::read(build27));
    EXPECT_EQ(server.requests().back(), "/cgi/u?bld=27&fw=VT-Router&no_cal=false&op=bird&sn=40F5849A&");

    SubprocessResult latest = updater({"-G", "-d", "40F5849A", "-b", "0"}, server.url());
    EXPECT_NE(latest.out.find("Retrieving firmware build 0\nRetrieving build 28\n"), std::string::npos);
    EXPECT_EQ(latest.exitStatus, 0);
    EXPECT_EQ(TempDir::readAttributes(device(".settings")).at("LATEST_DOWNLOAD"), "28.bird");
    EXPECT_TRUE(exists(device("27.bird")));
}

TEST_F(Retrieval, OverrideSkipsTheBuildCheck) {
    ReferenceServer server(dir / "catalogue", dir / "server.log");
    SubprocessResult r = updater({"-G", "-d", "40F5849A", "-b", "27", "-OVERRIDE"}, server.url());
    EXPECT_EQ(r.out, getChosen("27") +

                         "Override specified, skipping validation of build 27\n");
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_TRUE(exists(device("27.bird")));
    for (const std::string& request : server.requests())
        EXPECT_EQ(request.find("op=builds"), std::string::npos);
}

TEST_F(Retrieval, BuildTheServerDoesNotListIsRefused) {
    ReferenceServer server(dir / "catalogue", dir / "server.log");
    SubprocessResult r = updater({"-G", "-d", "40F5849A", "-b", "99"}, server.url());
    EXPECT_EQ(r.out, getChosen("99") +

                         "Validating build 99 with server\n");
    EXPECT_EQ(r.err, "No valid build 99\n");
    EXPECT_EQ(r.exitStatus, 1);
    // The device's record was made before asking; nothing else is stored.
    EXPECT_TRUE(exists(device(".settings")));
    EXPECT_FALSE(exists(device("99.bird")));
    EXPECT_EQ(TempDir::readAttributes(device(".settings")).count("LATEST_DOWNLOAD"), 0u);
    EXPECT_EQ(server.requests().size(), 3u);
}

TEST_F(Retrieval, DeviceWithoutBuildsGetsItsRecordButNoFile) {
    ReferenceServer server(dir / "catalogue", dir / "server.log");
    SubprocessResult r = updater({"-G", "-d", "1234ABCD", "-X", "0x10000"}, server.url());
    EXPECT_EQ(r.out, kBanner + "Retrieving firmware for device with serial number 1234ABCD\n"
                               "No build specified\n"
                               "Using Latest build\n");
    const std::string tail =
        "Could not find device in our update history.\nNo build information for device\n";
    ASSERT_GE(r.err.size(), tail.size());
    EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail) << r.err;
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(exists(dir / "store/updater/1234ABCD/.settings"));
}

TEST_F(Retrieval, ServerListingNewestFirst) {
    ReferenceServer server(dir / "catalogue", dir / "server.log");
    SubprocessResult r = updater({"-B", "-d", "40F5849A"}, server.url());
    EXPECT_EQ(r.out, kBanner + kServerListing);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(server.requests(),
              (std::vector<std::string>{"/cgi/u?op=hi&rv=2&", "/cgi/u?op=builds&sn=40F5849A&"}));
    // -B writes nothing.
    EXPECT_FALSE(exists(device()));

    SubprocessResult unknown = updater({"-B", "-d", "1234ABCD"}, server.url());
    EXPECT_EQ(unknown.out, kBanner + "No builds found for device [1234ABCD]\n");
    EXPECT_EQ(unknown.exitStatus, 0);
}

// -G runs first, then the one listing asked for (-B before -L); a listing's status
// is the run's, whatever -G did.
TEST_F(Retrieval, CommandOrder) {
    ReferenceServer server(dir / "catalogue", dir / "server.log");
    const struct {
        std::vector<std::string> args;
        std::string out, err;
    } cases[] = {
        {{"-G", "-L"},
         kGetLatest + "Retrieving build 28\nValidating build 28 with server\nBuild 28 is valid\n"
                      "Build List for device [40F5849A]:\n\n"
                      "Build          \tVersion        \n"
                      "28             \t1.10.0         \n",
         ""},
        {{"-G", "-B", "-b", "99"},
         getChosen("99") + "Validating build 99 with server\n" + kServerListing,
         "No valid build 99\n"},
        {{"-B", "-L"}, kBanner + kServerListing, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        TempDir store;
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-d", "40F5849A", "-u", server.url(), "-i", store.path()});
        SubprocessResult r = runUpdater(args, dir / "home");
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.exitStatus, 0);
    }
    // -B -L asked the server for its list and nothing else.
    const std::vector<std::string> requests = server.requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(requests.end() - 2, requests.end()),
              (std::vector<std::string>{"/cgi/u?op=hi&rv=2&", "/cgi/u?op=builds&sn=40F5849A&"}));
}

// The usage says "-u <host:port>": the queries then go to /cgi/u on that server.
TEST_F(Retrieval, ServerNamedByHostAndPort) {
    ReferenceServer server(dir / "catalogue", dir / "server.log");
    const std::string url = server.url();
    ASSERT_EQ(url.rfind("http://", 0), 0u);
    const std::string hostPort = url.substr(7, url.size() - 7 - std::string("/cgi/u").size());
    SubprocessResult r = updater({"-B", "-d", "40F5849A"}, hostPort);
    EXPECT_EQ(r.out, kBanner + kServerListing);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(server.requests(),
              (std::vector<std::string>{"/cgi/u?op=hi&rv=2&", "/cgi/u?op=builds&sn=40F5849A&"}));
}

TEST_F(Retrieval, LocalListingOfStoredFiles) {
    TempDir::makeDirectories(device());
    dir.write("store/updater/40F5849A/7.bird", birdFileBytes("1.2.3", 0, "VT-Router"));
    dir.write("store/updater/40F5849A/9.bird", birdFileBytes("2.0.0", 0, "VT-Router"));
    dir.write("store/updater/40F5849A/12.bird", birdFileBytes("1.2.3-abcdefghij", 0, "VT-Router"));
    // Passes the header check but does not inflate: listed without a version.
    dir.write("store/updater/40F5849A/13.bird", std::string("bird\1\1garbage"));
    dir.write("store/updater/40F5849A/notes.txt", "not firmware");
    dir.write("store/updater/40F5849A/old.bird.bak", "not firmware either");
    dir.write("store/updater/40F5849A/.hidden.bird", birdFileBytes("3.0.0", 0, "VT-Router"));
    // No server is needed: the URL is never asked.
    SubprocessResult r = updater({"-L", "-d", "40F5849A"}, "http://127.0.0.1:1/cgi/u");
    // Newest first; versions that compare equal or not at all keep their key order;
    // columns are cut after 15 characters.
    EXPECT_EQ(r.out, kBanner + "Build List for device [40F5849A]:\n\n"
                               "Build          \tVersion        \n"
                               "9              \t2.0.0          \n"
                               "12             \t1.2.3-abcdefghi\n"
                               "13             \t               \n"
                               "7              \t1.2.3          \n"
                               "notes.txt      \t               \n"
                               "old            \t               \n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 0);

    SubprocessResult unknown = updater({"-L", "-d", "1234ABCD"}, "http://127.0.0.1:1/cgi/u");
    EXPECT_EQ(unknown.out, kBanner + "No builds found for device [1234ABCD]\n");
    EXPECT_EQ(unknown.exitStatus, 0);
    EXPECT_FALSE(exists(dir / "store/updater/1234ABCD"));
}

// Another user may list the store without being able to read a device's record:
// the listing goes on, and the record stays as it is.
TEST_F(Retrieval, LocalListingAsAnotherUserLeavesAnUnreadableRecord) {
    TempDir::makeDirectories(device());
    dir.write("store/updater/40F5849A/7.bird", birdFileBytes("1.2.3", 0, "VT-Router"));
    const std::string record = "LATEST_DOWNLOAD=7.bird\nLATEST_TRANSFER=7.bird\n";
    const std::string settings = dir.write("store/updater/40F5849A/.settings", record);
    for (const std::string& path : {dir.path(), dir / "store", dir / "store/updater", device()})
        ASSERT_EQ(chmod(path.c_str(), 0777), 0);
    ASSERT_EQ(chmod(settings.c_str(), 0), 0);
    const int failures = asNobody([&] {
        SubprocessResult r = updater({"-L", "-d", "40F5849A"}, "http://127.0.0.1:1/cgi/u");
        return (r.out != kBanner + "Build List for device [40F5849A]:\n\n"
                                   "Build          \tVersion        \n"
                                   "7              \t1.2.3          \n") +
               (r.err != "") + (r.exitStatus != 0);
    });
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(TempDir::read(settings), record);
}

TEST_F(Retrieval, GetWhenTheFileCannotBeWritten) {
    ReferenceServer server(dir / "catalogue", dir / "server.log");
    // A directory where the build should go: the file cannot replace it.
    TempDir::makeDirectories(device("28.bird"));
    SubprocessResult r = updater({"-G", "-d", "40F5849A"}, server.url());
    EXPECT_EQ(r.err, "Failed to write file with 3\n");
    // Nothing was stored, so nothing is recorded and the download fails.
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(TempDir::readAttributes(device(".settings")).count("LATEST_DOWNLOAD"), 0u);
}

// A store so deep that the device's files would pass the path limit: nothing is
// stored, and the download fails instead of reporting a build it cannot keep.
TEST_F(Retrieval, GetIntoAStoreBeyondThePathLimitFails) {
    ReferenceServer server(dir / "catalogue", dir / "server.log");
    // The device directory, base + "/updater/40F5849A", takes 255 characters.
    const std::string base = dir / std::string(255 - 17 - dir.path().size() - 1, 'b');
    SubprocessOptions options;
    options.setEnv["HOME"] = dir / "home";
    SubprocessResult r =
        runSubprocess(kUpdaterProgram, {"-G", "-d", "40F5849A", "-u", server.url(), "-i", base}, options);
    EXPECT_EQ(r.out, kGetLatest + "Retrieving build 28\n"
                                  "Validating build 28 with server\n"
                                  "Build 28 is valid\n");
    EXPECT_EQ(r.err, "Failed to write file with 4\n");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(exists(base + "/updater/40F5849A"));
    EXPECT_FALSE(exists(base + "/updater/40F5849A/28.bird"));
    EXPECT_FALSE(exists(base + "/updater/40F5849A/.settings"));
}

namespace {

// Answers each operation with a scripted reply; operations not given get a valid one.
ScriptedHttpServer::Script failingAt(std::map<std::string, ScriptedResponse> replies) {
    return [replies](const std::string& target) {
        const std::map<std::string, std::string> good = {{"op=hi", "ok\n"},
                                                         {"op=qu", "ok\n28\nfw\n"},
                                                         {"op=builds", "ok\n28;1.0.0\n"},
                                                         {"op=bird", "ok\n" + base64(servedBuild()) + "\n"}};
        for (const auto& reply : replies)
            if (target.find(reply.first + "&") != std::string::npos) return reply.second;
        for (const auto& reply : good)
            if (target.find(reply.first + "&") != std::string::npos)
                return ScriptedResponse::http(200, reply.second);
        return ScriptedResponse::http(404, "");
    };
}

} // namespace

TEST_F(Retrieval, FailingServers) {
    const std::string validated = kGetLatest + "Retrieving build 28\n"
                                               "Validating build 28 with server\n"
                                               "Build 28 is valid\n";
    const struct Case {
        const char* what;
        std::map<std::string, ScriptedResponse> replies;
        std::string out, err;
        int status;
        bool stored;
    } cases[] = {
        {"ping refused",
         {{"op=hi", ScriptedResponse::http(500, "down")}},
         kGetLatest,
         "Server request failed for URL\n",
         1,
         false},
        {"ping not ok",
         {{"op=hi", ScriptedResponse::http(200, "maintenance\n")}},
         kGetLatest,
         "Server request failed for URL\n",
         1,
         false},
        {"no latest build",
         {{"op=qu", ScriptedResponse::http(200, "error\n")}},
         kGetLatest,
         "No build information for device\n",
         1,
         false},
        {"build list fails",
         {{"op=builds", ScriptedResponse::hangUp()}},
         kGetLatest + "Retrieving build 28\nValidating build 28 with server\n",
         "No valid build 28\n",
         1,
         false},
        {"download fails",
         {{"op=bird", ScriptedResponse::http(503, "busy")}},
         validated,
         "Download failed\nFailed to retrieve a valid BIRD file\n",
         1,
         false},
        {"empty payload",
         {{"op=bird", ScriptedResponse::http(200, "ok\n")}},
         validated,
         "Failed to retrieve a valid BIRD file\n",
         1,
         false},
        // Not Base64: nothing is stored, and the download fails.
        {"payload not Base64",
         {{"op=bird", ScriptedResponse::http(200, "ok\nYmlyZA=?\n")}},
         validated,
         "Failed to retrieve a valid BIRD file\n",
         1,
         false},
        // Base64, but not of a BIRD file that loads: nothing is stored either.
        {"payload no BIRD file",
         {{"op=bird", ScriptedResponse::http(200, "ok\n" + base64("firmware") + "\n")}},
         validated,
         "Failed to retrieve a valid BIRD file\n",
         1,
         false},
        // Wrapped at 76 characters, the first line alone arrives: it holds the header
        // but only the start of the body.
        {"line-wrapped Base64",
         {{"op=bird", ScriptedResponse::http(200, "ok\n" + base64(servedBuild()).insert(76, "\n") + "\n")}},
         validated,
         "Failed to retrieve a valid BIRD file\n",
         1,
         false},
        {"valid payload", {}, validated, "", 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir store;
        ScriptedHttpServer server(failingAt(c.replies));
        SubprocessOptions options;
        options.setEnv["HOME"] = store / "home";
        SubprocessResult r = runSubprocess(
            kUpdaterProgram, {"-G", "-d", "40F5849A", "-u", server.url(), "-i", store.path()}, options);
        std::string err = c.err;
        if (err.find("URL") != std::string::npos) err.replace(err.find("URL"), 3, server.url());
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(r.exitStatus, c.status);
        EXPECT_EQ(TempDir::read(store / "updater/40F5849A/28.bird"), c.stored ? servedBuild() : "");
        EXPECT_EQ(TempDir::readAttributes(store / "updater/40F5849A/.settings").count("LATEST_DOWNLOAD"),
                  c.stored ? 1u : 0u);
    }
}

// A server that cannot be asked is a failure, not an empty list; one that answers
// with no builds is an empty list.
TEST_F(Retrieval, ServerListingFailures) {
    // Nobody listening, an error status, and a reply that is not "ok".
    ScriptedHttpServer broken([](const std::string& target) {
        return target.find("op=hi&") != std::string::npos ? ScriptedResponse::http(200, "ok\n")
                                                          : ScriptedResponse::http(200, "error\n");
    });
    ScriptedHttpServer down([](const std::string&) { return ScriptedResponse::http(500, ""); });
    ScriptedHttpServer empty([](const std::string&) { return ScriptedResponse::http(200, "ok\n"); });
    const struct {
        std::string url, out, err;
        int status;
    } cases[] = {
        {"http://127.0.0.1:1/cgi/u", kBanner, "Server request failed for http://127.0.0.1:1/cgi/u\n", 1},
        {down.url(), kBanner, "Server request failed for " + down.url() + "\n", 1},
        {broken.url(), kBanner, "Failed to retrieve builds for 40F5849A\n", 1},
        {empty.url(), kBanner + "No builds found for device [40F5849A]\n", "", 0},
    };
    for (const auto& c : cases) {
        SubprocessResult r = updater({"-B", "-d", "40F5849A"}, c.url);
        EXPECT_EQ(r.out, c.out) << c.url;
        EXPECT_EQ(r.err, c.err) << c.url;
        EXPECT_EQ(r.exitStatus, c.status) << c.url;
    }
}

TEST_F(Retrieval, LocalListingReadsWhatBirdtoolPacks) {
    TempDir::makeDirectories(device());
    // 1 MiB of erased flash compresses far beyond 8:1 and must still load.
    const std::string image = dir.write("image.bin", std::string(1 << 20, '\xFF'));
    SubprocessResult pack =
        runSubprocess(VELTRANO_BIN_DIR "/birdtool", {"pack", "-o", device("99528558.bird"), "-f",
                                                     "0x1000=" + image, "-V", "2.11.4", "-m", "VT-Router"});
    ASSERT_EQ(pack.exitStatus, 0) << pack.err;
    SubprocessResult r = updater({"-L", "-d", "40F5849A"}, "http://127.0.0.1:1/cgi/u");
    EXPECT_EQ(r.out, kBanner + "Build List for device [40F5849A]:\n\n"
                               "Build          \tVersion        \n"
                               "99528558       \t2.11.4         \n");
    EXPECT_EQ(r.exitStatus, 0);
}
