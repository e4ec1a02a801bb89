// Serves a virtual module over TCP: one connection at a time, the next accepted
// when the current one ends. Binds 127.0.0.1 unless told otherwise.
#pragma once

#include <atomic>
#include <cstdint>
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
    // Number of connections accepted so far.
    uint64_t connections() const { return connections_; }
    void stop();

  private:
    void serve();

    VirtualModule& module_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> connections_{0};
    std::thread thread_;
};

} // namespace Veltrano::Sim
