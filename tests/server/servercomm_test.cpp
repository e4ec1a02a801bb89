// Update-server requests: the exact query each sends, the reply grammar, the status
// and transport failures, the build check and the sorted build list.
#include <gtest/gtest.h>

#include "../updater/LogCapture.h"
#include "ScriptedHttpServer.h"
#include "ServerCommClass.h"

namespace {

Http::Limits quickLimits() {
    Http::Limits limits;
    limits.connectTimeoutMs = 500;
    limits.lowSpeedSeconds = 1;
    return limits;
}

// A server that answers every request with the same status and body.
struct FixedServer {
    FixedServer(int status, std::string body)
        : server([status, body](const std::string&) { return ScriptedResponse::http(status, body); }) {}
    const char* url() {
        base = server.url();
        return base.c_str();
    }
    std::string target() {
        auto t = server.targets();
        return t.empty() ? "" : t.back();
    }
    ScriptedHttpServer server;
    std::string base;
};

} // namespace

TEST(ServerComm, EachRequestSendsItsExactQuery) {
    FixedServer s(200, "ok\n");
    ServerCommClass comm(quickLimits());
    std::string a, b, payload;
    BuildList builds;
    uint32_t serial = 0, build = 0;
    const uint32_t fingerprint[4] = {1, 2, 3, 4};

    EXPECT_TRUE(comm.ping(s.url()));
    EXPECT_EQ(s.target(), "/cgi/u?op=hi&rv=2&");
    EXPECT_TRUE(comm.QueryBuild(0x1A2B, a, b, s.url()));
    EXPECT_EQ(s.target(), "/cgi/u?op=qu&sn=00001A2B&");
    EXPECT_TRUE(comm.GetBuildList(0x40F5849A, builds, s.url()));
    EXPECT_EQ(s.target(), "/cgi/u?op=builds&sn=40F5849A&");
    EXPECT_TRUE(comm.GetBuild(0x1234ABCD, "X", "27", false, payload, s.url()));
    EXPECT_EQ(s.target(), "/cgi/u?bld=27&fw=X&no_cal=false&op=bird&sn=1234ABCD&");
    EXPECT_TRUE(comm.GetBuild(0x1234ABCD, "X", "27", true, payload, s.url()));
    EXPECT_EQ(s.target(), "/cgi/u?bld=27&fw=X&no_cal=true&op=bird&sn=1234ABCD&");
    EXPECT_TRUE(comm.GetRecoveryInfo(fingerprint, serial, build, s.url()));
    EXPECT_EQ(s.target(), "/cgi/u?brief=true&fp=00000001%2000000002%2000000003%2000000004&op=fix&");
}

TEST(ServerComm, DefaultEndpointIsPlainHttpOnTheUpdatePath) {
    const std::string url = ServerCommClass::defaultBaseUrl();
    EXPECT_EQ(url.rfind("http://", 0), 0u);
    EXPECT_EQ(url.substr(url.size() - 6), "/cgi/u");
}

TEST(ServerComm, OnlyOkRepliesWithStatus200Succeed) {
    const struct {
        int status;
        const char* body;
        bool ok;
    } cases[] = {
        {200, "ok\n", true},  {200, "okay", true},  {200, "\n\nok", true}, {200, "error\n", false},
        {200, "", false},     {200, "o", false},    {200, "OK\n", false},  {404, "ok\n", false},
        {500, "ok\n", false}, {302, "ok\n", false},
    };
    ServerCommClass comm(quickLimits());
    for (const auto& c : cases) {
        FixedServer s(c.status, c.body);
        EXPECT_EQ(comm.ping(s.url()), c.ok) << c.status << " " << c.body;
    }
    // Unreachable server: false, no exception.
    EXPECT_FALSE(comm.ping("http://127.0.0.1:1/cgi/u"));
}

TEST(ServerComm, QueryBuildTakesLinesTwoAndThree) {
    ServerCommClass comm(quickLimits());
    const struct {
        const char* body;
        const char* build;
        const char* fw;
    } cases[] = {
        {"ok\n99528558\nFW-7\r\n", "99528558", "FW-7"},
        {"ok\n\n99528558\n\nFW-7", "99528558", "FW-7"}, // empty lines are skipped
        {"ok\n12\r\nFW\r", "12\r", "FW"},               // only line 3 stops at "\r"
        {"ok\n12\n", "12", "keep"},                     // missing line keeps its old value
        {"ok\n", "keep", "keep"},
    };
    for (const auto& c : cases) {
        FixedServer s(200, c.body);
        std::string build = "keep", fw = "keep";
        EXPECT_TRUE(comm.QueryBuild(1, build, fw, s.url()));
        EXPECT_EQ(build, c.build) << c.body;
        EXPECT_EQ(fw, c.fw) << c.body;
    }
    FixedServer failing(200, "no\n5\n6\n");
    std::string build = "keep", fw = "keep";
    EXPECT_FALSE(comm.QueryBuild(1, build, fw, failing.url()));
    EXPECT_EQ(build, "keep");
    EXPECT_EQ(fw, "keep");
}

