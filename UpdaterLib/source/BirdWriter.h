// Builds BIRD firmware files: the header, then the block list deflated as one zlib
// stream. Used by the packing tool and by tests that need files of any shape.
#ifndef UPDATERLIB_BIRDWRITER_H
#define UPDATERLIB_BIRDWRITER_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "BirdBlock.h"
#include "aDefs.h"

// The four text fields of an identity record, each at most 16 characters (padded
// with spaces when written).
struct BirdIdentity {
    std::string first; // free text, shown only in the log
    std::string version;
    std::string serial; // the first 8 characters are read as hexadecimal
    std::string model;
};

class BirdWriter {
  public:
    // Blocks appear in the file in the order they are added.
    void addBlock(uint8 type, uint8 flags, std::vector<uint8> payload);
    void addLoaderImage(uint32 address, const std::vector<uint8>& image, uint8 flags = 0);
    void addFirmwareImage(uint32 address, const std::vector<uint8>& image, uint8 flags = 0);
    void addSerialLocations(uint32 serialLocation, uint32 descriptorLocation);
    // Throws std::invalid_argument when a field is longer than 16 characters.
    void addIdentity(const BirdIdentity& identity);
    // An identity whose serial field holds serial as eight upper-case hex digits.
    void addIdentity(const std::string& version, uint32 targetSerial, const std::string& model);
    void addStartAddress(uint32 address);

    // The count written in front of the blocks; by default the number of blocks.
    void setReportedCount(uint32 count) { mReportedCount = count; }
    // The trailing checksum; by default the CRC-32 of everything before it.
    void setChecksum(uint32 checksum) { mChecksum = checksum; }

    // The inflated body: count, blocks, checksum.
    std::vector<uint8> body() const;
    // The whole file, its body deflated at the given zlib level (0-9).
    std::vector<uint8> file(int level = 9) const;
    // Writes file() to path; throws std::runtime_error naming the path on failure.
    void writeFile(const std::string& path, int level = 9) const;

  private:
    void addImage(uint8 type, uint32 address, const std::vector<uint8>& image, uint8 flags);

    struct Block {
        uint8 type;
        uint8 flags;
        std::vector<uint8> payload;
    };
    std::vector<Block> mBlocks;
    std::optional<uint32> mReportedCount;
    std::optional<uint32> mChecksum;
};

// Wraps any body (well-formed or not) in a BIRD header and zlib stream.
std::vector<uint8> birdFileFromBody(const std::vector<uint8>& body, int level = 9);

// Writes bytes to path; throws std::runtime_error naming the path on failure.
void writeBirdBytes(const std::string& path, const std::vector<uint8>& bytes);

#endif
