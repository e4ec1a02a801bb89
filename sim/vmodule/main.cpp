// vmodule: one emulated module on TCP or on a pseudo-terminal, until SIGINT or
// SIGTERM. Prints where it can be reached ("tcp 127.0.0.1:PORT" or
// "pty /dev/pts/N") on its first line. It can answer multicast discovery for
// itself, so that a reboot takes it off the network as a whole.
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "DiscoveryResponder.h"
#include "FlashDump.h"
#include "ModulePty.h"
#include "ModuleTcpServer.h"
#include "ReplyFaults.h"
#include "VirtualModule.h"

using namespace Veltrano::Sim;

namespace {

const char* kUsage = "usage: vmodule (--tcp PORT | --pty) [options]\n"
                     "  --tcp PORT          serve over TCP, port 0 to 65535 (0: any free port)\n"
                     "  --bind ADDRESS      interface to listen on (default 127.0.0.1)\n"
                     "  --pty               serve on a pseudo-terminal\n"
                     "  --address A         module address (even, 2 to 254, default 4)\n"
                     "  --serial S          serial number (hexadecimal)\n"
                     "  --model M           model number (0 to 255)\n"
                     "  --version V         packed firmware version (hexadecimal)\n"
                     "  --heartbeat MS      heartbeat interval (0: none)\n"
                     "  --drop I,J,...      leave out these output bytes (counted from 0)\n"
                     "  --garble I,J,...    invert these output bytes\n"
                     "  --silent-after N    answer nothing after N received packets\n"
                     "  --close-after N     close the connection after N received packets\n"
                     "  --build N           firmware build number\n"
                     "  --bus-module A:S    put a module with address A and serial S (hexadecimal)\n"
                     "                      on this module's I2C bus, making it a router\n"
                     "  --discovery         answer multicast discovery for this module (joins\n"
                     "                      232.2.2.2 on the --bind interface; in a network\n"
                     "                      namespace of loopback and veth interfaces only)\n"
                     "  --discovery-interface ADDRESS\n"
                     "                      join on this interface instead (repeatable)\n"
                     "firmware loader:\n"
                     "  --load-base B       load base INIT reports (hexadecimal with 0x, or decimal;\n"
                     "                      default 0x10000000)\n"
                     "  --block-size N      block size PREPARE grants (default 1024; 0 is a fault)\n"
                     "  --load answer|drop|silent\n"
                     "                      LOAD is answered; or the link drops and the module is\n"
                     "                      away --load-away MS (default 300), then answers LOAD on\n"
                     "                      the first connection after; or it is never answered\n"
                     "  --load-away MS      time away when LOAD drops the link\n"
                     "  --reboot-away MS    time away after REBOOT (default 500)\n"
                     "  --reboot-never      a REBOOT from which the module never comes back\n"
                     "  --no-uei-data       no image data as option-10 values (the UEI support\n"
                     "                      query says so)\n"
                     "  --old-firmware      a reboot leaves the old firmware running (the image in\n"
                     "                      flash not taken)\n"
                     "  --serial-location A flash address (hexadecimal with 0x, or decimal) where the\n"
                     "                      firmware keeps the serial number (u32 little-endian); a\n"
                     "                      reboot takes the serial number written there\n"
                     "  --disconnect-at-data N\n"
                     "                      the data packet after N (counted over the run) closes\n"
                     "                      the connection, in the middle of a block\n"
                     "  --disconnect-away MS\n"
                     "                      after that cut the module is away MS (default 0: back\n"
                     "                      at once)\n"
                     "  --flash-dump PATH   after each WRITE, rewrite PATH with the flash image: its\n"
                     "                      bytes from the lowest written address to the highest,\n"
                     "                      gaps 0xFF\n"
                     "  --fault TYPE=KIND[:SKIP[:TIMES[:ERROR]]]\n"
                     "                      fault the replies to one request type: KIND is none (no\n"
                     "                      reply), error (an error reply carrying ERROR, default 6),\n"
                     "                      corrupt (a wrong checksum or echoed byte) or short (one\n"
                     "                      byte short) or late=MS (the right reply, MS ms late);\n"
                     "                      SKIP requests are answered first, then TIMES are\n"
                     "                      faulted (-1: all)\n"
                     "\n"
                     "It emulates: link control (sync answers, force route) and heartbeats; the\n"
                     "system entity (serial number, model, version, build, module and router\n"
                     "addresses, protocol features, name, reset, route to me); module information\n"
                     "(build, UEI support, class and sub-class quantities, entity group); the echo\n"
                     "test; the I2C bus (writes acknowledged where a module sits, reads, pull-up);\n"
                     "routing of packets to and from the modules on its bus; store slots (store 0,\n"
                     "slots 0-3 of 1024 bytes); factory data (records 0-15); the firmware loader\n"
                     "(INIT, PREPARE, DATA, SUM, WRITE, LOAD, REBOOT, option-10 image data), in the\n"
                     "order a module's loader keeps. After a reboot it reports the version and build\n"
                     "of the image tag in its flash.\n"
                     "\n"
                     "Request types for --fault:\n";

// How an option writes its number.
enum class Form { Decimal, DecimalOrHex, Hex };

const char* formName(Form form) {
    switch (form) {
    case Form::Decimal:
        return "a decimal number";
    case Form::DecimalOrHex:
        return "a decimal number, or hexadecimal with 0x";
    default:
        return "a hexadecimal number";
    }
}

// The number in text, written in the option's form: digits only (no sign, spaces or
// trailing text; a leading 0 is no octal prefix). A value above max is refused rather
// than cut down to the option's type.
uint64_t number(const std::string& option, const std::string& text, Form form, uint64_t max) {
    bool hex = form == Form::Hex;
    std::string digits = text;
    if (form != Form::Decimal && digits.size() > 1 && digits[0] == '0' &&
        (digits[1] == 'x' || digits[1] == 'X')) {
        digits.erase(0, 2);
        hex = true;
    }
    const auto isDigit = [hex](unsigned char c) {
        return hex ? std::isxdigit(c) != 0 : std::isdigit(c) != 0;
    };
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isDigit))
        throw std::invalid_argument(option + " '" + text + "': not " + formName(form));
    errno = 0;
    const unsigned long long value = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    if (errno == ERANGE || value > max) {
        std::ostringstream range;
        range << option << " '" << text << "': out of range, 0 to " << (hex ? std::hex : std::dec)
              << (hex ? std::uppercase : std::nouppercase) << max;
        throw std::invalid_argument(range.str());
    }
    return value;
}

