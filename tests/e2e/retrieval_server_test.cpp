// The reference update server on its own: every query it answers, its errors, its
// request log, parallel service and its help text.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Base64.h"
#include "BirdWriter.h"
#include "Http.h"
#include "ReferenceServer.h"
#include "ServerCommClass.h"
#include "Subprocess.h"
#include "TempDir.h"

namespace {

const std::string kServer = VELTRANO_BIN_DIR "/update-server";

// A raw connection to the server behind url, for clients that misbehave.
int connectTo(const std::string& url) {
    const int port = std::stoi(url.substr(url.rfind(':') + 1));
    int client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(client);
        return -1;
    }
    return client;
}

class ReferenceServerTest : public ::testing::Test {
  protected:
    ReferenceServerTest() {
        for (const char* sub : {"/catalogue", "/catalogue/serial", "/catalogue/serial/1234ABCD",
                                "/catalogue/model", "/catalogue/model/VT-CoreUSB rev B"})
            mkdir((dir.path() + sub).c_str(), 0755);
        // Serial numbers are hexadecimal digits: "-1" names no module (not FFFFFFFF).
        dir.write("catalogue/devices.txt", "1234abcd VT-CoreUSB rev B\n-1 VT-CoreUSB rev B\n");
        dir.write("catalogue/fingerprints.txt", "# fp serial build\n00000001 2 3 4 1234ABCD 0x1B\n"
                                                "00000001 2 3 4 1234ABCD 27\nA B C D 00C0FFEE 5\n");
        write("catalogue/serial/1234ABCD/5.bird", "1.0.0");
        write("catalogue/model/VT-CoreUSB rev B/6.bird", "1.1.0");
        write("catalogue/model/VT-CoreUSB rev B/7.bird", "1.1.0");
        dir.write("catalogue/model/VT-CoreUSB rev B/18.bird", "not a BIRD file");
        dir.write("catalogue/model/VT-CoreUSB rev B/notes.txt", "ignored");
    }
    void write(const std::string& name, const std::string& version) {
        BirdWriter writer;
        writer.addIdentity(version, 0, "VT-CoreUSB rev B");
        writer.addFirmwareImage(0, std::vector<uint8>(16, 1));
        writer.writeFile(dir / name);
    }
    Http::Reply get(const ReferenceServer& server, const std::string& query) {
        return Http::get((server.url() + query).c_str(), {});
    }
    TempDir dir;
};

} // namespace

TEST_F(ReferenceServerTest, AnswersEveryQuery) {
    ReferenceServer server(dir / "catalogue", dir / "log");
    ServerCommClass comm;
    const char* url = server.url().c_str();
    EXPECT_TRUE(comm.ping(url));

    // Latest: the newest version, the higher build number on a tie.
    std::string latest, firmwareId;
    EXPECT_TRUE(comm.QueryBuild(0x1234ABCD, latest, firmwareId, url));
    EXPECT_EQ(latest, "7");
    // The model's name, made safe to travel unencoded in a query.
    EXPECT_EQ(firmwareId, "VT-CoreUSB_rev_B");

    BuildList builds;
    EXPECT_TRUE(comm.GetBuildList(0x1234ABCD, builds, url));
    EXPECT_EQ(builds, (BuildList{{"18", ""}, {"5", "1.0.0"}, {"6", "1.1.0"}, {"7", "1.1.0"}}));

    std::string payload;
    EXPECT_TRUE(comm.GetBuild(0x1234ABCD, firmwareId, "5", false, payload, url));
    const std::string file = TempDir::read(dir / "catalogue/serial/1234ABCD/5.bird");
    EXPECT_EQ(payload, Base64::encode(reinterpret_cast<const uint8_t*>(file.data()), file.size()));

    // Recovery: the first line with a valid build for the fingerprint.
    const uint32_t fingerprint[4] = {1, 2, 3, 4};
    uint32_t serial = 0, build = 0;
    EXPECT_TRUE(comm.GetRecoveryInfo(fingerprint, serial, build, url));
    EXPECT_EQ(serial, 0x1234ABCDu);
    EXPECT_EQ(build, 27u);
    const uint32_t other[4] = {0xA, 0xB, 0xC, 0xD};
    EXPECT_TRUE(comm.GetRecoveryInfo(other, serial, build, url));
    EXPECT_EQ(serial, 0x00C0FFEEu);
    EXPECT_EQ(build, 5u);

    // One log line per request: address, method, query as sent, status, reply size.
    const std::vector<std::string> log = server.logLines();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[0], "127.0.0.1 GET /cgi/u?op=hi&rv=2& 200 3");
    EXPECT_EQ(log[4],
              "127.0.0.1 GET /cgi/u?brief=true&fp=00000001%2000000002%2000000003%2000000004&op=fix& 200 15");
}

