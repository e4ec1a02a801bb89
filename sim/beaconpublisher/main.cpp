// beaconpublisher: a link-sharing server's beacon (a 128-byte link specifier) on UDP
// 8585 until SIGINT or SIGTERM. Runs only in a network namespace of loopback and veth
// interfaces (ip netns exec). Prints "ready" on its first line once it publishes.
#include <arpa/inet.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "BeaconPublisher.h"
#include "ProgramOptions.h"
#include "aLinkSpecifier.h"

using namespace Veltrano::Sim;

namespace {

const char* kUsage = "usage: beaconpublisher [options]\n"
                     "  --from ADDRESS     the interface's address (default 127.0.0.1)\n"
                     "  --to ADDRESS       its broadcast address (default 127.255.255.255)\n"
                     "  --serial S         the module's serial number (hexadecimal, default 40F5849A)\n"
                     "  --model M          model number (default 4)\n"
                     "  --ip ADDRESS       the server's address in the record (default: --from)\n"
                     "  --port P           the server's TCP port (default 7979)\n"
                     "  --type T           link type in the record (default 4, link-sharing server)\n"
                     "  --interval MS      milliseconds between beacons (default 100)\n"
                     "  --answer           publish only for 2 s after each discovery beacon\n";

struct Options {
    BeaconPublisherOptions publisher;
    linkSpec spec{};
    std::string ip;
};

Options parse(int argc, char** argv) {
    Options options;
    options.spec.type = ASOLVAN;
    options.spec.serialNumber = 0x40F5849A;
    options.spec.model = 4;
    options.spec.ipPort = 7979;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--answer") {
            options.publisher.answer = true;
            continue;
        }
        if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
        const char* value = argv[++i];
        if (arg == "--from")
            options.publisher.from = value;
        else if (arg == "--to")
            options.publisher.to = value;
        else if (arg == "--serial")
            options.spec.serialNumber = static_cast<uint32>(programNumber(value, 16, 0xFFFFFFFF));
        else if (arg == "--model")
            options.spec.model = static_cast<uint32>(programNumber(value, 0, 0xFF));
        else if (arg == "--ip")
            options.ip = value;
        else if (arg == "--port")
            options.spec.ipPort = static_cast<uint16>(programNumber(value, 10, 0xFFFF));
        else if (arg == "--type")
            options.spec.type = static_cast<linkType>(programNumber(value, 0, 0xFFFFFFFF));
        else if (arg == "--interval")
            options.publisher.intervalMs = static_cast<uint32_t>(programNumber(value, 10, 60000));
        else
            throw std::invalid_argument("unknown option " + arg);
    }
    const std::string ip = options.ip.empty() ? options.publisher.from : options.ip;
    in_addr address;
    if (inet_pton(AF_INET, ip.c_str(), &address) != 1)
        throw std::invalid_argument("not an IPv4 address: " + ip);
    options.spec.ipAddress = address.s_addr;
    options.publisher.payload.assign(reinterpret_cast<const char*>(&options.spec), sizeof options.spec);
    return options;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    return runEmulatorProgram(
        "beaconpublisher", kUsage, argc, argv, [&](int count, char** args) { options = parse(count, args); },
        [&] { return std::make_shared<BeaconPublisher>(options.publisher); });
}
