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
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, bindAddress.c_str(), &address.sin_addr) != 1)
        throw std::runtime_error("bad bind address " + bindAddress);
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    socklen_t length = sizeof address;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 4) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::string reason = std::strerror(errno);
        ::close(listenFd_);
        throw std::runtime_error("cannot listen on " + bindAddress + ": " + reason);
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

ModuleTcpServer::~ModuleTcpServer() {
    stop();
}

void ModuleTcpServer::stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
}

void ModuleTcpServer::serve() {
    while (!stop_) {
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