// Comma-separated byte indices: "I,J,..." with no empty entry.
std::set<uint64_t> indices(const std::string& option, const std::string& text) {
    std::set<uint64_t> result;
    for (size_t start = 0;;) {
        const size_t comma = text.find(',', start);
        try {
            result.insert(number(option, text.substr(start, comma - start), Form::Decimal, UINT64_MAX));
        } catch (const std::invalid_argument&) {
            throw std::invalid_argument(option + " '" + text +
                                        "': not a list of decimal byte indices I,J,...");
        }
        if (comma == std::string::npos) return result;
        start = comma + 1;
    }
}

struct Options {
    bool tcp = false;
    bool pty = false;
    uint16_t port = 0;
    std::string bind = "127.0.0.1";
    ModuleIdentity identity;
    ModuleFaults faults;
    std::vector<ModuleIdentity> busModules;
    UpgradeArea::Settings upgrade;
    std::string flashDump;
    bool discovery = false;
    std::vector<std::string> discoveryInterfaces;
};

UpgradeArea::LoadBehaviour loadBehaviour(const std::string& text) {
    if (text == "answer") return UpgradeArea::LoadBehaviour::Answer;
    if (text == "drop") return UpgradeArea::LoadBehaviour::DropAndReturn;
    if (text == "silent") return UpgradeArea::LoadBehaviour::Silent;
    throw std::invalid_argument("--load '" + text + "': not answer, drop or silent");
}

// The options of the firmware loader; false when arg is none of them.
bool parseLoaderOption(const std::string& arg, const std::function<const char*()>& value,
                       UpgradeArea::Settings& upgrade) {
    const auto milliseconds = [&] {
        return static_cast<uint32_t>(number(arg, value(), Form::Decimal, UINT32_MAX));
    };
    if (arg == "--load-base")
        upgrade.loadBase = static_cast<uint32_t>(number(arg, value(), Form::DecimalOrHex, UINT32_MAX));
    else if (arg == "--block-size")
        upgrade.blockSize = static_cast<uint16_t>(number(arg, value(), Form::Decimal, UINT16_MAX));
    else if (arg == "--load")
        upgrade.load = loadBehaviour(value());
    else if (arg == "--load-away")
        upgrade.loadAwayMs = milliseconds();
    else if (arg == "--reboot-away")
        upgrade.rebootAwayMs = milliseconds();
    else if (arg == "--reboot-never")
        upgrade.rebootReturns = false;
    else if (arg == "--no-uei-data")
        upgrade.ueiData = false;
    else if (arg == "--disconnect-away")
        upgrade.disconnectAwayMs = milliseconds();
    else if (arg == "--old-firmware")
        upgrade.imageTaken = false;
    else if (arg == "--serial-location")
        upgrade.serialLocation = static_cast<uint32_t>(number(arg, value(), Form::DecimalOrHex, UINT32_MAX));
    else if (arg == "--disconnect-at-data")
        upgrade.disconnectAtData = static_cast<int64_t>(number(arg, value(), Form::Decimal, INT64_MAX));
    else
        return false;
    return true;
}

