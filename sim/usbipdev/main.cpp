// usbipdev: virtual modules and the i.MX boot ROM as USB devices on the machine's
// virtual host controller (vhci-hcd), until SIGINT or SIGTERM. Prints "attached
// SERIAL PORT" as each device enumerates, "detached SERIAL" as it leaves, and
// "ready" once the first ones are on the bus; "fault SERIAL stall|short N
// ENDPOINT" as a fault hits, "sdp-data IMXROM start" and "sdp-data IMXROM done
// BYTES" around each data phase the boot ROM takes (for timing a load).
#include <cctype>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "ProgramOptions.h"
#include "ReplaceFile.h"
#include "UsbIpCable.h"
#include "SdpRamDump.h"
#include "UsbIpImxChip.h"
#include "UsbIpModuleDevice.h"
#include "UsbIpVhci.h"
#include "VirtualModule.h"

using namespace Veltrano::Sim;

namespace {

const char* kUsage = "usage: usbipdev [options]\n"
                     "  --module SERIAL:MODEL   a module (serial hexadecimal, model number); repeatable\n"
                     "  --imx-rom               an i.MX chip in its boot ROM (HID 1FC9:0130, shown as\n"
                     "                          IMXROM); after the jump its liveloader enumerates as\n"
                     "                          module DEADDEAD\n"
                     "  --flash-dump DIR        after each UPGRADE write, rewrite DIR/SERIAL.bin with the\n"
                     "                          module's flash image (gaps 0xFF), atomically\n"
                     "  --ram-dump PATH         after each data phase of the i.MX ROM, rewrite PATH\n"
                     "                          atomically with what its RAM holds: each loaded region\n"
                     "                          as its address and length (big-endian 32-bit words)\n"
                     "                          followed by its bytes\n"
                     "  --ram-region A:N        dump only the N bytes at A instead, raw (unwritten 0)\n"
                     "faults (SERIAL as the device shows, hexadecimal or IMXROM):\n"
                     "  --stall SERIAL:N        the Nth bulk (or interrupt) transfer stalls its endpoint\n"
                     "                          until the host clears the halt\n"
                     "  --short SERIAL:N        the Nth bulk (or interrupt) transfer moves half its bytes\n"
                     "  --fault-endpoint SERIAL:EP\n"
                     "                          --stall and --short count the transfers of endpoint EP\n"
                     "                          (0x01 OUT, 0x81 IN) alone\n"
                     "  --unplug-after-bytes SERIAL:N\n"
                     "                          the device vanishes for good after N bulk OUT bytes\n"
                     "  --reenum-delay MS       a device that comes back takes MS more to enumerate\n";

struct ModuleSpec {
    uint32_t serial;
    uint8_t model;
};

struct Options {
    std::vector<ModuleSpec> modules;
    bool imxRom = false;
    std::string flashDump;
    SdpRamDump ramDump;
    std::map<std::string, UsbIpDevice::Faults> faults;
    uint32_t reenumDelayMs = 0;
};

Options gOptions;

std::string serialText(uint32_t serial) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(serial));
    return text;
}

// "SERIAL:N" with the serial as a device shows it.
std::pair<std::string, unsigned long> serialAndNumber(const std::string& option, const std::string& text,
                                                      unsigned long max) {
    size_t colon = text.find(':');
    if (colon == std::string::npos) throw std::invalid_argument(option + ": SERIAL:N expected");
    std::string serial = text.substr(0, colon);
    for (char& c : serial)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (serial != "IMXROM")
        serial = serialText(static_cast<uint32_t>(programNumber(serial.c_str(), 16, 0xFFFFFFFFul)));
    return {serial, programNumber(text.substr(colon + 1).c_str(), 0, max)};
}

void parse(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(option + ": value missing");
            return argv[++i];
        };
        if (option == "--module") {
            auto [serial, model] = serialAndNumber(option, value(), 255);
            gOptions.modules.push_back(
                {static_cast<uint32_t>(std::stoul(serial, nullptr, 16)), static_cast<uint8_t>(model)});
        } else if (option == "--imx-rom") {
            gOptions.imxRom = true;
        } else if (option == "--flash-dump") {
            gOptions.flashDump = value();
        } else if (option == "--ram-dump" || option == "--ram-region") {
            gOptions.ramDump.parseOption(option, value().c_str());
        } else if (option == "--stall") {
            auto [serial, n] = serialAndNumber(option, value(), 0xFFFFFFFFul);
            gOptions.faults[serial].stallAt = n;
        } else if (option == "--short") {
            auto [serial, n] = serialAndNumber(option, value(), 0xFFFFFFFFul);
            gOptions.faults[serial].shortAt = n;
        } else if (option == "--fault-endpoint") {
            auto [serial, endpoint] = serialAndNumber(option, value(), 0xFF);
            gOptions.faults[serial].endpoint = static_cast<uint8_t>(endpoint);
        } else if (option == "--unplug-after-bytes") {
            auto [serial, n] = serialAndNumber(option, value(), 0xFFFFFFFFul);
            gOptions.faults[serial].vanishAfterOutBytes = static_cast<int64_t>(n);
        } else if (option == "--reenum-delay") {
            gOptions.reenumDelayMs = static_cast<uint32_t>(programNumber(value().c_str(), 10, 3600000));
        } else {
            throw std::invalid_argument("unknown option " + option);
        }
    }
    if (gOptions.modules.empty() && !gOptions.imxRom)
        throw std::invalid_argument("no device: give --module or --imx-rom");
    gOptions.ramDump.check();
}

