// imxrom: an i.MX boot ROM's serial download protocol on a pseudo-terminal, until
// SIGINT or SIGTERM. Prints "pty /dev/pts/N" on its first line and "jump 0x%08X"
// when the chip leaves the ROM; the program it started then writes its banner on the
// line, as a started image does (a host waiting for the jump's status sees it).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "ProgramOptions.h"
#include "SdpRamDump.h"
#include "SdpRom.h"
#include "SdpRomSerial.h"

using namespace Veltrano::Sim;

namespace {

const char* kUsage =
    "usage: imxrom [options]\n"
    "  --paced             carry bytes at the host's UART rate\n"
    "  --hab-closed        report a closed HAB mode (0x12343412)\n"
    "  --ram-dump PATH     at the jump (also one refused by --stay-in-rom) and at\n"
    "                      the end, rewrite PATH atomically with what RAM holds:\n"
    "                      each loaded region as its address and length\n"
    "                      (big-endian 32-bit words) followed by its bytes\n"
    "  --ram-region A:N    dump only the N bytes at A instead, raw (unwritten\n"
    "                      bytes 0); numbers decimal or with 0x\n"
    "faults:\n"
    "  --silent            answer nothing\n"
    "  --error-status full|hab|none\n"
    "                      ERROR_STATUS answered whole, with HAB mode only, or not\n"
    "  --write-status W    WRITE_FILE completion word (default 0x88888888)\n"
    "  --talk-at-data N    WRITE_FILE answers after N data bytes (0: at once)\n"
    "  --garble            invert every answer byte\n"
    "  --stay-in-rom       a good jump is answered but the chip stays in the ROM\n"
    "\n"
    "After a good jump the started program writes \"VT liveloader\\r\\n\" on the line.\n";

const char* kBanner = "VT liveloader\r\n";

struct Options {
    bool paced = false;
    SdpRom::Settings rom;
    SdpRamDump dump;
    bool stayInRom = false;
};

Options gOptions;

uint32_t number32(const char* text) {
    return static_cast<uint32_t>(programNumber(text, 0, 0xFFFFFFFFul));
}

void parse(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) throw std::invalid_argument(option + ": value missing");
            return argv[++i];
        };
        if (option == "--paced") {
            gOptions.paced = true;
        } else if (option == "--hab-closed") {
            gOptions.rom.habMode = SdpRom::kHabClosed;
        } else if (option == "--ram-dump" || option == "--ram-region") {
            gOptions.dump.parseOption(option, value());
        } else if (option == "--silent") {
            gOptions.rom.faults.silent = true;
        } else if (option == "--error-status") {
            std::string kind = value();
            if (kind == "full")
                gOptions.rom.faults.errorStatus = SdpRom::ErrorStatusReply::Full;
            else if (kind == "hab")
                gOptions.rom.faults.errorStatus = SdpRom::ErrorStatusReply::HabOnly;
            else if (kind == "none")
                gOptions.rom.faults.errorStatus = SdpRom::ErrorStatusReply::None;
            else
                throw std::invalid_argument("--error-status: full, hab or none");
        } else if (option == "--write-status") {
            gOptions.rom.faults.writeFileStatus = number32(value());
        } else if (option == "--talk-at-data") {
            gOptions.rom.faults.talkAtDataByte = number32(value());
        } else if (option == "--garble") {
            gOptions.rom.faults.garble = true;
        } else if (option == "--stay-in-rom") {
            gOptions.stayInRom = true;
        } else {
            throw std::invalid_argument("unknown option " + option);
        }
    }
    gOptions.dump.check();
}

void dumpRam(const SdpRom& rom) {
    gOptions.dump.write(rom, "imxrom");
}

// The ROM, its line, and a dump at the end.
struct Chip {
    SdpRom rom;
    std::unique_ptr<SdpRomSerial> serial;
    explicit Chip(const SdpRom::Settings& settings) : rom(settings) {}
    ~Chip() {
        serial.reset();
        dumpRam(rom);
    }
};

std::shared_ptr<void> start() {
    auto chip = std::make_shared<Chip>(gOptions.rom);
    SdpRom& rom = chip->rom;
    chip->serial = std::make_unique<SdpRomSerial>(rom, SdpRomSerial::Settings{gOptions.paced});
    SerialLine& line = chip->serial->line();
    rom.setJumpObserver([&rom, &line](uint32_t address) {
        dumpRam(rom);
        if (gOptions.stayInRom) return false;
        std::printf("jump 0x%08X\n", address);
        std::fflush(stdout);
        line.send(kBanner);
        return true;
    });
    std::printf("pty %s\n", chip->serial->path().c_str());
    std::fflush(stdout);
    return chip;
}

} // namespace

int main(int argc, char** argv) {
    return runEmulatorProgram("imxrom", kUsage, argc, argv, parse, start);
}
