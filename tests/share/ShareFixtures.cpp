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

} // namespace

SharedModule::SharedModule(std::vector<std::string> extra)
    : process_(program("sharedmodule"), serverArgs(extra)) {
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

} // namespace ShareTest
