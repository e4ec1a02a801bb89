// A virtual module served by a sharedmodule process, and shareclient processes
// that use it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "RunningProgram.h"
#include "Subprocess.h"

namespace ShareTest {

constexpr uint32_t kSerial = 0x5A4E0001;
constexpr uint8_t kModel = 9;
constexpr uint8_t kModuleAddress = 6;
constexpr uint32_t kLoopback = 0x0100007F;

std::string program(const char* name);

class SharedModule {
  public:
    // launcher: an argv prefix the program runs under (ip netns exec NAME).
    explicit SharedModule(std::vector<std::string> extra = {}, std::vector<std::string> launcher = {});
    uint16_t port() const { return port_; }
    // Stops the server process; its exit status.
    int stop() { return process_.terminate(); }

  private:
    SharedModule(const std::vector<std::string>& argv, int);
    RunningProgram process_;
    uint16_t port_ = 0;
};

// Runs shareclient with these arguments (besides --port and --module).
SubprocessResult runClient(uint16_t port, std::vector<std::string> args, int timeoutMs = 30000);

// Runs shareclient under launcher (ip netns exec NAME, or nothing), finding the
// server by beacon, with these arguments besides --discover and --module.
SubprocessResult runDiscoveringClient(std::vector<std::string> launcher, std::vector<std::string> args);

} // namespace ShareTest
