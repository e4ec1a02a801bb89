// A loopback HTTP server whose every answer a test scripts byte for byte: status
// lines, bodies split into pieces with pauses, a stall, or a hang-up. It records the
// request target (path and query) of each request it receives.
#ifndef TESTS_SCRIPTEDHTTPSERVER_H
#define TESTS_SCRIPTEDHTTPSERVER_H

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ScriptedResponse {
    std::vector<std::string> pieces; // written in order
    int pauseMs = 0;                 // between pieces
    bool stall = false;              // after the pieces, keep the connection open, silent

    // A complete reply with Content-Length.
    static ScriptedResponse http(int status, const std::string& body);
    // A reply whose body is sent in chunked transfer encoding, one chunk per piece.
    static ScriptedResponse chunked(int status, const std::vector<std::string>& chunks, int pauseMs);
    // Closes the connection without a byte.
    static ScriptedResponse hangUp() { return ScriptedResponse(); }
};

class ScriptedHttpServer {
  public:
    using Script = std::function<ScriptedResponse(const std::string& target)>;

    explicit ScriptedHttpServer(Script script);
    ~ScriptedHttpServer();
    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:PORT" followed by path.
    std::string url(const std::string& path = "/cgi/u") const;
    std::vector<std::string> targets() const;

  private:
    void serve();
    void answer(int connection);

    Script script_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> targets_;
    std::thread thread_;
};

#endif
