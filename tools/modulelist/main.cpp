// modulelist: lists the Veltrano modules this machine reaches and what each one
// runs. It is also an example of the Halvorine library's public API: discovery
// over USB and TCP/IP, connecting a Module from a link specifier, reading the
// system entity, and walking a router's I2C bus to reach the modules behind it
// through the router's link.
#include <arpa/inet.h>
#include <getopt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "I2CClass.h"
#include "Module.h"
#include "SystemClass.h"
#include "aDefs.h"
#include "aDiscovery.h"
#include "aError.h"
#include "aTime.h"
#include "aVersion.h"

using namespace Veltrano::Halvorine;

namespace {

const char kUsage[] = "usage: modulelist [--usb] [--tcpip] [--tcp ADDRESS:PORT]... [--router SERIAL]...\n"
                      "Lists the Veltrano modules this machine reaches: serial number, module and router\n"
                      "address, model, firmware version and build, and how each one was reached.\n"
                      "  --usb               discover the modules on USB\n"
                      "  --tcpip             discover the modules on the local networks (UDP multicast)\n"
                      "  --tcp ADDRESS:PORT  read the module served at this IPv4 address and TCP port\n"
                      "  --router SERIAL     also list the modules on the I2C bus of this module\n"
                      "                      (serial number in hexadecimal)\n"
                      "  -h, --help          show this text\n"
                      "Without --usb, --tcpip or --tcp it discovers on USB and on TCP/IP. The exit status\n"
                      "is 0 when every module found was read, 1 otherwise or after a bad argument.\n";

// A request waits 1000 ms for its reply: one that fails after this long got
// none, where a refusal comes at once.
const uint32 kNoReplyMs = 900;

struct Options {
    bool usb = false;
    bool tcpip = false;
    std::vector<linkSpec> targets; // --tcp
    std::set<uint32> routers;
};

// What one module answered, and how it was reached.
struct Row {
    std::string via;
    unsigned int serialNumber = 0;
    unsigned char module = 0;
    unsigned char router = 0;
    unsigned char model = 0;
    unsigned int version = 0;
    unsigned int build = 0;
};

bool failed(const std::string& what) {
    std::fprintf(stderr, "modulelist: %s\n", what.c_str());
    return false;
}

bool failed(const std::string& what, aErr err) {
    return failed(what + ": " + aError_GetErrorDescription(err) + " (error " + std::to_string(err) + ")");
}

std::string hex8(uint32 value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

std::string counted(size_t count, const char* what) {
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

// "ADDRESS:PORT" as a TCP/IP link specifier.
bool parseTarget(const std::string& text, linkSpec* spec) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    in_addr address;
    if (inet_pton(AF_INET, text.substr(0, colon).c_str(), &address) != 1) return false;
    std::string port = text.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long number = std::strtoul(port.c_str(), nullptr, 10);
    if (number == 0 || number > 65535) return false;
    *spec = linkSpec{};
    spec->type = TCPIP;
    spec->ipAddress = address.s_addr;
    spec->ipPort = static_cast<uint16>(number);
    return true;
}

bool parseSerial(const std::string& text, uint32* serial) {
    if (text.empty() || text.size() > 8 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    *serial = static_cast<uint32>(std::strtoul(text.c_str(), nullptr, 16));
    return *serial != 0;
}

// False after a bad argument (said on standard error); *help for --help.
bool parseOptions(int argc, char** argv, Options* options, bool* help) {
    const option longOptions[] = {
        {"usb", no_argument, nullptr, 'u'},       {"tcpip", no_argument, nullptr, 'n'},
        {"tcp", required_argument, nullptr, 't'}, {"router", required_argument, nullptr, 'r'},
        {"help", no_argument, nullptr, 'h'},      {nullptr, 0, nullptr, 0}};
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":h", longOptions, nullptr)) != -1) {
        linkSpec target;
        uint32 serial;
        switch (c) {
        case 'u':
            options->usb = true;
            break;
        case 'n':
            options->tcpip = true;
            break;
        case 't':
            if (!parseTarget(optarg, &target))
                return failed(std::string("--tcp '") + optarg +
                              "': not ADDRESS:PORT (IPv4, port 1 to 65535)");
            options->targets.push_back(target);
            break;
        case 'r':
            if (!parseSerial(optarg, &serial))
                return failed(std::string("--router '") + optarg + "': not a hexadecimal serial number");
            options->routers.insert(serial);
            break;
        case 'h':
            *help = true;
            return true;
        case ':':
            return failed(std::string(argv[optind - 1]) + " needs a value");
        default:
            return failed(std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    if (optind < argc) return failed(std::string("unexpected argument '") + argv[optind] + "'");
    if (!options->usb && !options->tcpip && options->targets.empty()) options->usb = options->tcpip = true;
    return true;
}

// Links opened directly, never through a link-sharing server.
aSolvanConfig directConfig() {
    aSolvanConfig config;
    config.shareThroughServer = 0;
    config.allowFallback = 0;
    return config;
}

std::string describe(const linkSpec& spec) {
    if (spec.type == USB) return "USB";
    char address[INET_ADDRSTRLEN] = "";
    in_addr in{spec.ipAddress};
    inet_ntop(AF_INET, &in, address, sizeof address);
    return std::string(address) + ":" + std::to_string(spec.ipPort);
}

// Adds the modules one discovery finds, one per serial number (a module heard
// through two interfaces answers twice: the lowest address is kept), in
// serial-number order, so the same network always lists the same way.
void discover(linkType type, const char* name, std::vector<linkSpec>* all) {
    std::list<linkSpec> found;
    Link::sDiscover(type, &found, kLoopbackInterface);
    std::vector<linkSpec> specs(found.begin(), found.end());
    const auto order = [](const linkSpec& a, const linkSpec& b) {
        return std::make_tuple(a.serialNumber, ntohl(a.ipAddress), a.ipPort) <
               std::make_tuple(b.serialNumber, ntohl(b.ipAddress), b.ipPort);
    };
    const auto sameModule = [](const linkSpec& a, const linkSpec& b) {
        return a.serialNumber == b.serialNumber;
    };
    std::sort(specs.begin(), specs.end(), order);
    specs.erase(std::unique(specs.begin(), specs.end(), sameModule), specs.end());
    std::printf("Discovery over %s: %s found\n", name,
                specs.empty() ? "no modules" : counted(specs.size(), "module").c_str());
    all->insert(all->end(), specs.begin(), specs.end());
}

// Reads a connected module's identity and firmware; the first failure ends it.
aErr readModule(Module& module, Row* row) {
    SystemClass system;
    system.init(&module, 0);
    aErr err = system.getSerialNumber(&row->serialNumber);
    if (err == aErrNone) err = system.getModel(&row->model);
    if (err == aErrNone) err = system.getVersion(&row->version);
    if (err == aErrNone) err = system.getModule(&row->module);
    if (err == aErrNone) err = system.getRouter(&row->router);
    if (err == aErrNone) err = module.getBuild(&row->build);
    return err;
}

// The module at this address on the router's bus, reached through the
// router's own link: it carries the module's packets by their address.
bool readBehind(Module& router, const Row& routerRow, unsigned char address, std::vector<Row>* rows) {
    Row row;
    char via[32];
    std::snprintf(via, sizeof via, "bus 0x%02X of %08X", address, routerRow.serialNumber);
    row.via = via;
    Module module(address, false, 0);
    aErr err = module.setConfig(directConfig());
    if (err == aErrNone) err = module.connectThroughLinkModule(&router);
    if (err != aErrNone) return failed(row.via + ": cannot connect", err);
    err = readModule(module, &row);
    module.disconnect();
    if (err != aErrNone) return failed(row.via + ": cannot read", err);
    rows->push_back(row);
    return true;
}

// Probes every even bus address but the router's own with a write of two zero
// bytes; where one is acknowledged a module sits.
bool walkBus(Module& router, const Row& routerRow, std::vector<Row>* rows) {
    SystemClass system;
    system.init(&router, 0);
    aErr err = system.routeToMe(1);
    if (err != aErrNone) return failed(hex8(routerRow.serialNumber) + ": cannot route to this host", err);
    I2CClass bus;
    bus.init(&router, 0);
    bus.setSpeed(I2CClass::kMaxSpeed);
    const unsigned char zeros[2] = {0, 0};
    size_t before = rows->size();
    bool ok = true;
    for (unsigned int address = 2; address <= 252; address += 2) {
        if (address == routerRow.module) continue;
        uint32 start = aTime_GetMSTicks();
        if (bus.write(static_cast<unsigned char>(address), 2, zeros) == aErrNone) {
            ok = readBehind(router, routerRow, static_cast<unsigned char>(address), rows) && ok;
        } else if (aTime_GetMSTicks() - start >= kNoReplyMs) {
            // Not even a refusal: the router itself stopped answering.
            ok = failed(hex8(routerRow.serialNumber) + ": no answer on its I2C bus");
            break;
        }
    }
    system.routeToMe(0);
    size_t found = rows->size() - before;
    std::printf("I2C bus of %08X: %s found\n", routerRow.serialNumber,
                found ? counted(found, "module").c_str() : "no modules");
    return ok;
}

// Connects the module, reads it, and walks its bus when it is a router asked for.
bool listModule(const linkSpec& spec, Options& options, std::vector<Row>* rows) {
    Row row;
    row.via = describe(spec);
    Module module(0, 0); // its address is learnt on connecting
    aErr err = module.setConfig(directConfig());
    if (err == aErrNone) err = module.connectFromSpec(spec);
    if (err != aErrNone) return failed(row.via + ": cannot connect", err);
    bool ok = true;
    err = readModule(module, &row);
    if (err != aErrNone) {
        ok = failed(row.via + ": cannot read", err);
    } else {
        rows->push_back(row);
        if (options.routers.erase(row.serialNumber)) ok = walkBus(module, row, rows);
    }
    module.disconnect();
    return ok;
}

void printTable(const std::vector<Row>& rows) {
    if (rows.empty()) {
        std::printf("\nNo modules found.\n");
        return;
    }
    std::printf("\n    Device    Module  Router  Model         Firmware (Build)     Reached through\n");
    for (const Row& row : rows) {
        char version[16];
        aVersion_ParseString(row.version, version, sizeof version);
        std::string firmware = std::string(version) + " (" + std::to_string(row.build) + ")";
        std::printf("    %08X  %02X      %02X      %-12s  %-19s  %s\n", row.serialNumber, row.module,
                    row.router, aDefs_GetModelName(row.model), firmware.c_str(), row.via.c_str());
    }
}

} // namespace

int main(int argc, char** argv) {
    // Progress lines show as they happen, also through a pipe.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    bool help = false;
    if (!parseOptions(argc, argv, &options, &help)) {
        std::fprintf(stderr, "Try 'modulelist --help'.\n");
        return 1;
    }
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::vector<linkSpec> specs = options.targets;
    if (options.usb) discover(USB, "USB", &specs);
    if (options.tcpip) discover(TCPIP, "TCP/IP", &specs);
    std::vector<Row> rows;
    bool ok = true;
    for (const linkSpec& spec : specs)
        ok = listModule(spec, options, &rows) && ok;
    for (uint32 router : options.routers)
        ok = failed("router " + hex8(router) + " not found");
    printTable(rows);
    return ok ? 0 : 1;
}
