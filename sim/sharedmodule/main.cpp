// sharedmodule: one emulated module on the in-process virtual USB bus, opened and
// served to other processes by a link-sharing server, until SIGINT or SIGTERM.
// Prints "asolvan ADDRESS:PORT SERIAL" on its first line, then "ready". With a
// stream rate, the module streams its counters (StreamedCounters.h) to whoever
// subscribes to them.
#include <arpa/inet.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "DelayedEchoArea.h"
#include "ModuleUsbBus.h"
#include "ProgramOptions.h"
#include "StreamedCounters.h"
#include "VirtualModule.h"
#include "aLink.h"
#include "aServer_ZeroMQ.h"

using namespace Veltrano::Sim;

namespace {

const char* kUsage = "usage: sharedmodule [options]\n"
                     "  --serial S          serial number (hexadecimal)\n"
                     "  --model M           model number (1 to 255)\n"
                     "  --address A         module address (even, 2 to 254, default 4)\n"
                     "  --heartbeat MS      heartbeat interval (0: none)\n"
                     "  --echo-delay MS     delay of the slow echo [23, 0xDE, ...] (default 500)\n"
                     "  --stream-rate N     samples per second the module streams, over the\n"
                     "                      subscribed counters (command 18, option 5, index 0-3)\n"
                     "  --interface ADDRESS serve on this interface and answer beacons from other\n"
                     "                      hosts (default: 127.0.0.1 only)\n";

struct Options {
    ModuleIdentity identity;
    uint32_t echoDelayMs = 500;
    uint32_t streamRate = 0;
    uint32_t interface = 0;
    bool loopbackOnly = true;
};

void parse(Options* options, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (i + 1 >= argc) throw std::invalid_argument("missing value for " + option);
        const char* value = argv[++i];
        if (option == "--serial") {
            options->identity.serialNumber = uint32_t(programNumber(value, 16, 0xFFFFFFFF));
        } else if (option == "--model") {
            options->identity.model = uint8_t(programNumber(value, 0, 255));
        } else if (option == "--address") {
            options->identity.address = uint8_t(programNumber(value, 0, 254));
        } else if (option == "--heartbeat") {
            options->identity.heartbeatIntervalMs = uint32_t(programNumber(value, 0, 60000));
        } else if (option == "--echo-delay") {
            options->echoDelayMs = uint32_t(programNumber(value, 0, 60000));
        } else if (option == "--stream-rate") {
            options->streamRate = uint32_t(programNumber(value, 0, 100000));
        } else if (option == "--interface") {
            in_addr address;
            if (inet_pton(AF_INET, value, &address) != 1) throw std::invalid_argument("bad interface");
            options->interface = address.s_addr;
            options->loopbackOnly = false;
        } else {
            throw std::invalid_argument("unknown option " + option);
        }
    }
    if (options->identity.model == 0) throw std::invalid_argument("a model of 0 answers no beacon");
}

// The bus and the module outlive the server's link, which is destroyed first.
struct Served {
    std::unique_ptr<ModuleUsbBus> bus;
    std::unique_ptr<VirtualModule> module;
    uint32_t linkRef = 0;
    ~Served() {
        if (linkRef) aLink_Destroy(&linkRef);
    }
};

std::shared_ptr<void> start(const Options& options) {
    auto served = std::make_shared<Served>();
    served->module = std::make_unique<VirtualModule>(options.identity);
    served->module->addFirstArea(std::make_unique<DelayedEchoArea>(options.echoDelayMs));
    served->module->stream().setSources(streamedCounters());
    served->module->stream().setRate(options.streamRate);
    served->bus = std::make_unique<ModuleUsbBus>();
    served->bus->attach(*served->module);
    uint16_t port = 0;
    uint32_t address = options.interface;
    served->linkRef =
        aLink_CreateServer(options.identity.serialNumber, &port, &address, options.loopbackOnly);
    if (!served->linkRef) throw std::runtime_error("the link-sharing server did not start");
    char text[INET_ADDRSTRLEN] = {0};
    in_addr in;
    in.s_addr = address;
    inet_ntop(AF_INET, &in, text, sizeof text);
    std::printf("asolvan %s:%u %08X\n", text, unsigned(port), unsigned(options.identity.serialNumber));
    return served;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    return runEmulatorProgram(
        "sharedmodule", kUsage, argc, argv, [&](int c, char** v) { parse(&options, c, v); },
        [&] { return start(options); });
}
