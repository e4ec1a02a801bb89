#include "BirdBytes.h"

#include <vector>

#include "BirdWriter.h"

std::string birdFileBytes(const std::string& version, uint32_t targetSerial, const std::string& model,
                          size_t imageSize) {
    BirdWriter writer;
    writer.addIdentity(version, targetSerial, model);
    // Files of different versions differ in their image too.
    writer.addFirmwareImage(0x1000, std::vector<uint8>(imageSize, static_cast<uint8>(version.size())));
    const std::vector<uint8> bytes = writer.file();
    return std::string(bytes.begin(), bytes.end());
}
