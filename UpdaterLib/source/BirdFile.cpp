#include "BirdFile.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "BirdFormat.h"
#include "BirdLog.h"
#include "LargeBuffer.h"
#include "aFile.h"

using namespace birdFormat;

namespace {

const char* const sLoadFailure = "Failed to load bird data";

[[noreturn]] void sFail() {
    throw std::runtime_error(sLoadFailure);
}

// Closes the file on every path out of the loader.
struct FileCloser {
    aFile* file;
    ~FileCloser() {
        if (file) aFile_Close(&file);
    }
};

void sLogDecompressError(int zlibResult) {
    birdLog("BIRDFILE: Error (%d) decompressing bird file.\n", zlibResult);
}

// Hexadecimal digits after optional white space and "0x"; stops at the first other
// character. No digits give 0.
uint32 sParseHex(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
    uint32 value = 0;
    for (;; ++text) {
        char c = *text;
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        value = (value << 4) | uint32(digit);
    }
    return value;
}

// An identity field as a NUL-terminated text.
struct IdentityField {
    char text[identityFieldSize + 1];
    IdentityField(const uint8* identity, size_t offset, size_t length = identityFieldSize) {
        std::memcpy(text, identity + offset, length);
        text[length] = '\0';
    }
};

} // namespace

namespace {

// Opens path for reading when it names a regular file. Opening a FIFO waits for a
// writer, and a device or directory holds no firmware: those are not opened at all.
aFile* sOpenRegular(const char* path) {
    struct stat status;
    if (::stat(path, &status) != 0 || !S_ISREG(status.st_mode)) return nullptr;
    return aFile_Open(path, aFileModeRead);
}

} // namespace

bool isBirdHeader(const uint8* data, size_t size) {
    return data && size >= headerSize && std::memcmp(data, magic, sizeof magic) == 0 && data[4] != 0 &&
           data[5] != 0;
}

bool isBirdFile(const std::string& path) {
    aFile* file = sOpenRegular(path.c_str());
    if (!file) {
        birdLog("BIRDFILE: Error - cannot open bird file: '%s'\n", path.c_str());
        return false;
    }
    FileCloser closer{file};
    uint8 header[headerSize];
    uint32 got = 0;
    if (aFile_Read(file, header, sizeof header, &got) != aErrNone) return false;
    return isBirdHeader(header, got);
}

BirdFile::BirdFile(const std::string& path) : mFilename(path) {
    load();
}

BirdFile BirdFile::fromMemory(const std::string& name, const uint8* data, size_t size) {
    BirdFile file;
    file.mFilename = name;
    file.loadBytes(data, size);
    return file;
}

BirdFile::BirdFile(BirdFile&& other) noexcept {
    swap(other);
}

BirdFile& BirdFile::operator=(BirdFile&& other) noexcept {
    BirdFile taken(std::move(other));
    swap(taken);
    return *this;
}

void BirdFile::swap(BirdFile& other) noexcept {
    std::swap(mFilename, other.mFilename);
    std::swap(mMagic, other.mMagic);
    std::swap(mFormat, other.mFormat);
    std::swap(mChecksum, other.mChecksum);
    std::swap(mBlockCount, other.mBlockCount);
    std::swap(mBlocks, other.mBlocks);
    std::swap(mHasSerialLocations, other.mHasSerialLocations);
    std::swap(mSerialLocation, other.mSerialLocation);
    std::swap(mDescriptorLocation, other.mDescriptorLocation);
    std::swap(mIdentity, other.mIdentity);
    std::swap(mBody, other.mBody);
    std::swap(mBodyLength, other.mBodyLength);
}

void BirdFile::load() {
    const char* path = mFilename.c_str();
    birdLog("BIRDFILE: Loading File [%s]\n", path);
    if (!aFile_Exists(path)) {
        birdLog("BIRDFILE: BIRD file not found [%s]\n", path);
        sFail();
    }
    FileCloser closer{sOpenRegular(path)};
    if (!closer.file) {
        birdLog("BIRDFILE: Error - cannot open bird file: '%s'\n", path);
        sFail();
    }
    uint32 size = 0;
    aErr err = aFile_GetSize(closer.file, &size);
    if (err != aErrNone) {
        birdLog("BIRDFILE: Error (%d) getting bird file size from %s\n", err, path);
        sFail();
    }
    if (size > maxFileSize) {
        // No zlib stream this long inflates to a body within the limit.
        sLogDecompressError(Z_BUF_ERROR);
        sFail();
    }
    std::unique_ptr<uint8[]> contents(new (std::nothrow) uint8[size ? size : 1]);
    if (!contents) {
        sLogDecompressError(Z_MEM_ERROR);
        sFail();
    }
    uint32 got = 0;
    err = aFile_Read(closer.file, contents.get(), size, &got);
    if (err != aErrNone) {
        birdLog("BIRDFILE: Error (%d) reading %s\n", err, path);
        sFail();
    }
    if (got < size) {
        birdLog("BIRDFILE: Error reading %s read %zu bytes of %zu byte file\n", path, size_t(got),
                size_t(size));
        sFail();
    }
    loadBytes(contents.get(), size);
}

