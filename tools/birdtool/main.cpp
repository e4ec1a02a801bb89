// birdtool: inspects and builds BIRD firmware files.
//
//   birdtool info [-v] FILE
//   birdtool pack -o OUT [image and identity options]
//   birdtool keygen | sign | verify (Signing.h)
#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "BirdFile.h"
#include "BirdLog.h"
#include "BirdSummary.h"
#include "BirdWriter.h"
#include "Signing.h"
#include "FirmwareImageTag.h"
#include "aDefs.h"
#include "aVersion.h"

namespace {

const int exitFailure = 1;
const int exitUsage = 2;

const char* const usageText =
    "Usage:\n"
    "  birdtool info [-v] FILE\n"
    "  birdtool pack -o OUT [options]\n"
    "  birdtool keygen -p PUB -s SECRET [-W] [-f]\n"
    "  birdtool sign -s SECRET [-x SIG] [-t COMMENT] [-l] FILE\n"
    "  birdtool verify -p PUB [-x SIG] FILE\n"
    "  birdtool --help\n"
    "\n"
    "info  Loads FILE and prints its header, identity, serial-number locations,\n"
    "      start address and block list. Exits 1 when FILE does not load.\n"
    "      -v, --verbose          also print the loader's diagnostic lines (stderr)\n"
    "\n"
    "pack  Builds a BIRD file from raw image files. Blocks are written in this\n"
    "      order: identity, serial-number locations, start address, then the\n"
    "      images in the order given.\n"
    "      -o, --output OUT       file to write (required)\n"
    "      -l, --loader SPEC      add a loader image; SPEC is ADDR[:FLAGS]=FILE\n"
    "      -f, --firmware SPEC    add a firmware image; SPEC is ADDR[:FLAGS]=FILE\n"
    "                             ADDR is the load address of the image's first\n"
    "                             byte; FLAGS (0-7, default 0) travel with the block\n"
    "      -V, --version TEXT     identity: firmware version, e.g. 2.11.4\n"
    "      -s, --serial HEX       identity: serial number of the one module the build\n"
    "                             is for (default 00000000)\n"
    "      -m, --model NAME       identity: model name (a module matches when its\n"
    "                             model name is a prefix of NAME)\n"
    "      -M, --model-number N   identity: model name of module model N\n"
    "      -d, --description TEXT identity: free text, shown only in logs\n"
    "      -S, --serial-location ADDR\n"
    "                             where the firmware keeps the module's serial number\n"
    "                             (32-bit little-endian), patched before transfer\n"
    "      -D, --descriptor-location ADDR\n"
    "                             where the firmware keeps its UTF-16LE serial string\n"
    "      -a, --start ADDR       execution address for the i.MX recovery loader\n"
    "      -b, --image-build N    append an image tag to the first firmware image:\n"
    "                             a module emulator that runs the image reports the\n"
    "                             version of -V (which this needs) and build N; the\n"
    "                             image is padded with 0xFF to 4 bytes first\n"
    "      -z, --level N          zlib compression level 0-9 (default 9)\n"
    "\n"
    "The identity record is written when any identity option is given; its text\n"
    "fields hold at most 16 characters. Numbers are decimal, or hexadecimal with 0x\n"
    "(a leading 0 does not make them octal); others, and numbers out of range, are refused.\n"
    "\n"
    "Example:\n"
    "  birdtool pack -o 42.bird -V 2.11.4 -m VT-Hub4 -S 0x4010 -D 0x4020 \\\n"
    "      -l 0x20000000=loader.bin -f 0x4000:1=app.bin\n";

void printHelp() {
    std::fputs(usageText, stdout);
    std::fputs("\n", stdout);
    std::fputs(signingUsageText, stdout);
}

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Decimal, or hexadecimal after 0x; hexadecimal with or without 0x where hexOnly (the
// serial number). Nothing else: no sign, no spaces, and a leading 0 is no octal prefix.
uint32 parseNumber(const std::string& text, const char* what, uint32 max = 0xFFFFFFFFu,
                   bool hexOnly = false) {
    const bool prefixed = text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = prefixed ? text.substr(2) : text;
    const bool hex = prefixed || hexOnly;
    const char* const form = hexOnly ? "hexadecimal" : "decimal, or hexadecimal with 0x";
    if (digits.empty() ||
        digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos)
        throw UsageError(std::string("bad ") + what + " '" + text + "': not " + form);
    errno = 0;
    const unsigned long long value = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    if (errno == ERANGE || value > max)
        throw UsageError(std::string("bad ") + what + " '" + text + "': at most " + std::to_string(max));
    return uint32(value);
}

std::vector<uint8> readImage(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read image " + path);
    std::vector<uint8> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw std::runtime_error("cannot read image " + path);
    return bytes;
}

// "major.minor.patch", each 0-255, packed.
uint32 packedVersion(const std::string& text) {
    uint32 parts[3];
    size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        size_t end = i < 2 ? text.find('.', at) : text.size();
        if (end == std::string::npos) throw UsageError("bad version '" + text + "': not MAJOR.MINOR.PATCH");
        parts[i] = parseNumber(text.substr(at, end - at), "version part", 255);
        at = end + 1;
    }
    return aVersion_Pack(uint8(parts[0]), uint8(parts[1]), uint8(parts[2]));
}

// ADDR[:FLAGS]=FILE; the tag, when given, goes after the image.
void addImage(BirdWriter& writer, uint8 type, const std::string& spec,
              const std::optional<FirmwareImageTag>& tag = std::nullopt) {
    size_t equals = spec.find('=');
    if (equals == std::string::npos || equals + 1 == spec.size())
        throw UsageError("image '" + spec + "' is not ADDR[:FLAGS]=FILE");
    std::string where = spec.substr(0, equals);
    uint32 flags = 0;
    size_t colon = where.find(':');
    if (colon != std::string::npos) {
        flags = parseNumber(where.substr(colon + 1), "block flags", 7);
        where.resize(colon);
    }
    uint32 address = parseNumber(where, "image address");
    std::vector<uint8> image = readImage(spec.substr(equals + 1));
    if (tag) image = tag->appendTo(image);
    if (type == birdLoaderImage)
        writer.addLoaderImage(address, image, uint8(flags));
    else
        writer.addFirmwareImage(address, image, uint8(flags));
}

int pack(int argc, char** argv) {
    static const option options[] = {
        {"output", required_argument, nullptr, 'o'},
        {"loader", required_argument, nullptr, 'l'},
        {"firmware", required_argument, nullptr, 'f'},
        {"version", required_argument, nullptr, 'V'},
        {"serial", required_argument, nullptr, 's'},
        {"model", required_argument, nullptr, 'm'},
        {"model-number", required_argument, nullptr, 'M'},
        {"description", required_argument, nullptr, 'd'},
        {"serial-location", required_argument, nullptr, 'S'},
        {"descriptor-location", required_argument, nullptr, 'D'},
        {"start", required_argument, nullptr, 'a'},
        {"level", required_argument, nullptr, 'z'},
        {"image-build", required_argument, nullptr, 'b'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    std::string output;
    std::vector<std::pair<uint8, std::string>> images;
    BirdIdentity identity{"", "", "00000000", ""};
    bool withIdentity = false, withLocations = false;
    uint32 serialLocation = 0, descriptorLocation = 0, start = 0;
    bool withStart = false;
    int level = 9;
    std::optional<uint32> imageBuild;
    int c;
    while ((c = getopt_long(argc, argv, "+o:l:f:V:s:m:M:d:S:D:a:z:b:h", options, nullptr)) != -1) {
        std::string arg = optarg ? optarg : "";
        switch (c) {
        case 'o':
            output = arg;
            break;
        case 'l':
            images.emplace_back(birdLoaderImage, arg);
            break;
        case 'f':
            images.emplace_back(birdFirmwareImage, arg);
            break;
        case 'V':
            identity.version = arg, withIdentity = true;
            break;
        case 's': {
            char digits[9];
            std::snprintf(digits, sizeof digits, "%08X",
                          parseNumber(arg, "serial number", 0xFFFFFFFFu, true));
            identity.serial = digits;
            withIdentity = true;
            break;
        }
        case 'm':
            identity.model = arg, withIdentity = true;
            break;
        case 'M': {
            const char* name = aDefs_GetModelName(parseNumber(arg, "model number", 255));
            if (std::strcmp(name, "Unknown") == 0) throw UsageError("unknown model number " + arg);
            identity.model = name;
            withIdentity = true;
            break;
        }
        case 'd':
            identity.first = arg, withIdentity = true;
            break;
        case 'S':
            serialLocation = parseNumber(arg, "serial-number location"), withLocations = true;
            break;
        case 'D':
            descriptorLocation = parseNumber(arg, "descriptor location"), withLocations = true;
            break;
        case 'a':
            start = parseNumber(arg, "start address"), withStart = true;
            break;
        case 'z':
            level = int(parseNumber(arg, "compression level", 9));
            break;
        case 'b':
            imageBuild = parseNumber(arg, "image build");
            break;
        case 'h':
            printHelp();
            return 0;
        default:
            throw UsageError("");
        }
    }
    if (optind != argc) throw UsageError(std::string("unexpected argument '") + argv[optind] + "'");
    if (output.empty()) throw UsageError("pack needs -o OUT");
    std::optional<FirmwareImageTag> tag;
    if (imageBuild) {
        if (identity.version.empty()) throw UsageError("--image-build needs -V VERSION");
        auto firmware = [](const auto& image) { return image.first == birdFirmwareImage; };
        if (std::none_of(images.begin(), images.end(), firmware))
            throw UsageError("--image-build needs a firmware image");
        tag = FirmwareImageTag{packedVersion(identity.version), *imageBuild};
    }

    BirdWriter writer;
    try {
        if (withIdentity) writer.addIdentity(identity);
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }
    if (withLocations) writer.addSerialLocations(serialLocation, descriptorLocation);
    if (withStart) writer.addStartAddress(start);
    for (const auto& [type, spec] : images) {
        bool tagged = tag && type == birdFirmwareImage;
        addImage(writer, type, spec, tagged ? tag : std::nullopt);
        if (tagged) tag.reset(); // the first firmware image only
    }
    writer.writeFile(output, level);
    return 0;
}

std::vector<std::string>& loaderLines() {
    static std::vector<std::string> lines;
    return lines;
}

void collectLine(uint32, const char* line) {
    loaderLines().push_back(line);
}

int info(int argc, char** argv) {
    static const option options[] = {{"verbose", no_argument, nullptr, 'v'},
                                     {"help", no_argument, nullptr, 'h'},
                                     {nullptr, 0, nullptr, 0}};
    bool verbose = false;
    int c;
    while ((c = getopt_long(argc, argv, "+vh", options, nullptr)) != -1) {
        if (c == 'v')
            verbose = true;
        else if (c == 'h') {
            printHelp();
            return 0;
        } else
            throw UsageError("");
    }
    if (argc - optind != 1) throw UsageError("info takes one FILE");
    const std::string path = argv[optind];

    setBirdLogSink(&collectLine);
    auto flushLog = [&](bool always) {
        if (verbose || always)
            for (const std::string& line : loaderLines())
                std::fputs(line.c_str(), stderr);
        loaderLines().clear();
    };
    if (!isBirdFile(path)) {
        flushLog(true);
        std::fprintf(stderr, "birdtool: %s is not a BIRD file\n", path.c_str());
        return exitFailure;
    }
    BirdFile file;
    try {
        file = BirdFile(path);
    } catch (const std::runtime_error& e) {
        flushLog(true);
        std::fprintf(stderr, "birdtool: %s: %s\n", path.c_str(), e.what());
        return exitFailure;
    }
    flushLog(false);

    std::printf("File:              %s\n", file.filename().c_str());
    char magic[5];
    for (int i = 0; i < 4; ++i) {
        char c = char(file.magic() >> (24 - 8 * i));
        magic[i] = std::isprint(static_cast<unsigned char>(c)) ? c : '.';
    }
    magic[4] = '\0';
    std::printf("Magic:             %08X (%s)\n", file.magic(), magic);
    std::printf("Format:            %u.%u\n", unsigned(file.format() >> 8), unsigned(file.format() & 0xFF));
    std::printf("Body:              %zu bytes\n", file.bodyLength());
    std::printf("Checksum:          %08X\n", file.checksum());
    for (const std::string& line : birdSummary(file))
        std::printf("%s\n", line.c_str());
    flushLog(false);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(usageText, stderr);
        return exitUsage;
    }
    const std::string command = argv[1];
    try {
        if (command == "-h" || command == "--help" || command == "help") {
            printHelp();
            return 0;
        }
        // The subcommand's own options start after its name.
        if (command == "info") return info(argc - 1, argv + 1);
        if (command == "pack") return pack(argc - 1, argv + 1);
        if (command == "keygen") return keygenCommand(argc - 1, argv + 1);
        if (command == "sign") return signCommand(argc - 1, argv + 1);
        if (command == "verify") return verifyCommand(argc - 1, argv + 1);
        throw UsageError("unknown command '" + command + "'");
    } catch (const UsageError& e) {
        if (*e.what()) std::fprintf(stderr, "birdtool: %s\n", e.what());
        std::fputs("Run 'birdtool --help' for usage.\n", stderr);
        return exitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "birdtool: %s\n", e.what());
        return exitFailure;
    }
}
