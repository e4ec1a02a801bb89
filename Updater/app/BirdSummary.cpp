#include "BirdSummary.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "aDefs.h"

namespace {

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

std::string format(const char* pattern, ...) {
    char line[512];
    va_list arguments;
    va_start(arguments, pattern);
    vsnprintf(line, sizeof line, pattern, arguments);
    va_end(arguments);
    return line;
}

// The module models whose name the file's identity accepts, as "NAME (N), ...".
std::string fittingModels(const BirdFile& file) {
    std::string fits;
    for (uint32 model = 0; model < 256; ++model) {
        const char* name = aDefs_GetModelName(model);
        if (std::strcmp(name, "Unknown") != 0 && file.matchesModelName(name))
            fits += (fits.empty() ? "" : ", ") + std::string(name) + " (" + std::to_string(model) + ")";
    }
    return fits.empty() ? "none" : fits;
}

void addIdentity(const BirdFile& file, std::vector<std::string>& lines) {
    if (!file.hasIdentity()) {
        lines.push_back("Identity:          none");
        return;
    }
    lines.push_back("Identity:");
    lines.push_back("  Description:     " + file.description());
    lines.push_back("  Version:         " + file.version());
    lines.push_back(format("  Target serial:   %08X", file.targetSerialNumber()));
    lines.push_back("  Model name:      " + file.modelName());
    lines.push_back("  Fits models:     " + fittingModels(file));
}

} // namespace

const char* birdBlockKind(uint8 type) {
    switch (type) {
    case birdLoaderImage:
        return "loader image";
    case birdFirmwareImage:
        return "firmware image";
    case birdSerialLocations:
        return "serial locations";
    case birdIdentity:
        return "identity";
    case birdStartAddress:
        return "start address";
    default:
        return "unknown";
    }
}

std::vector<std::string> birdBlockTable(const BirdFile& file) {
    std::vector<std::string> lines{"  #    Type  Flags  Length      Address     Kind"};
    int index = 0;
    for (const BirdBlock& block : file.blocks()) {
        char address[16] = "-";
        if (block.isImage()) snprintf(address, sizeof address, "0x%08X", block.address);
        lines.push_back(format("  %-4d %-5u %-6u %-11u %-11s %s", ++index, unsigned(block.type),
                               unsigned(block.flags), block.length, address, birdBlockKind(block.type)));
    }
    return lines;
}

std::vector<std::string> birdSummary(const BirdFile& file) {
    std::vector<std::string> lines;
    addIdentity(file, lines);
    if (file.hasSerialLocations())
        lines.push_back(format("Serial locations:  serial number 0x%08X, descriptor 0x%08X",
                               file.serialLocation(), file.descriptorLocation()));
    else
        lines.push_back("Serial locations:  none");
    if (const std::optional<uint32> start = file.startAddress())
        lines.push_back(format("Start address:     0x%08X", *start));
    else
        lines.push_back("Start address:     none");
    lines.push_back(format("Blocks:            %d", file.blockCount()));
    for (std::string& line : birdBlockTable(file))
        lines.push_back(std::move(line));
    return lines;
}