TEST(ServerComm, BuildListEntries) {
    ServerCommClass comm(quickLimits());
    FixedServer s(200, "ok\n27;1.2.3\n28;1.10.0\r\nx\n26\n260\n27;9.9.9\n;;;\n;5.0.0\n");
    BuildList builds{{"stale", "entry"}};
    EXPECT_TRUE(comm.GetBuildList(1, builds, s.url()));
    // Short lines are skipped, the first entry per build wins, a leading ";" is skipped
    // like any delimiter run.
    const BuildList expected{{"27", "1.2.3"}, {"28", "1.10.0"}, {"260", ""}, {"5.0.0", ""}};
    EXPECT_EQ(builds, expected);

    FixedServer failing(500, "ok\n27;1.2.3\n");
    EXPECT_FALSE(comm.GetBuildList(1, builds, failing.url()));
    EXPECT_TRUE(builds.empty());
}

TEST(ServerComm, BuildPayloadIsLineTwo) {
    ServerCommClass comm(quickLimits());
    std::string payload = "old";
    FixedServer full(200, "ok\nYmlyZA==\nignored\n");
    EXPECT_TRUE(comm.GetBuild(1, "fw", "2", false, payload, full.url()));
    EXPECT_EQ(payload, "YmlyZA==");
    FixedServer none(200, "ok\n");
    EXPECT_TRUE(comm.GetBuild(1, "fw", "2", false, payload, none.url()));
    EXPECT_EQ(payload, "");
}

// Builds are cut out of the reply in place; the result must be what splitting the
// reply into lines gives, whatever the blank lines and "\r" around them.
TEST(ServerCommReply, BuildPayloadInPlaceMatchesTheLines) {
    const struct {
        std::string body;
        bool ok;
        std::string payload;
    } cases[] = {
        {"ok\nYmlyZA==\nignored\n", true, "YmlyZA=="},
        {"ok\nYmlyZA==", true, "YmlyZA=="},
        {"\n\nok\n\n\nYmlyZA==\n\n", true, "YmlyZA=="},
        {"okay\nA\r\n", true, "A\r"},
        {"ok\r\nA", true, "A"},
        {"ok", true, ""},
        {"ok\n\n\n", true, ""},
        {"o\nk\nA", false, ""},
        {"no\nA", false, ""},
        {"\n\n", false, ""},
        {"", false, ""},
        {std::string("ok\n\0A\0\nB", 8), true, std::string("\0A\0", 3)},
    };
    for (const auto& c : cases) {
        std::vector<std::string> lines;
        const bool linesOk = ServerCommReply::isOk(c.body, lines);
        std::string body = c.body;
        EXPECT_EQ(ServerCommReply::takeBuildPayload(body), c.ok) << c.body;
        EXPECT_EQ(linesOk, c.ok) << c.body;
        if (c.ok) {
            EXPECT_EQ(body, c.payload) << c.body;
            EXPECT_EQ(ServerCommReply::buildPayload(lines), c.payload) << c.body;
        } else {
            EXPECT_EQ(body, c.body) << "a refused reply stays as it came";
        }
    }
}

TEST(ServerComm, RecoveryInfoNumberBases) {
    ServerCommClass comm(quickLimits());
    const uint32_t fingerprint[4] = {1, 2, 3, 4};
    const struct {
        const char* body;
        uint32_t serial, build;
    } cases[] = {
        {"ok\n1234ABCD\n0x1B\n", 0x1234ABCD, 27},
        {"ok\n1234abcd\n033\n", 0x1234ABCD, 27},
        {"ok\n1234ABCD\n27\n", 0x1234ABCD, 27},
        {"ok\n1234ABCD\n", 0x1234ABCD, 99}, // build line missing: untouched
        {"ok\n", 77, 99},
        {"ok\n123456789\n99999999999\n", 0xFFFFFFFF, 0xFFFFFFFF}, // too large: saturates
    };
    for (const auto& c : cases) {
        FixedServer s(200, c.body);
        uint32_t serial = 77, build = 99;
        EXPECT_TRUE(comm.GetRecoveryInfo(fingerprint, serial, build, s.url()));
        EXPECT_EQ(serial, c.serial) << c.body;
        EXPECT_EQ(build, c.build) << c.body;
    }
}

TEST(ServerComm, BuildCheckMatchesDecimalBuildNumbers) {
    ServerCommClass comm(quickLimits());
    FixedServer s(200, "ok\n27;1.0.0\n0028;1.0.1\n 29;1.0.2\nabc;1.0.3\n99999999999;2.0.0\n");
    EXPECT_TRUE(comm.isValidBuild(1, 27, s.url()));
    EXPECT_TRUE(comm.isValidBuild(1, 28, s.url()));
    EXPECT_TRUE(comm.isValidBuild(1, 29, s.url()));
    EXPECT_FALSE(comm.isValidBuild(1, 30, s.url()));
    // Texts that are no 32-bit number count as build 0.
    EXPECT_TRUE(comm.isValidBuild(1, 0, s.url()));
    EXPECT_FALSE(comm.isValidBuild(1, 0xFFFFFFFF, s.url()));
    FixedServer failing(404, "");
    EXPECT_FALSE(comm.isValidBuild(1, 27, failing.url()));
}

