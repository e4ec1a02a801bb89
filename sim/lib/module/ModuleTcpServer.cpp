#include "ModuleTcpServer.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "ModuleSession.h"

namespace Veltrano::Sim {

namespace {
constexpr int kAcceptCheckMs = 50;
}

ModuleTcpServer::ModuleTcpServer(VirtualModule& module, uint16_t port, const std::string& bindAddress)
    : module_(module) {
    address_.sin_family = AF_INET;
    address_.sin_port = htons(port);
    if (::inet_pton(AF_INET, bindAddress.c_str(), &address_.sin_addr) != 1)
        throw std::runtime_error("bad bind address " + bindAddress);
    if (!listen()) throw std::runtime_error("cannot listen on " + bindAddress + ": " + std::strerror(errno));
    port_ = ntohs(address_.sin_port);
    address_.sin_port = htons(port_); // the same port when listening again
    thread_ = std::thread([this] { serve(); });
}

bool ModuleTcpServer::listen() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return false;
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in bound = address_;
    socklen_t length = sizeof bound;
    if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address_), sizeof address_) != 0 ||
        ::listen(listenFd_, 4) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
        int reason = errno;
        ::close(listenFd_);
        listenFd_ = -1;
        errno = reason;
        return false;
    }
    address_.sin_port = bound.sin_port;
    listening_ = true;
    return true;
}

ModuleTcpServer::~ModuleTcpServer() {
    stop();
}

void ModuleTcpServer::stop() {
    stop_ = true;
    listening_ = false;
    if (thread_.joinable()) thread_.join();
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
}

void ModuleTcpServer::serve() {
    while (!stop_) {
        if (module_.away()) {
            // Gone from the network: pending connections are reset, new ones refused.
            listening_ = false;
            if (listenFd_ >= 0) ::close(listenFd_);
            listenFd_ = -1;
            awaitModuleReturn(module_, -1, stop_);
            continue;
        }
        if (listenFd_ < 0 && !listen()) {
            ::poll(nullptr, 0, kAcceptCheckMs);
            continue;
        }
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, kAcceptCheckMs) <= 0) continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ++connections_;
        runModuleSession(module_, fd, stop_);
        ::close(fd);
    }
}

} // namespace Veltrano::Sim