void BirdFile::loadBytes(const uint8* data, size_t size) {
    if (size > headerSize) {
        mMagic = readBE32(data);
        mFormat = uint16((data[4] << 8) | data[5]);
    }
    inflateBody(data + std::min(size, headerSize), size > headerSize ? size - headerSize : 0);
    parseBlocks();
    readSerialLocations();
    findIdentity();
}

// Streams the whole zlib body into a buffer that grows as needed, up to maxBodySize.
// Failures carry zlib's codes: a truncated stream is a data error, too large a body a
// buffer error, as zlib's one-shot uncompress reports them.
void BirdFile::inflateBody(const uint8* compressed, size_t length) {
    mBodyLength = 0;
    if (length > maxFileSize - headerSize) {
        sLogDecompressError(Z_BUF_ERROR);
        sFail();
    }
    if (length == 0) {
        // Nothing to inflate: no body is allocated.
        sLogDecompressError(Z_BUF_ERROR);
        sFail();
    }
    z_stream stream{};
    int result = inflateInit(&stream);
    if (result != Z_OK) {
        sLogDecompressError(result);
        sFail();
    }
    struct StreamEnd {
        z_stream* stream;
        ~StreamEnd() { inflateEnd(stream); }
    } streamEnd{&stream};

    // Code compresses about two times over, erased flash far more. Start at twice the
    // input and double (large blocks grow in place), keeping one byte past the limit
    // to notice a body over it.
    const size_t limit = maxBodySize + 1;
    size_t capacity = std::min(length * 2 + (size_t(64) << 10), limit);
    std::unique_ptr<uint8, FreeDeleter> body(static_cast<uint8*>(std::malloc(capacity)));
    if (!body) {
        sLogDecompressError(Z_MEM_ERROR);
        sFail();
    }
    adviseLargeBuffer(body.get(), capacity);
    stream.next_in = const_cast<Bytef*>(compressed);
    stream.avail_in = uInt(length);
    size_t produced = 0;
    for (;;) {
        stream.next_out = body.get() + produced;
        stream.avail_out = uInt(capacity - produced);
        result = inflate(&stream, Z_FINISH);
        produced = capacity - stream.avail_out;
        if (result == Z_STREAM_END) break;
        if (result == Z_NEED_DICT) result = Z_DATA_ERROR;
        if (result != Z_OK && result != Z_BUF_ERROR) {
            sLogDecompressError(result);
            sFail();
        }
        if (stream.avail_out != 0) {
            // Output room left but no stream end: the input ran out.
            sLogDecompressError(Z_DATA_ERROR);
            sFail();
        }
        if (capacity == limit) {
            sLogDecompressError(Z_BUF_ERROR);
            sFail();
        }
        capacity = std::min(capacity * 2, limit);
        uint8* grown = static_cast<uint8*>(std::realloc(body.get(), capacity));
        if (!grown) {
            sLogDecompressError(Z_MEM_ERROR);
            sFail();
        }
        body.release();
        body.reset(grown);
    }
    if (produced > maxBodySize) {
        sLogDecompressError(Z_BUF_ERROR);
        sFail();
    }
    if (produced > 0 && capacity - produced > capacity / 4) {
        // Give back a large unused tail: the body lives as long as the file. A small
        // one is kept, so repeated loads of like files reuse the same allocation.
        if (uint8* fitted = static_cast<uint8*>(std::realloc(body.get(), produced))) {
            body.release();
            body.reset(fitted);
        }
    }
    mBody = std::move(body);
    mBodyLength = produced;
}

// Walks the block list. Inconsistencies are logged, never fatal: the blocks read so
// far stay usable. A block that runs past the end of the body ends the walk.
void BirdFile::parseBlocks() {
    const uint8* body = mBody.get();
    const uint32 reported = mBodyLength >= countSize ? readBE32(body) : 0;
    birdLog("BIRDFILE:\t\t File reports %d blocks\n", int(reported));
    birdLog("BIRDFILE: Bird file objects:\n");
    birdLog("BIRDFILE: \t\tType Flags Length\n");

    mBlocks.clear();
    int64 remaining = int64(mBodyLength) - int64(countSize);
    size_t position = countSize;
    while (remaining > int64(checksumSize)) {
        const uint8* header = body + position;
        BirdBlock block;
        block.type = descriptorType(header[0]);
        block.flags = descriptorFlags(header[0]);
        block.length = readBE32(header + 1);
        if (int64(block.length) > remaining - int64(blockHeaderSize)) {
            birdLog("BIRDFILE: Block of %u bytes runs past the end of the data.\n", block.length);
            break;
        }
        remaining -= int64(blockHeaderSize);
        block.payload = header + blockHeaderSize;
        if (block.isImage() && block.length >= addressSize) block.address = readBE32(block.payload);
        birdLog("BIRDFILE:\t\t %02X   %02X   %d\n", block.type, block.flags, int(block.length));
        if (block.type == birdIdentity) {
            for (size_t field = 0; field + identityFieldSize <= std::min<size_t>(block.length, identitySize);
                 field += identityFieldSize)
                birdLog("BIRDFILE:\t\t \t[%16.16s]\n", reinterpret_cast<const char*>(block.payload + field));
        }
        mBlocks.push_back(block);
        position += blockHeaderSize + block.length;
        remaining -= int64(block.length);
    }
    mBlockCount = int32(mBlocks.size());

    mChecksum = mBodyLength >= checksumSize ? readBE32(body + mBodyLength - checksumSize) : 0;
    birdLog("BIRDFILE:\t\t File checksum %08X\n", mChecksum);
    if (remaining != int64(checksumSize))
        birdLog("BIRDFILE: Block parsing mismatch in data size. (%d bytes remaining)\n",
                int(remaining - int64(checksumSize)));
    if (mBlocks.size() != reported)
        birdLog("BIRDFILE: Block parsing mismatch in number of blocks. (%d != %d)\n", mBlockCount,
                int(reported));
}

