// Fuzzes BIRD loading: the input is either a whole file or, to reach the block
// parser past zlib's checks, a body that is deflated and wrapped first.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "BirdFile.h"
#include "BirdWriter.h"

static void exercise(BirdFile& file) {
    for (uint8 type = 0; type < 8; ++type)
        for (const BirdBlock& block : file.blocksOfType(type)) {
            volatile uint8 sink = 0;
            if (block.length) sink = block.payload[block.length - 1];
            if (block.imageLength()) sink = block.image()[block.imageLength() - 1];
            (void)sink;
        }
    (void)file.version();
    (void)file.description();
    (void)file.targetSerialNumber();
    (void)file.matchesModelName("VT-Hub4");
    (void)file.matchesModelName("");
    (void)file.startAddress();
    file.patchSerialNumber(0x40F5849A);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    try {
        if (data[0] & 1) {
            BirdFile file = BirdFile::fromMemory("fuzz", data + 1, size - 1);
            exercise(file);
        } else {
            std::vector<uint8> body(data + 1, data + size);
            std::vector<uint8> image = birdFileFromBody(body, 1);
            BirdFile file = BirdFile::fromMemory("fuzz", image.data(), image.size());
            exercise(file);
        }
    } catch (const std::runtime_error&) {
    }
    return 0;
}
