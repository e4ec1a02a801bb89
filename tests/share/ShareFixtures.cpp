#include "ShareFixtures.h"

#include <cstdio>
#include <stdexcept>

namespace ShareTest {

std::string program(const char* name) {
    return std::string(VELTRANO_BIN_DIR) + "/" + name;
}

namespace {

std::vector<std::string> serverArgs(std::vector<std::string> extra) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "%08X", unsigned(kSerial));
    std::vector<std::string> args = {
        "--serial", serial, "--model", std::to_string(kModel), "--address", std::to_string(kModuleAddress)};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// The program under the launcher: the launcher's program and arguments.
std::vector<std::string> launched(std::vector<std::string> launcher, const std::string& path,
                                  std::vector<std::string> args) {
    launcher.push_back(path);
    launcher.insert(launcher.end(), args.begin(), args.end());
    return launcher;
}

std::string head(const std::vector<std::string>& argv) {
    return argv.front();
}

std::vector<std::string> tail(const std::vector<std::string>& argv) {
    return {argv.begin() + 1, argv.end()};
}

} // namespace

SharedModule::SharedModule(std::vector<std::string> extra, std::vector<std::string> launcher)
    : SharedModule(launched(launcher, program("sharedmodule"), serverArgs(extra)), 0) {}

SharedModule::SharedModule(const std::vector<std::string>& argv, int) : process_(head(argv), tail(argv)) {
    // "asolvan 127.0.0.1:PORT SERIAL"
    std::string line = process_.firstLine();
    size_t colon = line.find(':');
    if (line.rfind("asolvan ", 0) != 0 || colon == std::string::npos)
        throw std::runtime_error("sharedmodule said: " + line);
    port_ = uint16_t(std::stoul(line.substr(colon + 1)));
    if (process_.nextLine() != "ready") throw std::runtime_error("sharedmodule is not ready");
}

SubprocessResult runClient(uint16_t port, std::vector<std::string> args, int timeoutMs) {
    std::vector<std::string> all = {"--port", std::to_string(port), "--module",
                                    std::to_string(kModuleAddress)};
    all.insert(all.end(), args.begin(), args.end());
    SubprocessOptions options;
    options.timeoutMs = timeoutMs;
    return runSubprocess(program("shareclient"), all, options);
}

SubprocessResult runDiscoveringClient(std::vector<std::string> launcher, std::vector<std::string> args) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "%08X", unsigned(kSerial));
    std::vector<std::string> all = {"--discover", serial, "--module", std::to_string(kModuleAddress)};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<std::string> argv = launched(launcher, program("shareclient"), all);
    SubprocessOptions options;
    options.timeoutMs = 30000;
    return runSubprocess(head(argv), tail(argv), options);
}

} // namespace ShareTest
