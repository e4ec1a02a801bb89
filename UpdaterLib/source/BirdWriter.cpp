#include "BirdWriter.h"

#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <utility>

#include "BirdFormat.h"

using namespace birdFormat;

namespace {

void sAppendBE32(std::vector<uint8>& out, uint32 value) {
    uint8 bytes[4];
    writeBE32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

void sAppendField(std::vector<uint8>& out, const std::string& text, const char* name) {
    if (text.size() > identityFieldSize)
        throw std::invalid_argument(std::string("identity ") + name + " \"" + text + "\" is longer than " +
                                    std::to_string(identityFieldSize) + " characters");
    out.insert(out.end(), text.begin(), text.end());
    out.insert(out.end(), identityFieldSize - text.size(), uint8(' '));
}

} // namespace

void BirdWriter::addBlock(uint8 type, uint8 flags, std::vector<uint8> payload) {
    mBlocks.push_back(Block{type, flags, std::move(payload)});
}

void BirdWriter::addImage(uint8 type, uint32 address, const std::vector<uint8>& image, uint8 flags) {
    std::vector<uint8> payload;
    payload.reserve(addressSize + image.size());
    sAppendBE32(payload, address);
    payload.insert(payload.end(), image.begin(), image.end());
    addBlock(type, flags, std::move(payload));
}

void BirdWriter::addLoaderImage(uint32 address, const std::vector<uint8>& image, uint8 flags) {
    addImage(birdLoaderImage, address, image, flags);
}

void BirdWriter::addFirmwareImage(uint32 address, const std::vector<uint8>& image, uint8 flags) {
    addImage(birdFirmwareImage, address, image, flags);
}

void BirdWriter::addSerialLocations(uint32 serialLocation, uint32 descriptorLocation) {
    std::vector<uint8> payload;
    sAppendBE32(payload, serialLocation);
    sAppendBE32(payload, descriptorLocation);
    addBlock(birdSerialLocations, 0, std::move(payload));
}

void BirdWriter::addIdentity(const BirdIdentity& identity) {
    std::vector<uint8> payload;
    sAppendField(payload, identity.first, "text");
    sAppendField(payload, identity.version, "version");
    sAppendField(payload, identity.serial, "serial number");
    sAppendField(payload, identity.model, "model name");
    addBlock(birdIdentity, 0, std::move(payload));
}

void BirdWriter::addIdentity(const std::string& version, uint32 targetSerial, const std::string& model) {
    char serial[9];
    std::snprintf(serial, sizeof serial, "%08X", targetSerial);
    addIdentity(BirdIdentity{"", version, serial, model});
}

void BirdWriter::addStartAddress(uint32 address) {
    std::vector<uint8> payload;
    sAppendBE32(payload, address);
    addBlock(birdStartAddress, 0, std::move(payload));
}

std::vector<uint8> BirdWriter::body() const {
    size_t total = countSize + checksumSize;
    for (const Block& block : mBlocks)
        total += blockHeaderSize + block.payload.size();
    std::vector<uint8> out;
    out.reserve(total);
    sAppendBE32(out, mReportedCount.value_or(uint32(mBlocks.size())));
    for (const Block& block : mBlocks) {
        out.push_back(descriptor(block.type, block.flags));
        sAppendBE32(out, uint32(block.payload.size()));
        out.insert(out.end(), block.payload.begin(), block.payload.end());
    }
    sAppendBE32(out, mChecksum.value_or(uint32(crc32(0, out.data(), uInt(out.size())))));
    return out;
}

std::vector<uint8> BirdWriter::file(int level) const {
    return birdFileFromBody(body(), level);
}

void BirdWriter::writeFile(const std::string& path, int level) const {
    writeBirdBytes(path, file(level));
}

std::vector<uint8> birdFileFromBody(const std::vector<uint8>& body, int level) {
    uLongf compressedLength = compressBound(uLong(body.size()));
    std::vector<uint8> out(headerSize + compressedLength);
    std::copy(magic, magic + sizeof magic, out.begin());
    out[4] = currentFormat[0];
    out[5] = currentFormat[1];
    int result =
        compress2(out.data() + headerSize, &compressedLength, body.data(), uLong(body.size()), level);
    if (result != Z_OK)
        throw std::runtime_error("cannot compress BIRD body (zlib error " + std::to_string(result) + ")");
    out.resize(headerSize + compressedLength);
    return out;
}

void writeBirdBytes(const std::string& path, const std::vector<uint8>& bytes) {
    // Written beside the target and renamed over it, so a failure never leaves a
    // partial file under the final name.
    std::string temporary = path + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    bool ok = done == bytes.size() && ::fchmod(fd, 0644) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw std::runtime_error("cannot write " + path);
    }
}
