#include "ScriptedHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace {

const char* reason(int status) {
    return status == 200 ? "OK" : "Status";
}

// Waits until fd is readable or the stop flag is raised; false on stop.
bool waitReadable(int fd, const std::atomic<bool>& stop) {
    while (!stop) {
        pollfd p{fd, POLLIN, 0};
        int n = poll(&p, 1, 50);
        if (n > 0) return true;
    }
    return false;
}

void sendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}

} // namespace

ScriptedResponse ScriptedResponse::http(int status, const std::string& body) {
    ScriptedResponse r;
    r.pieces.push_back("HTTP/1.1 " + std::to_string(status) + " " + reason(status) +
                       "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
                       "\r\nConnection: close\r\n\r\n" + body);
    return r;
}

ScriptedResponse ScriptedResponse::chunked(int status, const std::vector<std::string>& chunks, int pauseMs) {
    ScriptedResponse r;
    r.pauseMs = pauseMs;
    r.pieces.push_back("HTTP/1.1 " + std::to_string(status) + " " + reason(status) +
                       "\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n");
    char size[32];
    for (const std::string& chunk : chunks) {
        snprintf(size, sizeof size, "%zx\r\n", chunk.size());
        r.pieces.push_back(size + chunk + "\r\n");
    }
    r.pieces.push_back("0\r\n\r\n");
    return r;
}

ScriptedHttpServer::ScriptedHttpServer(Script script) : script_(std::move(script)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 16) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("scripted server: cannot listen on loopback");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

ScriptedHttpServer::~ScriptedHttpServer() {
    stop_ = true;
    thread_.join();
    close(listener_);
}

std::string ScriptedHttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> ScriptedHttpServer::targets() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return targets_;
}

void ScriptedHttpServer::serve() {
    while (waitReadable(listener_, stop_)) {
        int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        answer(connection);
        close(connection);
    }
}

void ScriptedHttpServer::answer(int connection) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        if (!waitReadable(connection, stop_)) return;
        ssize_t n = recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        head.append(buffer, static_cast<size_t>(n));
    }
    // "GET /target HTTP/1.1"
    const size_t start = head.find(' ') + 1;
    const std::string target = head.substr(start, head.find(' ', start) - start);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        targets_.push_back(target);
    }
    const ScriptedResponse response = script_(target);
    for (size_t i = 0; i < response.pieces.size(); i++) {
        if (i > 0 && response.pauseMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(response.pauseMs));
        sendAll(connection, response.pieces[i]);
    }
    if (response.stall) {
        // Silent until the client gives up (it closes) or the test ends.
        while (waitReadable(connection, stop_))
            if (recv(connection, buffer, sizeof buffer, 0) <= 0) return;
    }
}
