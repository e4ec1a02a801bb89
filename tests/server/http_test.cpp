// The HTTP GET against loopback servers that script every byte of their answers.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "Http.h"
#include "ScriptedHttpServer.h"
#include "Required.h"

namespace {

// Short bounds so a stalled or unreachable server fails these tests in seconds.
Http::Limits quickLimits() {
    Http::Limits limits;
    limits.connectTimeoutMs = 500;
    limits.lowSpeedBytesPerSecond = 1;
    limits.lowSpeedSeconds = 1;
    return limits;
}

std::string transportError(const std::string& url, const Http::Limits& limits = quickLimits()) {
    try {
        Http::get(url.c_str(), {}, limits);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no error";
}

// Binds fd to a free loopback port and returns its address.
sockaddr_in bindLoopback(int fd) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot bind loopback");
    return address;
}

// A loopback port nobody listens on (it was free a moment ago).
std::string unusedPort() {
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = bindLoopback(probe);
    close(probe);
    return std::to_string(ntohs(address.sin_port));
}

} // namespace

TEST(HttpRequestUrl, QueryPairsInKeyOrderEachEndingInAmpersand) {
    EXPECT_EQ(Http::requestUrl("http://h/cgi/u", {}), "http://h/cgi/u");
    EXPECT_EQ(Http::requestUrl("http://h/cgi/u", {{"rv", "2"}, {"op", "hi"}}), "http://h/cgi/u?op=hi&rv=2&");
    // Values go out as they are: no percent-encoding.
    EXPECT_EQ(Http::requestUrl("b", {{"fp", "1%202"}, {"B", "x y"}}), "b?B=x y&fp=1%202&");
}

TEST(HttpGet, SendsTheQueryAndReturnsStatusAndBody) {
    ScriptedHttpServer server([](const std::string&) { return ScriptedResponse::http(200, "ok\nline\n"); });
    Http::Reply reply = Http::get(server.url().c_str(), {{"op", "hi"}, {"rv", "2"}}, quickLimits());
    EXPECT_EQ(reply.url, server.url() + "?op=hi&rv=2&");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "ok\nline\n");
    EXPECT_EQ(server.targets(), std::vector<std::string>{"/cgi/u?op=hi&rv=2&"});
}

TEST(HttpGet, ErrorStatusesAreReturnedNotRaised) {
    for (int status : {404, 500, 302}) {
        ScriptedHttpServer server(
            [status](const std::string&) { return ScriptedResponse::http(status, "nope"); });
        Http::Reply reply = Http::get(server.url().c_str(), {}, quickLimits());
        EXPECT_EQ(reply.status, status);
        EXPECT_EQ(reply.body, "nope");
    }
}

TEST(HttpGet, ChunksAreJoinedInArrivalOrderAndAnyByteIsKept) {
    const std::string binary("\x00\xff\r\n\x01", 5);
    ScriptedHttpServer server([&](const std::string&) {
        return ScriptedResponse::chunked(200, {"first ", binary, std::string(70000, 'z'), " last"}, 20);
    });
    Http::Reply reply = Http::get(server.url().c_str(), {}, quickLimits());
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "first " + binary + std::string(70000, 'z') + " last");
}

TEST(HttpGet, EmptyBodyKeepsTheStatus) {
    ScriptedHttpServer server([](const std::string&) { return ScriptedResponse::http(204, ""); });
    Http::Reply reply = Http::get(server.url().c_str(), {}, quickLimits());
    EXPECT_EQ(reply.status, 204);
    EXPECT_TRUE(reply.body.empty());
}

TEST(HttpGet, TransportFailuresRaiseLibcurlsText) {
    // A port nobody listens on: connection refused.
    EXPECT_EQ(transportError("http://127.0.0.1:" + unusedPort() + "/cgi/u"), "Couldn't connect to server");

    // A server that hangs up before answering.
    ScriptedHttpServer hangUp([](const std::string&) { return ScriptedResponse::hangUp(); });
    EXPECT_EQ(transportError(hangUp.url()), "Server returned nothing (no headers, no data)");

    EXPECT_EQ(transportError("nosuchscheme://127.0.0.1/"), "Unsupported protocol");
    // Schemes libcurl knows but an update server never uses.
    for (const char* url : {"file:///etc/hostname", "ftp://127.0.0.1/", "dict://127.0.0.1/"})
        EXPECT_EQ(transportError(url), "Unsupported protocol") << url;
}