TEST(ServerComm, ReadBuildNumber) {
    const struct {
        const char* text;
        bool ok;
        uint32_t value;
    } cases[] = {{"27", true, 27},         {"  007x", true, 7}, {"4294967295", true, 4294967295u},
                 {"4294967296", false, 0}, {"", false, 0},      {"x1", false, 0},
                 {"-1", false, 0},         {"12\r", true, 12}};
    for (const auto& c : cases) {
        uint32_t value = 0;
        EXPECT_EQ(readBuildNumber(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(SortedBuildList, NewestVersionFirst) {
    const BuildList builds{{"a", "1.2.3"}, {"b", "1.10.0"}, {"c", "2.0.0"}};
    const SortedBuildList expected{{"c", "2.0.0"}, {"b", "1.10.0"}, {"a", "1.2.3"}};
    EXPECT_EQ(ServerCommClass::sortedBuildList(builds), expected);
}

TEST(SortedBuildList, PartsCompareByTheirLowEightBits) {
    // 300 is 44 in the low byte, so 1.2.300 sorts below 1.2.45 and above 1.2.43.
    const BuildList builds{{"1", "1.2.43"}, {"2", "1.2.300"}, {"3", "1.2.45"}};
    const SortedBuildList expected{{"3", "1.2.45"}, {"2", "1.2.300"}, {"1", "1.2.43"}};
    EXPECT_EQ(ServerCommClass::sortedBuildList(builds), expected);
}

TEST(SortedBuildList, EqualOrIncomparableVersionsKeepKeyOrder) {
    EXPECT_FALSE(ServerCommClass::_sortVersion({"1", "1.2"}, {"2", "1.2.3"}));
    EXPECT_FALSE(ServerCommClass::_sortVersion({"2", "1.2.3"}, {"1", "1.2"}));
    EXPECT_FALSE(ServerCommClass::_sortVersion({"1", "x.y.z"}, {"2", "1.2.3"}));
    EXPECT_FALSE(ServerCommClass::_sortVersion({"1", ""}, {"2", ""}));
    EXPECT_FALSE(ServerCommClass::_sortVersion({"1", "1.2.3"}, {"2", "1.2.3"}));
    EXPECT_TRUE(ServerCommClass::_sortVersion({"1", " 1.2.4"}, {"2", "1.2.3"}));
    EXPECT_FALSE(ServerCommClass::_sortVersion({"1", "99999999999.0.0"}, {"2", "1.2.3"}));

    const BuildList builds{{"10", ""}, {"11", "1.0.0"}, {"12", "1.0.0"}, {"13", "notes"}, {"14", "1.0.0"}};
    const SortedBuildList sorted = ServerCommClass::sortedBuildList(builds);
    const SortedBuildList expected(builds.begin(), builds.end());
    EXPECT_EQ(sorted, expected);
}

TEST(ServerComm, FailuresAreLoggedWithTheOperationsName) {
    LogCapture log(DEBUG_ServerComm);
    ServerCommClass comm(quickLimits());
    FixedServer notOk(200, "error\n");
    EXPECT_FALSE(comm.ping(notOk.url()));
    FixedServer down(500, "down");
    EXPECT_FALSE(comm.ping(down.url()));
    std::string a, b;
    FixedServer missing(404, "gone");
    EXPECT_FALSE(comm.QueryBuild(0x1A2B, a, b, missing.url()));
    EXPECT_FALSE(comm.ping("http://127.0.0.1:1/cgi/u"));
    EXPECT_FALSE(ServerCommClass::_sortVersion({"1", "1.2"}, {"2", "1.2.3"}));
    EXPECT_FALSE(ServerCommClass::_sortVersion({"1", "1.x.3"}, {"2", "1.2.3"}));

    const std::string text = log.text();
    for (const std::string& line : {
             "GET(" + std::string(notOk.url()) + "?op=hi&rv=2&)\n",
             "ServerCommClass: ping failed [" + std::string(notOk.url()) + "?op=hi&rv=2&]\n",
             std::string("PING ==> [500] [down]\n"),
             std::string("QueryBuild ==> [404] [gone]\n"),
             std::string("ping ==> [Couldn't connect to server]\n"),
             std::string("_sortVersion: Exception converting version: invalid vector<T> subscript\n"),
             std::string("_sortVersion: Exception converting version: stoi\n"),
         })
        EXPECT_NE(text.find(line), std::string::npos) << line << "\nin:\n" << text;
}