void printUsage(FILE* out) {
    std::fputs(kUsage, out);
    for (const char* const* request = kReplyFaultRequests; *request; ++request)
        std::fprintf(out, "  %s\n", *request);
}

ModuleIdentity busModule(const std::string& text) {
    size_t colon = text.find(':');
    if (colon == std::string::npos) throw std::invalid_argument("--bus-module needs ADDRESS:SERIAL");
    const uint64_t address = number("--bus-module", text.substr(0, colon), Form::DecimalOrHex, UINT8_MAX);
    if (address == 0 || address > 0xFE || (address & 1))
        throw std::invalid_argument("a bus module's address must be even, 2 to 254");
    ModuleIdentity identity;
    identity.address = static_cast<uint8_t>(address);
    identity.serialNumber =
        static_cast<uint32_t>(number("--bus-module", text.substr(colon + 1), Form::Hex, UINT32_MAX));
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
            options.port = static_cast<uint16_t>(number(arg, value(), Form::Decimal, UINT16_MAX));
        } else if (arg == "--pty") {
            options.pty = true;
        } else if (arg == "--bind") {
            options.bind = value();
        } else if (arg == "--address") {
            const std::string text = value();
            const uint64_t a = number(arg, text, Form::DecimalOrHex, UINT8_MAX);
            if (a == 0 || a > 0xFE || (a & 1))
                throw std::invalid_argument(arg + " '" + text + "': must be even, 2 to 254");
            options.identity.address = static_cast<uint8_t>(a);
        } else if (arg == "--serial") {
            options.identity.serialNumber =
                static_cast<uint32_t>(number(arg, value(), Form::Hex, UINT32_MAX));
        } else if (arg == "--model") {
            options.identity.model =
                static_cast<uint8_t>(number(arg, value(), Form::DecimalOrHex, UINT8_MAX));
        } else if (arg == "--version") {
            options.identity.version = static_cast<uint32_t>(number(arg, value(), Form::Hex, UINT32_MAX));
        } else if (arg == "--heartbeat") {
            options.identity.heartbeatIntervalMs =
                static_cast<uint32_t>(number(arg, value(), Form::Decimal, UINT32_MAX));
        } else if (arg == "--drop") {
            options.faults.dropBytes = indices(arg, value());
        } else if (arg == "--garble") {
            options.faults.garbleBytes = indices(arg, value());
        } else if (arg == "--silent-after") {
            options.faults.silentAfterPackets =
                static_cast<int64_t>(number(arg, value(), Form::Decimal, INT64_MAX));
        } else if (arg == "--close-after") {
            options.faults.closeAfterPackets =
                static_cast<int64_t>(number(arg, value(), Form::Decimal, INT64_MAX));
        } else if (arg == "--build") {
            options.identity.build =
                static_cast<uint32_t>(number(arg, value(), Form::DecimalOrHex, UINT32_MAX));
        } else if (arg == "--bus-module") {
            options.busModules.push_back(busModule(value()));
        } else if (parseLoaderOption(arg, value, options.upgrade)) {
        } else if (arg == "--flash-dump") {
            options.flashDump = value();
        } else if (arg == "--discovery") {
            options.discovery = true;
        } else if (arg == "--discovery-interface") {
            options.discovery = true;
            options.discoveryInterfaces.push_back(value());
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
    if (options.discovery && !options.tcp) throw std::invalid_argument("--discovery needs --tcp");
    return options;
}

// A responder that answers for the module while it takes connections.
std::unique_ptr<DiscoveryResponder> discoveryFor(const ModuleTcpServer& server, const Options& options) {
    DiscoveryResponderOptions responder;
    responder.interfaces = options.discoveryInterfaces;
    if (responder.interfaces.empty()) responder.interfaces.push_back(options.bind);
    DiscoveryModule& answered = responder.modules.front();
    answered.serialNumber = options.identity.serialNumber;
    answered.address = options.identity.address;
    answered.model = options.identity.model;
    answered.tcpPort = server.port();
    return std::make_unique<DiscoveryResponder>(
        responder, [&server](const DiscoveryModule&) { return server.reachable(); });
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
    module.upgrade().configure(options.upgrade);
    if (!options.flashDump.empty())
        module.upgrade().onFlashWritten([path = options.flashDump](const UpgradeArea::Regions& flash) {
            if (!writeFlashDump(path, flash))
                std::fprintf(stderr, "vmodule: cannot write %s\n", path.c_str());
        });
    std::vector<std::unique_ptr<VirtualModule>> busModules;
    for (const ModuleIdentity& identity : options.busModules) {
        busModules.push_back(std::make_unique<VirtualModule>(identity));
        module.attachToBus(*busModules.back());
    }
    try {
        if (options.tcp) {
            ModuleTcpServer server(module, options.port, options.bind);
            std::unique_ptr<DiscoveryResponder> discovery;
            if (options.discovery) discovery = discoveryFor(server, options);
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