TEST(HttpGet, StalledTransferIsAbortedAsATransportError) {
    ScriptedHttpServer server([](const std::string&) {
        ScriptedResponse r;
        r.pieces = {"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nok\n"};
        r.stall = true;
        return r;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(transportError(server.url()), "Timeout was reached");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(HttpGet, TricklingTransferEndsAtTheTotalLimit) {
    // Ten bytes a second: fast enough for the speed check, yet it would never end.
    ScriptedHttpServer server([](const std::string&) {
        return ScriptedResponse::chunked(200, std::vector<std::string>(30, "a"), 100);
    });
    Http::Limits limits = quickLimits();
    limits.totalTimeoutMs = 1000;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(transportError(server.url(), limits), "Timeout was reached");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
}

TEST(HttpGet, ServerThatNeverAcceptsTimesOutOnConnect) {
    // A listener with a full accept queue drops further connection attempts, so the
    // client's handshake never completes.
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = bindLoopback(listener);
    ASSERT_EQ(listen(listener, 0), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 3; i++) {
        int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        connect(filler, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        fillers.push_back(filler);
    }
    const auto start = std::chrono::steady_clock::now();
    const std::string error =
        transportError("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/cgi/u");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(error, "Timeout was reached");
    EXPECT_LT(elapsed, std::chrono::seconds(5));
    for (int fd : fillers)
        close(fd);
    close(listener);
}

TEST(HttpGet, HttpsRefusesACertificateNoTrustedAuthoritySigned) {
    VELTRANO_REQUIRE(TestSupport::missingProgram("/usr/bin/openssl", "openssl"));
    char directory[] = "/tmp/https_testXXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string dir = directory;
    ASSERT_EQ(system(("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
                      "-addext subjectAltName=IP:127.0.0.1 -keyout " +
                      dir + "/key.pem -out " + dir + "/cert.pem >/dev/null 2>&1")
                         .c_str()),
              0);
    // Pick a free port, then let openssl's test server serve it.
    const std::string port = unusedPort();
    const std::string pidFile = dir + "/pid";
    ASSERT_EQ(system(("(timeout 30 openssl s_server -quiet -www -accept 127.0.0.1:" + port + " -cert " + dir +
                      "/cert.pem -key " + dir + "/key.pem >/dev/null 2>&1 & echo $! > " + pidFile + ")")
                         .c_str()),
              0);
    // Wait (bounded) for it to listen.
    std::string error;
    for (int i = 0; i < 50; i++) {
        error = transportError("https://127.0.0.1:" + port + "/");
        if (error != "Couldn't connect to server") break;
        usleep(100000);
    }
    EXPECT_EQ(error, "SSL peer certificate or SSH remote key was not OK");
    std::ifstream pid(pidFile);
    int serverPid = 0;
    pid >> serverPid;
    if (serverPid > 0) kill(serverPid, SIGTERM);
    system(("rm -rf " + dir).c_str());
}

TEST(HttpGet, OversizedReplyIsRefused) {
    ScriptedHttpServer server([](const std::string&) {
        return ScriptedResponse::chunked(200, {std::string(600, 'a'), std::string(600, 'b')}, 0);
    });
    Http::Limits limits = quickLimits();
    limits.maxBodyBytes = 1000;
    EXPECT_EQ(transportError(server.url(), limits), "Failed writing received data to disk/application");
    limits.maxBodyBytes = 1200;
    EXPECT_EQ(Http::get(server.url().c_str(), {}, limits).body.size(), 1200u);
}

namespace {

// A server that announces a body of length bytes and sends three of them.
ScriptedHttpServer::Script announcing(const std::string& length) {
    return [length](const std::string&) {
        ScriptedResponse response;
        response.pieces = {"HTTP/1.1 200 OK\r\nContent-Length: " + length +
                           "\r\nConnection: close\r\n\r\nok\n"};
        return response;
    };
}

} // namespace

// The body is sized once for the length the server announces. When that fails, the
// exception must not cross libcurl's C code: the transfer ends with a transport error.
TEST(HttpGet, BodyThatCannotBeSizedFailsTheTransfer) {
    Http::Limits limits = quickLimits();
    limits.maxBodyBytes = SIZE_MAX;
    // More than a string can ever hold.
    ScriptedHttpServer beyondAString(announcing("4611686018427387904"));
    EXPECT_EQ(transportError(beyondAString.url(), limits), "Out of memory");
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer ends the program at an allocation beyond any memory instead of
    // failing it; the case of a string's limit above takes the same path.
#else
    // More memory than there is: the allocation fails.
    ScriptedHttpServer beyondMemory(announcing("1152921504606846976"));
    EXPECT_EQ(transportError(beyondMemory.url(), limits), "Out of memory");
#endif
}
