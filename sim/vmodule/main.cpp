// vmodule: one emulated module on TCP or on a pseudo-terminal, until SIGINT or
// SIGTERM. Prints where it can be reached ("tcp 127.0.0.1:PORT" or
// "pty /dev/pts/N") on its first line.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ModulePty.h"
#include "ModuleTcpServer.h"
#include "ReplyFaults.h"
#include "VirtualModule.h"

using namespace Veltrano::Sim;

namespace {

const char* kUsage = "usage: vmodule (--tcp PORT | --pty) [options]\n"
                     "  --tcp PORT          serve over TCP (0: any free port)\n"
                     "  --bind ADDRESS      interface to listen on (default 127.0.0.1)\n"
                     "  --pty               serve on a pseudo-terminal\n"
                     "  --address A         module address (even, default 4)\n"
                     "  --serial S          serial number (hexadecimal)\n"
                     "  --model M           model number\n"
                     "  --version V         packed firmware version (hexadecimal)\n"
                     "  --heartbeat MS      heartbeat interval (0: none)\n"
                     "  --drop I,J,...      leave out these output bytes (counted from 0)\n"
                     "  --garble I,J,...    invert these output bytes\n"
                     "  --silent-after N    answer nothing after N received packets\n"
                     "  --close-after N     close the connection after N received packets\n"
                     "  --build N           firmware build number\n"
                     "  --bus-module A:S    put a module with address A and serial S (hexadecimal)\n"
                     "                      on this module's I2C bus, making it a router\n"
                     "  --fault TYPE=KIND[:SKIP[:TIMES[:ERROR]]]\n"
                     "                      fault the replies to one request type: KIND is none (no\n"
                     "                      reply), error (an error reply carrying ERROR, default 6),\n"
                     "                      corrupt (a wrong checksum or echoed byte) or short (one\n"
                     "                      byte short); SKIP requests are answered first, then\n"
                     "                      TIMES are faulted (-1: all)\n"
                     "\n"
                     "It emulates: link control (sync answers, force route) and heartbeats; the\n"
                     "system entity (serial number, model, version, build, module and router\n"
                     "addresses, protocol features, name, reset, route to me); module information\n"
                     "(build, UEI support, class and sub-class quantities, entity group); the echo\n"
                     "test; the I2C bus (writes acknowledged where a module sits, reads, pull-up);\n"
                     "routing of packets to and from the modules on its bus; store slots (store 0,\n"
                     "slots 0-3 of 1024 bytes); factory data (records 0-15).\n"
                     "\n"
                     "Request types for --fault:\n";

unsigned long number(const char* text, int base) {
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(text, &end, base);
    if (errno != 0 || end == text || *end != '\0')
        throw std::invalid_argument(std::string("bad number: ") + text);
    return value;
}

std::set<uint64_t> indices(const char* text) {
    std::set<uint64_t> result;
    std::stringstream list(text);
    std::string item;
    while (std::getline(list, item, ','))
        result.insert(number(item.c_str(), 10));
    return result;
}

struct Options {
    bool tcp = false;
    bool pty = false;
    uint16_t port = 0;
    std::string bind = "127.0.0.1";
    ModuleIdentity identity;
    ModuleFaults faults;
    std::vector<ModuleIdentity> busModules;
};

void printUsage(FILE* out) {
    std::fputs(kUsage, out);
    for (const char* const* request = kReplyFaultRequests; *request; ++request)
        std::fprintf(out, "  %s\n", *request);
}

ModuleIdentity busModule(const std::string& text) {
    size_t colon = text.find(':');
    if (colon == std::string::npos) throw std::invalid_argument("--bus-module needs ADDRESS:SERIAL");
    unsigned long address = number(text.substr(0, colon).c_str(), 0);
    if (address == 0 || address > 0xFE || (address & 1))
        throw std::invalid_argument("a bus module's address must be even, 2 to 254");
    ModuleIdentity identity;
    identity.address = static_cast<uint8_t>(address);
    identity.serialNumber = static_cast<uint32_t>(number(text.substr(colon + 1).c_str(), 16));
    return identity;
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--tcp") {
            options.tcp = true;
            options.port = static_cast<uint16_t>(number(value(), 10));
        } else if (arg == "--pty") {
            options.pty = true;
        } else if (arg == "--bind") {
            options.bind = value();
        } else if (arg == "--address") {
            unsigned long a = number(value(), 0);
            if (a == 0 || a > 0xFE || (a & 1))
                throw std::invalid_argument("the address must be even, 2 to 254");
            options.identity.address = static_cast<uint8_t>(a);
        } else if (arg == "--serial") {
            options.identity.serialNumber = static_cast<uint32_t>(number(value(), 16));
        } else if (arg == "--model") {
            options.identity.model = static_cast<uint8_t>(number(value(), 0));
        } else if (arg == "--version") {
            options.identity.version = static_cast<uint32_t>(number(value(), 16));
        } else if (arg == "--heartbeat") {
            options.identity.heartbeatIntervalMs = static_cast<uint32_t>(number(value(), 10));
        } else if (arg == "--drop") {
            options.faults.dropBytes = indices(value());
        } else if (arg == "--garble") {
            options.faults.garbleBytes = indices(value());
        } else if (arg == "--silent-after") {
            options.faults.silentAfterPackets = static_cast<int64_t>(number(value(), 10));
        } else if (arg == "--close-after") {
            options.faults.closeAfterPackets = static_cast<int64_t>(number(value(), 10));
        } else if (arg == "--build") {
            options.identity.build = static_cast<uint32_t>(number(value(), 0));
        } else if (arg == "--bus-module") {
            options.busModules.push_back(busModule(value()));
        } else if (arg == "--fault") {
            const char* text = value();
            auto fault = parseReplyFault(text);
            if (!fault) throw std::invalid_argument(std::string("bad fault: ") + text);
            options.faults.replies[fault->first] = fault->second;
        } else {
            throw std::invalid_argument("unknown option " + arg);
        }
    }
    if (options.tcp == options.pty) throw std::invalid_argument("give exactly one of --tcp and --pty");
    return options;
}

// Waits for SIGINT or SIGTERM (blocked before any thread starts, so only this
// wait receives them).
void awaitTermination(const sigset_t& signals) {
    int signal = 0;
    sigwait(&signals, &signal);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        printUsage(stdout);
        return 0;
    }
    Options options;
    try {
        options = parse(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vmodule: %s\n", e.what());
        printUsage(stderr);
        return 2;
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    VirtualModule module(options.identity);
    module.setFaults(options.faults);
    std::vector<std::unique_ptr<VirtualModule>> busModules;
    for (const ModuleIdentity& identity : options.busModules) {
        busModules.push_back(std::make_unique<VirtualModule>(identity));
        module.attachToBus(*busModules.back());
    }
    try {
        if (options.tcp) {
            ModuleTcpServer server(module, options.port, options.bind);
            std::printf("tcp %s:%u\n", options.bind.c_str(), static_cast<unsigned>(server.port()));
            std::fflush(stdout);
            awaitTermination(signals);
        } else {
            ModulePty pty(module);
            std::printf("pty %s\n", pty.slavePath().c_str());
            std::fflush(stdout);
            awaitTermination(signals);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vmodule: %s\n", e.what());
        return 1;
    }
    return 0;
}