// Only the first locations block counts; one too short to hold both locations is
// treated as absent.
void BirdFile::readSerialLocations() {
    for (const BirdBlock& block : mBlocks) {
        if (block.type != birdSerialLocations) continue;
        if (block.length < locationsSize) return;
        mSerialLocation = readBE32(block.payload);
        mDescriptorLocation = readBE32(block.payload + 4);
        mHasSerialLocations = true;
        birdLog("BIRDFILE: Offsets: Serial number: %d, Descriptor: %d\n", int(mSerialLocation),
                int(mDescriptorLocation));
        return;
    }
}

// Only the first identity record counts; a short one is treated as absent.
void BirdFile::findIdentity() {
    for (const BirdBlock& block : mBlocks) {
        if (block.type != birdIdentity) continue;
        if (block.length >= identitySize) mIdentity = block.payload;
        return;
    }
}

std::vector<BirdBlock> BirdFile::blocksOfType(uint8 type) const {
    std::vector<BirdBlock> matching;
    for (const BirdBlock& block : mBlocks)
        if (block.type == type) matching.push_back(block);
    return matching;
}

std::string BirdFile::version() const {
    if (!mIdentity) return "";
    IdentityField field(mIdentity, identityVersionField);
    return std::string(field.text, std::strcspn(field.text, " "));
}

uint32 BirdFile::targetSerialNumber() const {
    if (!mIdentity) return 0;
    return sParseHex(IdentityField(mIdentity, identitySerialField, identitySerialDigits).text);
}

// A field as a text with its trailing spaces removed ("" without a record).
std::string BirdFile::trimmedField(size_t offset) const {
    if (!mIdentity) return "";
    IdentityField field(mIdentity, offset);
    for (size_t i = identityFieldSize; i > 0 && field.text[i - 1] == ' '; --i)
        field.text[i - 1] = '\0';
    return field.text;
}

std::string BirdFile::description() const {
    return trimmedField(identityFirstField);
}

std::string BirdFile::modelName() const {
    return trimmedField(identityModelField);
}

bool BirdFile::matchesModelName(const std::string& name) const {
    if (!mIdentity) return false;
    const std::string fileName = modelName();
    if (std::strncmp(fileName.c_str(), name.c_str(), std::strlen(name.c_str())) != 0) return false;
    birdLog("Model matches model number ([%s] == [%s])\n", fileName.c_str(), name.c_str());
    return true;
}

std::optional<uint32> BirdFile::startAddress() const {
    for (const BirdBlock& block : mBlocks) {
        if (block.type != birdStartAddress) continue;
        if (block.length < startAddressSize) return std::nullopt;
        return readBE32(block.payload);
    }
    return std::nullopt;
}

bool BirdFile::patchSerialNumber(uint32 serial) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", serial);
    bool written = false;
    // A location is an address in the image; one below the block's address would
    // land in the address bytes in front of the image, so it does not count.
    for (const BirdBlock& block : mBlocks) {
        if (block.type != birdFirmwareImage) continue;
        uint8* payload = mBody.get() + (block.payload - mBody.get());
        const int64 length = block.length;
        if (mSerialLocation != 0) {
            int64 offset = int64(mSerialLocation) - int64(block.address) + int64(addressSize);
            if (offset >= int64(addressSize) && offset + 4 <= length) {
                uint8* at = payload + offset;
                uint32 old =
                    uint32(at[0]) | (uint32(at[1]) << 8) | (uint32(at[2]) << 16) | (uint32(at[3]) << 24);
                birdLog("BIRDFILE: updating serial number from %08X ==> %08X\n", old, serial);
                for (int i = 0; i < 4; ++i)
                    at[i] = uint8(serial >> (8 * i));
                written = true;
            }
        }
        if (mDescriptorLocation != 0) {
            // The firmware keeps its USB serial string as UTF-16LE: only the low bytes change.
            int64 offset = int64(mDescriptorLocation) - int64(block.address) + int64(addressSize);
            if (offset >= int64(addressSize) && offset + 16 <= length) {
                for (int i = 0; i < 8; ++i)
                    payload[offset + 2 * i] = uint8(digits[i]);
                written = true;
            }
        }
    }
    return written;
}
