// A TCP listener on 127.0.0.1 with bounded accepts and reads, for socket stream tests.
#ifndef TESTS_STREAM_LOOPBACK_LISTENER_H
#define TESTS_STREAM_LOOPBACK_LISTENER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

class LoopbackListener {
  public:
    // Port 0 takes any free port.
    explicit LoopbackListener(uint16_t port = 0) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(fd_, 8);
        socklen_t size = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size);
        port_ = ntohs(a.sin_port);
    }
    ~LoopbackListener() { stop(); }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    uint16_t port() const { return port_; }
    static uint32_t address() { return htonl(INADDR_LOOPBACK); }
    void stop() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

    // The next connection, or -1 when none came within timeoutMs.
    int accept(int timeoutMs = 2000) {
        pollfd p = {fd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1) return -1;
        return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    }

    // Reads from fd until count bytes came, the peer closed, or timeoutMs passed.
    static std::string receive(int fd, size_t count, int timeoutMs = 2000) {
        std::string got;
        char buffer[65536];
        while (got.size() < count) {
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) != 1) break;
            size_t want = count - got.size() < sizeof buffer ? count - got.size() : sizeof buffer;
            ssize_t n = recv(fd, buffer, want, 0);
            if (n <= 0) break;
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }

    // Closes a connection so that the peer sees a reset rather than an orderly end.
    static void resetConnection(int fd) {
        linger l = {1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        close(fd);
    }

  private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

#endif
