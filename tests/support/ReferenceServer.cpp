#include "ReferenceServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line))
        lines.push_back(line);
    return lines;
}

// Ends the child: SIGTERM, then SIGKILL after a bounded wait.
void stopChild(pid_t pid) {
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; i++) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

} // namespace

ReferenceServer::ReferenceServer(const std::string& catalogue, const std::string& logPath)
    : logPath_(logPath) {
    const std::string program = std::string(VELTRANO_BIN_DIR) + "/update-server";
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
        }
        execl(program.c_str(), "update-server", "--catalogue", catalogue.c_str(), "--port", "0",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string marker = "http://127.0.0.1:";
    for (int i = 0; i < 250 && url_.empty(); i++) {
        const std::vector<std::string> lines = readLines(logPath);
        if (!lines.empty() && lines[0].find(marker) != std::string::npos)
            url_ = lines[0].substr(lines[0].find(marker));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (url_.empty()) {
        stopChild(pid_);
        throw std::runtime_error("update-server did not start");
    }
}

ReferenceServer::~ReferenceServer() {
    stopChild(pid_);
}

std::vector<std::string> ReferenceServer::logLines() const {
    std::vector<std::string> lines = readLines(logPath_);
    if (!lines.empty()) lines.erase(lines.begin());
    return lines;
}

std::vector<std::string> ReferenceServer::requests() const {
    std::vector<std::string> targets;
    for (const std::string& line : logLines()) {
        // "ADDRESS METHOD TARGET STATUS BYTES"
        std::istringstream fields(line);
        std::string address, method, target;
        fields >> address >> method >> target;
        targets.push_back(target);
    }
    return targets;
}
