// discoveryresponder: answers multicast discovery for one module until SIGINT or
// SIGTERM. Runs only in a network namespace of loopback and veth interfaces (ip netns
// exec). Prints "ready" on its first line once it listens.
#include <memory>
#include <stdexcept>
#include <string>

#include "DiscoveryResponder.h"
#include "ProgramOptions.h"

using namespace Veltrano::Sim;

namespace {

const char* kUsage = "usage: discoveryresponder --interface ADDRESS [--interface ADDRESS...] [options]\n"
                     "  --interface ADDRESS  join 232.2.2.2 on the interface with this IPv4 address\n"
                     "  --serial S           serial number (hexadecimal, default 40F5849A)\n"
                     "  --address A          module address (default 4)\n"
                     "  --port P             TCP port the module serves on (default 7978)\n"
                     "  --model M            model number (default 4)\n";

DiscoveryResponderOptions parse(int argc, char** argv) {
    DiscoveryResponderOptions options;
    DiscoveryModule& module = options.modules.front();
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
        const char* value = argv[++i];
        if (arg == "--interface")
            options.interfaces.push_back(value);
        else if (arg == "--serial")
            module.serialNumber = static_cast<uint32_t>(programNumber(value, 16, 0xFFFFFFFF));
        else if (arg == "--address")
            module.address = static_cast<uint8_t>(programNumber(value, 0, 0xFF));
        else if (arg == "--port")
            module.tcpPort = static_cast<uint16_t>(programNumber(value, 10, 0xFFFF));
        else if (arg == "--model")
            module.model = static_cast<uint8_t>(programNumber(value, 0, 0xFF));
        else
            throw std::invalid_argument("unknown option " + arg);
    }
    if (options.interfaces.empty()) throw std::invalid_argument("give at least one --interface");
    return options;
}

} // namespace

int main(int argc, char** argv) {
    DiscoveryResponderOptions options;
    return runEmulatorProgram(
        "discoveryresponder", kUsage, argc, argv,
        [&](int count, char** args) { options = parse(count, args); },
        [&] { return std::make_shared<DiscoveryResponder>(options); });
}