TEST_F(ReferenceServerTest, RefusesWhatItCannotAnswer) {
    ReferenceServer server(dir / "catalogue", dir / "log");
    const struct {
        const char* query;
        int status;
        const char* body;
    } cases[] = {
        {"?op=zz&", 400, "error: unknown request op=zz\n"},
        {"?sn=1234ABCD&", 400, "error: missing op parameter\n"},
        {"?op=qu&", 400, "error: sn must be a hexadecimal serial number\n"},
        {"?op=qu&sn=12G4&", 400, "error: sn must be a hexadecimal serial number\n"},
        {"?op=qu&sn=00000042&", 404, "error: no builds for device 00000042\n"},
        {"?op=builds&sn=00000042&", 200, "ok\n"},
        {"?op=builds&sn=FFFFFFFF&", 200, "ok\n"},
        {"?bld=9&op=bird&sn=1234ABCD&", 404, "error: no build 9 for device 1234ABCD\n"},
        {"?bld=x&op=bird&sn=1234ABCD&", 400, "error: bld must be a decimal build number\n"},
        // 2^32 + 5 is not build 5.
        {"?bld=4294967301&op=bird&sn=1234ABCD&", 404, "error: no build 4294967301 for device 1234ABCD\n"},
        {"?fp=1%202&op=fix&", 400, "error: fp must be four hexadecimal words\n"},
        {"?fp=9%209%209%209&op=fix&", 404, "error: unknown fingerprint\n"},
    };
    for (const auto& c : cases) {
        const Http::Reply reply = get(server, c.query);
        EXPECT_EQ(reply.status, c.status) << c.query;
        EXPECT_EQ(reply.body, c.body) << c.query;
    }
    const std::string base = server.url().substr(0, server.url().size() - 6);
    const Http::Reply wrongPath = Http::get((base + "/index.html").c_str(), {});
    EXPECT_EQ(wrongPath.status, 404);
    EXPECT_EQ(wrongPath.body, "error: unknown path /index.html; queries go to /cgi/u\n");
}

TEST_F(ReferenceServerTest, ServesRequestsInParallel) {
    ReferenceServer server(dir / "catalogue", dir / "log");
    // A client that sends half a request and then nothing must not hold up others.
    int stalled = connectTo(server.url());
    ASSERT_GE(stalled, 0);
    ASSERT_GT(send(stalled, "GET /cgi/u?op=hi", 16, 0), 0);
    Http::Limits quick;
    quick.lowSpeedSeconds = 2;
    EXPECT_EQ(Http::get(server.url().c_str(), {{"op", "hi"}}, quick).body, "ok\n");
    close(stalled);
}

