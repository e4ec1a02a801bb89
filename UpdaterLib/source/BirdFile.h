// A loaded BIRD firmware file: its header, its typed blocks, the identity of the
// build (version, target serial number, model name) and the serial-number patch.
//
// Loading reads the whole file, inflates its body into memory and parses the block
// list; the blocks handed out are views into that body. The file on disk is never
// written. Diagnostic lines go to the sink of BirdLog.h.
#ifndef UPDATERLIB_BIRDFILE_H
#define UPDATERLIB_BIRDFILE_H

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BirdBlock.h"
#include "aDefs.h"

// True when the file at path is a regular file that starts with "bird" and two
// non-zero format bytes. Nothing else is opened (a FIFO would wait for a writer).
bool isBirdFile(const std::string& path);
// The same check on a file image in memory.
bool isBirdHeader(const uint8* data, size_t size);

class BirdFile {
  public:
    // Largest inflated body accepted; anything bigger fails as a decompression error.
    static constexpr size_t maxBodySize = size_t(64) << 20;
    // Longest file that can hold such a body: stored deflate blocks add five bytes per
    // 64 KiB; header, zlib framing and slack stay well under 64 KiB.
    static constexpr size_t maxFileSize = maxBodySize + maxBodySize / 8192 + (size_t(64) << 10);

    // An empty file: no path, no blocks, block count 0.
    BirdFile() = default;

    // Loads the regular file at path. Throws std::runtime_error("Failed to load bird data")
    // when it cannot be read or its body does not inflate.
    explicit BirdFile(const std::string& path);

    // Loads a file image already in memory; name stands in for the path. Throws as
    // the path constructor does.
    static BirdFile fromMemory(const std::string& name, const uint8* data, size_t size);

    BirdFile(const BirdFile&) = delete;
    BirdFile& operator=(const BirdFile&) = delete;
    // The body changes owner; the source is left empty.
    BirdFile(BirdFile&& other) noexcept;
    BirdFile& operator=(BirdFile&& other) noexcept;
    ~BirdFile() = default;

    const std::string& filename() const { return mFilename; }
    // Bytes 0-3 and 4-5 of the file, big-endian.
    uint32 magic() const { return mMagic; }
    uint16 format() const { return mFormat; }
    // The body's last four bytes; kept for display only.
    uint32 checksum() const { return mChecksum; }
    int32 blockCount() const { return mBlockCount; }

    // Every block, in file order.
    const std::vector<BirdBlock>& blocks() const { return mBlocks; }
    // Copies of the blocks of one type, in file order.
    std::vector<BirdBlock> blocksOfType(uint8 type) const;

    // From the first serial-number locations block; 0 when none.
    bool hasSerialLocations() const { return mHasSerialLocations; }
    uint32 serialLocation() const { return mSerialLocation; }
    uint32 descriptorLocation() const { return mDescriptorLocation; }

    // The first identity record; one shorter than 64 bytes counts as absent.
    bool hasIdentity() const { return mIdentity != nullptr; }
    // Its free first text field, trailing spaces removed ("" without a record).
    std::string description() const;
    // Its version text up to the first space ("" without a record).
    std::string version() const;
    // The serial number of the module the build was made for (0 without a record).
    uint32 targetSerialNumber() const;
    bool matchesSerialNumber(uint32 serialNumber) const { return serialNumber == targetSerialNumber(); }
    // Its model name, trailing spaces removed ("" without a record).
    std::string modelName() const;
    // True when name is a prefix of the file's model name; false without a record.
    bool matchesModelName(const std::string& name) const;

    // Execution address of the first start-address block, if there is one.
    std::optional<uint32> startAddress() const;

    // Writes serial into every firmware image at the serial-number location (32-bit
    // little-endian) and the descriptor location (eight hex digits in UTF-16LE low
    // bytes). True when at least one write happened.
    bool patchSerialNumber(uint32 serial);

    // The inflated body.
    const uint8* body() const { return mBody.get(); }
    size_t bodyLength() const { return mBodyLength; }

  private:
    struct FreeDeleter {
        void operator()(uint8* p) const { std::free(p); }
    };

    void load();
    void loadBytes(const uint8* data, size_t size);
    void inflateBody(const uint8* compressed, size_t length);
    void parseBlocks();
    void readSerialLocations();
    void findIdentity();
    std::string trimmedField(size_t offset) const;
    void swap(BirdFile& other) noexcept;

    std::string mFilename;
    uint32 mMagic = 0;
    uint16 mFormat = 0;
    uint32 mChecksum = 0;
    int32 mBlockCount = 0;
    std::vector<BirdBlock> mBlocks;
    bool mHasSerialLocations = false;
    uint32 mSerialLocation = 0;
    uint32 mDescriptorLocation = 0;
    const uint8* mIdentity = nullptr; // payload of the first full identity record
    std::unique_ptr<uint8, FreeDeleter> mBody;
    size_t mBodyLength = 0;
};

#endif
