// Runs the built reference update server (update-server) on a free loopback port
// for one test, serving a catalogue directory, and reads back its request log.
#ifndef TESTS_REFERENCESERVER_H
#define TESTS_REFERENCESERVER_H

#include <sys/types.h>

#include <string>
#include <vector>

class ReferenceServer {
  public:
    // Starts the server on catalogue; logPath receives its standard output.
    // Throws std::runtime_error when it does not come up within a few seconds.
    ReferenceServer(const std::string& catalogue, const std::string& logPath);
    ~ReferenceServer();
    ReferenceServer(const ReferenceServer&) = delete;
    ReferenceServer& operator=(const ReferenceServer&) = delete;

    // "http://127.0.0.1:PORT/cgi/u"
    const std::string& url() const { return url_; }
    // The request target (path and query) of each logged request, in order.
    std::vector<std::string> requests() const;
    // The raw log lines after the start-up line.
    std::vector<std::string> logLines() const;

  private:
    pid_t pid_ = -1;
    std::string logPath_;
    std::string url_;
};

#endif