std::mutex gPrintMutex;

void say(const std::string& line) {
    std::lock_guard<std::mutex> lock(gPrintMutex);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

UsbIpCable::Events printedEvents() {
    UsbIpCable::Events events;
    events.attached = [](const std::string& label, int port) {
        say("attached " + label + " " + std::to_string(port));
    };
    events.detached = [](const std::string& label) { say("detached " + label); };
    events.failed = [](const std::string& label, const std::string& why) {
        std::lock_guard<std::mutex> lock(gPrintMutex);
        std::fprintf(stderr, "usbipdev: %s: %s\n", label.c_str(), why.c_str());
    };
    return events;
}

// The flash dump follows the module under the serial it shows when it writes.
void dumpFlash(VirtualModule& module, const UsbIpDevice& device) {
    if (gOptions.flashDump.empty()) return;
    module.upgrade().onFlashWritten([&device](const UpgradeArea::Regions& flash) {
        std::string path = gOptions.flashDump + "/" + device.label() + ".bin";
        if (!replaceFile(path, contiguousImage(flash)))
            std::fprintf(stderr, "usbipdev: cannot write %s\n", path.c_str());
    });
}

// A module on USB starts its loader as it reboots: it leaves the bus unanswered
// and answers LOAD once it has enumerated again.
void restartsIntoItsLoader(VirtualModule& module) {
    UpgradeArea::Settings upgrade = module.upgrade().settings();
    upgrade.load = UpgradeArea::LoadBehaviour::DropAndReturn;
    module.upgrade().configure(upgrade);
}

// Everything on the bus; destroyed in reverse, so the cables unplug first.
struct Bus {
    UsbIpVhci host;
    std::vector<std::unique_ptr<VirtualModule>> modules;
    std::vector<std::unique_ptr<UsbIpModuleDevice>> moduleDevices;
    std::unique_ptr<UsbIpImxChip> chip;
    std::vector<std::unique_ptr<UsbIpCable>> cables;

    void connect(UsbIpDevice& device, const std::string& serial) {
        auto faults = gOptions.faults.find(serial);
        if (faults != gOptions.faults.end()) {
            UsbIpDevice::Faults told = faults->second;
            told.hit = [serial](const char* kind, uint64_t transfer, uint8_t endpoint) {
                char ep[8];
                std::snprintf(ep, sizeof ep, "0x%02X", endpoint);
                say("fault " + serial + " " + kind + " " + std::to_string(transfer) + " " + ep);
            };
            device.setFaults(told);
        }
        // devid: bus 1, device numbers from 2 on.
        uint32_t devid = (1u << 16) | static_cast<uint32_t>(cables.size() + 2);
        cables.push_back(
            std::make_unique<UsbIpCable>(device, host, devid, printedEvents(), gOptions.reenumDelayMs));
    }
};

constexpr uint32_t kFirstAttachMs = 5000;

std::shared_ptr<void> start() {
    auto bus = std::make_shared<Bus>();
    for (const ModuleSpec& spec : gOptions.modules) {
        bus->modules.push_back(std::make_unique<VirtualModule>(moduleIdentity(spec.serial, spec.model, 4)));
        restartsIntoItsLoader(*bus->modules.back());
        bus->moduleDevices.push_back(std::make_unique<UsbIpModuleDevice>(*bus->modules.back()));
        dumpFlash(*bus->modules.back(), *bus->moduleDevices.back());
        bus->connect(*bus->moduleDevices.back(), serialText(spec.serial));
    }
    if (gOptions.imxRom) {
        bus->chip = std::make_unique<UsbIpImxChip>(UsbIpImxChip::Settings{});
        dumpFlash(bus->chip->module(), bus->chip->loaderDevice());
        UsbIpImxChip* chip = bus->chip.get();
        bus->chip->romDevice().setDataObserver([chip](bool done, uint32_t bytes) {
            if (done) gOptions.ramDump.write(chip->rom(), "usbipdev");
            say(done ? "sdp-data IMXROM done " + std::to_string(bytes)
                     : std::string("sdp-data IMXROM start"));
        });
        bus->connect(bus->chip->romDevice(), "IMXROM");
        bus->connect(bus->chip->loaderDevice(), serialText(UsbIpImxChip::Settings{}.liveloaderSerial));
    }
    // "ready" once the devices present from the start are on the bus.
    size_t first = gOptions.modules.size() + (gOptions.imxRom ? 1 : 0);
    for (size_t i = 0; i < first; ++i) {
        size_t index = gOptions.imxRom && i == first - 1 ? bus->cables.size() - 2 : i;
        if (!bus->cables[index]->waitPlugs(1, kFirstAttachMs))
            throw std::runtime_error("a device could not be attached");
    }
    return bus;
}

} // namespace

int main(int argc, char** argv) {
    return runEmulatorProgram("usbipdev", kUsage, argc, argv, parse, start);
}