TEST_F(ReferenceServerTest, ClientHangingUpMidReplyDoesNotStopIt) {
    // A build far larger than the socket buffers, so the server is still sending.
    BirdWriter writer;
    writer.addIdentity("2.0.0", 0x1234ABCD, "VT-CoreUSB rev B");
    std::vector<uint8> image(size_t(4) << 20);
    for (size_t i = 0; i < image.size(); i++)
        image[i] = static_cast<uint8>(i * 2654435761u >> 24);
    writer.addFirmwareImage(0, image);
    writer.writeFile(dir / "catalogue/serial/1234ABCD/9.bird", 0);
    ReferenceServer server(dir / "catalogue", dir / "log");
    for (int i = 0; i < 3; i++) {
        int client = connectTo(server.url());
        ASSERT_GE(client, 0);
        const std::string request = "GET /cgi/u?bld=9&op=bird&sn=1234ABCD& HTTP/1.1\r\nHost: x\r\n\r\n";
        ASSERT_EQ(send(client, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
        char head[64];
        ASSERT_GT(recv(client, head, sizeof head, 0), 0);
        close(client);
    }
    ServerCommClass comm;
    EXPECT_TRUE(comm.ping(server.url().c_str()));
}

TEST_F(ReferenceServerTest, HelpAndBadArguments) {
    SubprocessResult help = runSubprocess(kServer, {"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    for (const char* text :
         {"--catalogue DIR", "--address ADDR", "--port N", "127.0.0.1", "0 picks a free one", "devices.txt",
          "fingerprints.txt", "serial/SERIAL/N.bird", "model/MODEL NAME/N.bird"})
        EXPECT_NE(help.out.find(text), std::string::npos) << text;

    const struct {
        std::vector<std::string> args;
        const char* err;
    } cases[] = {
        {{"--port", "70000"}, "update-server: --port needs a number from 0 to 65535\n"},
        {{"--port"},
         "update-server: --port needs a value\nupdate-server: --port needs a number from 0 to 65535\n"},
        {{"--bogus"}, "update-server: unknown argument '--bogus' (see --help)\n"},
        {{"--catalogue", "/nonexistent/dir", "--port", "0"},
         "update-server: catalogue '/nonexistent/dir' is not a directory\n"},
    };
    for (const auto& c : cases) {
        SubprocessResult r = runSubprocess(kServer, c.args);
        EXPECT_EQ(r.err, c.err) << c.args[0];
        EXPECT_EQ(r.exitStatus, 1) << c.args[0];
    }
}

namespace {

// Sends raw bytes on a new connection and answers the first part of the reply (its
// status line at least), waiting at most 5 s.
std::string exchange(const std::string& url, const std::string& request) {
    int client = connectTo(url);
    if (client < 0) return "";
    timeval limit{5, 0};
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string reply;
    if (send(client, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
        char buffer[512];
        const ssize_t got = recv(client, buffer, sizeof buffer, 0);
        if (got > 0) reply.assign(buffer, static_cast<size_t>(got));
    }
    close(client);
    return reply;
}

} // namespace

// A directory or a FIFO named like a build is no build: it is neither listed nor
// served (a directory was listed and then failed with a 500 that left no log line).
TEST_F(ReferenceServerTest, ServesOnlyRegularFiles) {
    ASSERT_EQ(mkdir((dir / "catalogue/serial/1234ABCD/30.bird").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo((dir / "catalogue/model/VT-CoreUSB rev B/31.bird").c_str(), 0644), 0);
    ReferenceServer server(dir / "catalogue", dir / "log");
    Http::Limits quick;
    quick.lowSpeedSeconds = 5; // a server stuck on the FIFO must not stall the test
    const auto ask = [&](const std::string& query) {
        return Http::get((server.url() + query).c_str(), {}, quick);
    };

    const Http::Reply list = ask("?op=builds&sn=1234ABCD&");
    EXPECT_EQ(list.status, 200);
    EXPECT_EQ(list.body, "ok\n5;1.0.0\n6;1.1.0\n7;1.1.0\n18;\n");
    for (const char* build : {"30", "31"}) {
        const Http::Reply reply = ask(std::string("?bld=") + build + "&op=bird&sn=1234ABCD&");
        EXPECT_EQ(reply.status, 404) << build;
        EXPECT_EQ(reply.body, std::string("error: no build ") + build + " for device 1234ABCD\n");
    }
    const std::vector<std::string> log = server.logLines();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], "127.0.0.1 GET /cgi/u?bld=30&op=bird&sn=1234ABCD& 404 39");
}

// Two files for one build in one folder make the catalogue ambiguous: the server
// refuses to start and names them; clashes that appear later fail the requests that
// meet them, the same way whatever order the directory lists its files in.
TEST_F(ReferenceServerTest, BuildNamedTwiceIsACatalogueError) {
    write("catalogue/model/VT-CoreUSB rev B/07.bird", "1.2.0");
    write("catalogue/model/VT-CoreUSB rev B/007.bird", "1.3.0");
    write("catalogue/serial/1234ABCD/05.bird", "1.4.0");
    SubprocessOptions bounded;
    bounded.timeoutMs = 5000;
    const SubprocessResult start =
        runSubprocess(kServer, {"--catalogue", dir / "catalogue", "--port", "0"}, bounded);
    EXPECT_EQ(start.exitStatus, 1);
    EXPECT_EQ(start.out, "");
    EXPECT_EQ(start.err,
              "update-server: catalogue error: serial/1234ABCD: build 5 is named by 05.bird and 5.bird\n"
              "update-server: catalogue error: model/VT-CoreUSB rev B: build 7 is named by 007.bird, "
              "07.bird and 7.bird\n");

    unlink((dir / "catalogue/model/VT-CoreUSB rev B/07.bird").c_str());
    unlink((dir / "catalogue/model/VT-CoreUSB rev B/007.bird").c_str());
    rename((dir / "catalogue/serial/1234ABCD/05.bird").c_str(), (dir / "05.bird").c_str());
    ReferenceServer server(dir / "catalogue", dir / "log");
    rename((dir / "05.bird").c_str(), (dir / "catalogue/serial/1234ABCD/05.bird").c_str());
    const std::string clash = "error: catalogue: serial/1234ABCD: build 5 is named by 05.bird and 5.bird\n";
    for (const char* query :
         {"?op=qu&sn=1234ABCD&", "?op=builds&sn=1234ABCD&", "?bld=5&op=bird&sn=1234ABCD&"}) {
        const Http::Reply reply = get(server, query);
        EXPECT_EQ(reply.status, 500) << query;
        EXPECT_EQ(reply.body, clash) << query;
    }
    EXPECT_EQ(server.logLines().size(), 3u);
}

// Requests the HTTP layer refuses before they are read as queries get a log line too.
TEST_F(ReferenceServerTest, LogsEveryRequestFailuresIncluded) {
    ReferenceServer server(dir / "catalogue", dir / "log");
    const struct {
        std::string request, status, logLine;
    } cases[] = {
        {"BLAH\r\n\r\n", "HTTP/1.1 400", "- BLAH - 400 25"},
        {"GET /cgi/u?" + std::string(10000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 414",
         "- - - 414 31"},
        {"GET /cgi/u?op=hi& HTTP/1.1\r\nHost: x\r\nRange: bytes=zz\r\n\r\n", "HTTP/1.1 416",
         "127.0.0.1 GET /cgi/u?op=hi& 416 23"},
        {"POST /cgi/u?op=hi& HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 405",
         "127.0.0.1 POST /cgi/u?op=hi& 405 36"},
    };
    for (const auto& c : cases) {
        const std::string reply = exchange(server.url(), c.request);
        EXPECT_EQ(reply.rfind(c.status, 0), 0u) << c.logLine << ": " << reply;
        const std::vector<std::string> log = server.logLines();
        EXPECT_TRUE(!log.empty() && log.back() == c.logLine) << (log.empty() ? "no log" : log.back());
    }
    EXPECT_EQ(server.logLines().size(), 4u);
}
