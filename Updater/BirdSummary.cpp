#include "BirdSummary.h"

#include <cstdio>

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
        char line[128];
        snprintf(line, sizeof line, "  %-4d %-5u %-6u %-11u %-11s %s", ++index, unsigned(block.type),
                 unsigned(block.flags), block.length, address, birdBlockKind(block.type));
        lines.emplace_back(line);
    }
    return lines;
}
