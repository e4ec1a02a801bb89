// Serves a virtual module over TCP: one connection at a time, the next accepted
// when the current one ends. Binds 127.0.0.1 unless told otherwise. While the
// module is away nothing listens (connections are refused); it listens on the
// same port again when the module is back.
#pragma once

#include <atomic>
#include <cstdint>
#include <netinet/in.h>

#include <string>
#include <thread>

#include "VirtualModule.h"

namespace Veltrano::Sim {

class ModuleTcpServer {
  public:
    // port 0 takes any free port. Throws std::runtime_error when it cannot listen.
    ModuleTcpServer(VirtualModule& module, uint16_t port = 0, const std::string& bindAddress = "127.0.0.1");
    ~ModuleTcpServer();
    ModuleTcpServer(const ModuleTcpServer&) = delete;
    ModuleTcpServer& operator=(const ModuleTcpServer&) = delete;

    uint16_t port() const { return port_; }
    // True while the module is there and its port takes connections: what a
    // discovery answer promises.
    bool reachable() const { return listening_ && !module_.away(); }
    // Number of connections accepted so far.
    uint64_t connections() const { return connections_; }
    void stop();

  private:
    void serve();
    // True when listening; false (and nothing open) when the port cannot be had.
    bool listen();

    VirtualModule& module_;
    sockaddr_in address_{};
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> connections_{0};
    std::atomic<bool> listening_{false};
    std::thread thread_;
};

} // namespace Veltrano::Sim
