// The download command in process: the activity indicator driven while the build
// request runs on its worker thread, and the checks made before any request.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include "../updater/LogCapture.h"
#include "../updater/RecordingDisplay.h"
#include "AsNobody.h"
#include "Base64.h"
#include "BirdBytes.h"
#include "ScriptedHttpServer.h"
#include "TempDir.h"
#include "UpdaterApp.h"

namespace {

// Counts indicator frames as well as messages.
class ActivityDisplay : public RecordingDisplay {
  public:
    void showActivity(bool active, const char* label) override {
        (active ? activeFrames : endings)++;
        labels.emplace_back(label ? label : "");
    }
    int activeFrames = 0;
    int endings = 0;
    std::vector<std::string> labels;
};

// The build the servers here send, a small BIRD file.
const std::string& servedBuild() {
    static const std::string bytes = birdFileBytes("1.0.0", 0x40F5849A, "VT-Router", 64);
    return bytes;
}

ScriptedHttpServer::Script slowBuildServer() {
    return [](const std::string& target) {
        if (target.find("op=hi&") != std::string::npos) return ScriptedResponse::http(200, "ok\n");
        if (target.find("op=qu&") != std::string::npos) return ScriptedResponse::http(200, "ok\n5\nfw\n");
        if (target.find("op=builds&") != std::string::npos)
            return ScriptedResponse::http(200, "ok\n5;1.0.0\n");
        // The build arrives in pieces over about 600 ms.
        const std::string payload =
            Base64::encode(reinterpret_cast<const uint8_t*>(servedBuild().data()), servedBuild().size());
        return ScriptedResponse::chunked(200, {"ok\n", payload.substr(0, 8), payload.substr(8), "\n"}, 200);
    };
}

} // namespace

TEST(Download, IndicatorRunsWhileTheBuildArrives) {
    TempDir dir;
    ScriptedHttpServer server(slowBuildServer());
    ActivityDisplay display;
    UpdaterApp app(server.url(), dir.path(), &display);
    EXPECT_EQ(app.Download_Firmware(0x40F5849A, "", false, false), 5u);
    // One frame before the wait and one per 100 ms slice, then a single ending.
    EXPECT_GE(display.activeFrames, 4);
    EXPECT_EQ(display.endings, 1);
    for (const std::string& label : display.labels)
        EXPECT_EQ(label, "Downloading");
    EXPECT_EQ(TempDir::read(dir / "40F5849A/5.bird"), servedBuild());
    EXPECT_TRUE(display.errors.empty());
}

TEST(Download, ArgumentsAreCheckedBeforeAnyRequest) {
    TempDir dir;
    ScriptedHttpServer server(slowBuildServer());
    const struct {
        uint32_t serial;
        const char* build;
        const char* error;
    } cases[] = {
        {0x40F5849A, "abc", "Build number 'abc' must be an number"},
        {0x40F5849A, "4294967296", "Build number '4294967296' must be an number"},
        {0, "5", "Serial Number must be non-zero"},
        {0, "", "Serial Number must be non-zero"},
    };
    for (const auto& c : cases) {
        RecordingDisplay display;
        UpdaterApp app(server.url(), dir.path(), &display);
        EXPECT_EQ(app.Download_Firmware(c.serial, c.build, false, false), 0u) << c.build;
        EXPECT_EQ(display.errors, std::vector<std::string>{c.error}) << c.build;
    }
    EXPECT_TRUE(server.targets().empty());
}

TEST(Download, StoreThatCannotBeOpened) {
    TempDir dir;
    ScriptedHttpServer server(slowBuildServer());
    const std::string root = dir.write("store", "a file, not a directory");
    RecordingDisplay display;
    UpdaterApp app(server.url(), root, &display);
    EXPECT_EQ(app.Download_Firmware(0x40F5849A, "", false, false), 0u);
    EXPECT_EQ(display.errors,
              std::vector<std::string>{"Failed to Create UpdaterStore in: Download_Firmware - "
                                       "Exception: UpdaterStore: " +
                                       root + " exists and is a file"});
    // Only the ping went out.
    EXPECT_EQ(server.targets(), std::vector<std::string>{"/cgi/u?op=hi&rv=2&"});
}

TEST(Download, UnreadableLatestBuildIsLoggedAndCountsAsZero) {
    TempDir dir;
    LogCapture log(DEBUG_Updater);
    ScriptedHttpServer server([](const std::string& target) {
        if (target.find("op=qu&") != std::string::npos)
            return ScriptedResponse::http(200, "ok\nlatest\nfw\n");
        if (target.find("op=builds&") != std::string::npos)
            return ScriptedResponse::http(200, "ok\n7;1.0.0\n");
        return ScriptedResponse::http(200, "ok\n");
    });
    RecordingDisplay display;
    UpdaterApp app(server.url(), dir.path(), &display);
    EXPECT_EQ(app.Download_Firmware(0x40F5849A, "", false, false), 0u);
    EXPECT_EQ(display.errors, std::vector<std::string>{"No valid build 0"});
    EXPECT_NE(log.text().find("Error: Could not convert latest to int.\n"), std::string::npos);
}

// A worker thread that cannot be started is a failed download, never an exception
// past the command.
TEST(Download, NoThreadForTheDownloadFailsTheCommand) {
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    ScriptedHttpServer server(slowBuildServer());
    const int failures = asNobody([&] {
        // No further process or thread for this user.
        const struct rlimit none = {1, 1};
        if (setrlimit(RLIMIT_NPROC, &none) != 0) return 50;
        RecordingDisplay display;
        UpdaterApp app(server.url(), dir.path(), &display);
        int bad = app.Download_Firmware(0x40F5849A, "", false, false) != 0u;
        bad += display.errors !=
               std::vector<std::string>{"Download failed", "Failed to retrieve a valid BIRD file"};
        return bad;
    });
    EXPECT_EQ(failures, 0);
    // The device's record was made, the build request never went out.
    EXPECT_EQ(server.targets().size(), 3u);
    EXPECT_EQ(TempDir::read(dir / "40F5849A/5.bird"), "");
}
