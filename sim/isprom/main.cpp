// isprom: an NXP LPC17xx ISP boot ROM on a pseudo-terminal, until SIGINT or
// SIGTERM. Prints "pty /dev/pts/N" on its first line.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "IspRomLine.h"
#include "ProgramOptions.h"
#include "ReplaceFile.h"

using namespace Veltrano::Sim;

namespace {

const char* kUsage = "usage: isprom [options]\n"
                     "  --unpaced            carry bytes at once (by default the line carries them\n"
                     "                       at the host port's rate, 10 bits a byte; --paced)\n"
                     "  --instant            erase and copy at once (by default as the silicon:\n"
                     "                       100 ms a sector erased, 1 ms per 256 bytes copied)\n"
                     "  --erase-ms N         milliseconds a sector's erase takes\n"
                     "  --copy-ms N          milliseconds every copy to flash takes\n"
                     "  --flash-load PATH    start with this image in flash (the rest erased)\n"
                     "  --flash-dump PATH    rewrite PATH with the 512 KiB flash image after each\n"
                     "                       erase or copy, and on exit\n"
                     "  --uid W0,W1,W2,W3    unique id words (base 0 numbers)\n"
                     "  --part-id N          part id J answers (default 0x26013F37, LPC1768)\n"
                     "  --stay-in-rom        G answers but the chip stays in ISP\n"
                     "  --isp-entry          the ISP pin is held at reset: a valid image in flash\n"
                     "                       does not start\n"
                     "faults (X is a command letter, N its occurrence from 1, default 1):\n"
                     "  --silent-from X[:N]  answer nothing more from that command on\n"
                     "  --garble-at X[:N]    garble that command's reply\n"
                     "  --early-at X[:N]     answer that command at its \\r, before its line end\n"
                     "  --fail X:CODE[:N]    that command answers CODE instead of acting\n"
                     "  --resend N|always    answer the first N checksums of W with RESEND\n"
                     "  --checksum-reply T   answer T (a line end is added) to every good checksum\n"
                     "  --babble T           answer T (a line end is added) to every command\n"
                     "  --flip-bit-at-copy N the N-th copy (from 1) programs one bit wrong\n"
                     "Bytes lost to a busy chip's full receive FIFO are said on standard error and\n"
                     "make the exit status 3.\n";

struct Options {
    IspRomSettings rom;
    SerialLine::Settings line{true};
    std::string flashLoad;
    std::string flashDump;
};

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

char letter(const std::string& text) {
    if (text.size() != 1 || !std::isalpha(static_cast<unsigned char>(text[0])))
        throw std::invalid_argument("not a command letter: " + text);
    return text[0];
}

IspCommandPoint point(const std::string& text) {
    std::vector<std::string> parts = split(text, ':');
    if (parts.size() > 2) throw std::invalid_argument("not X[:N]: " + text);
    IspCommandPoint p;
    p.letter = letter(parts[0]);
    if (parts.size() == 2)
        p.occurrence = static_cast<uint32_t>(programNumber(parts[1].c_str(), 10, UINT32_MAX));
    return p;
}

void parseFail(const std::string& text, IspRomSettings& rom) {
    std::vector<std::string> parts = split(text, ':');
    if (parts.size() < 2 || parts.size() > 3) throw std::invalid_argument("not X:CODE[:N]: " + text);
    rom.failAt.letter = letter(parts[0]);
    rom.failCode = static_cast<uint32_t>(programNumber(parts[1].c_str(), 10, UINT32_MAX));
    if (parts.size() == 3)
        rom.failAt.occurrence = static_cast<uint32_t>(programNumber(parts[2].c_str(), 10, UINT32_MAX));
}

void parseUid(const std::string& text, IspRomSettings& rom) {
    std::vector<std::string> parts = split(text, ',');
    if (parts.size() != 4) throw std::invalid_argument("--uid needs four words: " + text);
    for (size_t i = 0; i < 4; ++i)
        rom.uid[i] = static_cast<uint32_t>(programNumber(parts[i].c_str(), 0, UINT32_MAX));
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--paced")
            o.line.paced = true;
        else if (arg == "--unpaced")
            o.line.paced = false;
        else if (arg == "--instant")
            o.rom.timed = false;
        else if (arg == "--erase-ms")
            o.rom.eraseMsPerSector = static_cast<uint32_t>(programNumber(value().c_str(), 10, 60000));
        else if (arg == "--copy-ms")
            o.rom.copyMs = static_cast<uint32_t>(programNumber(value().c_str(), 10, 60000));
        else if (arg == "--isp-entry")
            o.rom.ispEntryHeld = true;
        else if (arg == "--babble")
            o.rom.babble = value();
        else if (arg == "--flip-bit-at-copy")
            o.rom.flipBitAtCopy = static_cast<uint32_t>(programNumber(value().c_str(), 10, UINT32_MAX));
        else if (arg == "--flash-load")
            o.flashLoad = value();
        else if (arg == "--flash-dump")
            o.flashDump = value();
        else if (arg == "--uid")
            parseUid(value(), o.rom);
        else if (arg == "--part-id")
            o.rom.partId = static_cast<uint32_t>(programNumber(value().c_str(), 0, UINT32_MAX));
        else if (arg == "--stay-in-rom")
            o.rom.stayInRom = true;
        else if (arg == "--silent-from")
            o.rom.silentFrom = point(value());
        else if (arg == "--garble-at")
            o.rom.garbleAt = point(value());
        else if (arg == "--early-at")
            o.rom.earlyAt = point(value());
        else if (arg == "--fail")
            parseFail(value(), o.rom);
        else if (arg == "--resend") {
            const std::string times = value();
            o.rom.resendTimes =
                times == "always" ? -1 : static_cast<int>(programNumber(times.c_str(), 10, INT32_MAX));
        } else if (arg == "--checksum-reply")
            o.rom.checksumReply = value() + "\r\n";
        else
            throw std::invalid_argument("unknown option " + arg);
    }
    return o;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void dump(const std::string& path, const std::vector<uint8_t>& image) {
    if (!replaceFile(path, image)) std::fprintf(stderr, "isprom: cannot write %s\n", path.c_str());
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Options options;
    try {
        options = parse(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "isprom: %s\n%s", e.what(), kUsage);
        return 2;
    }
    sigset_t signals = blockTerminationSignals();
    try {
        IspRomLine server(options.rom, options.line);
        if (!options.flashLoad.empty()) server.rom().loadFlash(readFile(options.flashLoad));
        if (!options.flashDump.empty()) {
            server.rom().onFlashChanged(
                [path = options.flashDump](const std::vector<uint8_t>& flash) { dump(path, flash); });
            dump(options.flashDump, server.rom().flash());
        }
        std::printf("pty %s\n", server.path().c_str());
        std::fflush(stdout);
        awaitTermination(signals);
        server.line().stop();
        if (!options.flashDump.empty()) dump(options.flashDump, server.rom().flash());
        if (server.line().overruns() != 0) {
            std::fprintf(stderr, "isprom: %llu host bytes lost to receive overruns\n",
                         static_cast<unsigned long long>(server.line().overruns()));
            return 3;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "isprom: %s\n", e.what());
        return 1;
    }
    return 0;
}
