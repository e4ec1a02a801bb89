// Files that do not load, and damaged block lists that load with a logged mismatch.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "BirdFile.h"
#include "BirdTestSupport.h"
#include "BirdWriter.h"
#include "TempDir.h"

namespace {

std::string header() {
    return std::string("bird\x01\x01", 6);
}

std::string asText(const std::vector<uint8>& v) {
    return std::string(v.begin(), v.end());
}

// Expects loading path to fail with the load error and the given log line.
void expectLoadFailure(const std::string& path, const std::string& line) {
    BirdTestLog log;
    try {
        BirdFile f(path);
        ADD_FAILURE() << "loaded " << path;
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Failed to load bird data");
    }
    EXPECT_TRUE(log.contains(line)) << line << "\nin\n" << log.all();
}

std::string decompressError(int code) {
    return "BIRDFILE: Error (" + std::to_string(code) + ") decompressing bird file.\n";
}

// A zlib stream of: prefix, then `zeros` zero bytes, then suffix; deflated piecewise
// so no buffer of the inflated size is ever held.
std::string deflateWithZeros(const std::vector<uint8>& prefix, size_t zeros,
                             const std::vector<uint8>& suffix) {
    z_stream s{};
    EXPECT_EQ(deflateInit(&s, 9), Z_OK);
    std::string out;
    std::vector<uint8> chunk(1 << 20);
    std::vector<uint8> zero(1 << 20, 0);
    auto feed = [&](const uint8* data, size_t length, int flush) {
        s.next_in = const_cast<uint8*>(data);
        s.avail_in = uInt(length);
        do {
            s.next_out = chunk.data();
            s.avail_out = uInt(chunk.size());
            deflate(&s, flush);
            out.append(chunk.begin(), chunk.end() - s.avail_out);
        } while (s.avail_out == 0);
    };
    feed(prefix.data(), prefix.size(), Z_NO_FLUSH);
    for (size_t left = zeros; left > 0;) {
        size_t n = std::min(left, zero.size());
        feed(zero.data(), n, Z_NO_FLUSH);
        left -= n;
    }
    feed(suffix.data(), suffix.size(), Z_FINISH);
    deflateEnd(&s);
    return out;
}

// A body of exactly `size` bytes holding one firmware block of zeros.
std::string fileOfBodySize(size_t size) {
    std::vector<uint8> prefix;
    appendBE32(prefix, 1);
    appendBlock(prefix, 1, uint32(size - 13), {});
    std::vector<uint8> checksum = {0, 0, 0, 0};
    return header() + deflateWithZeros(prefix, size - 13, checksum);
}

} // namespace

TEST(BirdLoadFailure, MissingFile) {
    TempDir dir;
    expectLoadFailure(dir / "none.bird", "BIRDFILE: BIRD file not found [" + (dir / "none.bird") + "]\n");
    expectLoadFailure(dir.path(), "BIRDFILE: BIRD file not found [" + dir.path() + "]\n");
}

TEST(BirdLoadFailure, PathTooLongToOpen) {
    TempDir dir;
    std::string deep = dir.path();
    while (deep.size() < 300)
        deep += "/" + std::string(40, 'd');
    std::filesystem::create_directories(deep);
    std::string path = deep + "/f.bird";
    BirdWriter w;
    w.writeFile(path);
    expectLoadFailure(path, "BIRDFILE: Error - cannot open bird file: '" + path + "'\n");
}

// Nothing after the header, or not a single byte of it, never reaches zlib.
TEST(BirdLoadFailure, SixBytesOrFewerIsADecompressionError) {
    TempDir dir;
    std::string full = header();
    for (size_t n = 0; n <= 6; ++n)
        expectLoadFailure(dir.write("short", full.substr(0, n)), decompressError(Z_BUF_ERROR));
}

TEST(BirdLoadFailure, BrokenZlibStreams) {
    TempDir dir;
    BirdWriter w;
    w.addIdentity("1.0", 1, "M");
    w.addFirmwareImage(0, std::vector<uint8>(5000, 0x5A));
    std::string good = asText(w.file());

    std::string badAdler = good;
    badAdler.back() ^= 0x01;
    std::string badHeader = good;
    badHeader[6] = 0x79; // not a zlib header
    // A stream that asks for a preset dictionary (FDICT set, valid check bits).
    std::string dictionary = header() + std::string("\x78\xbb\x00\x00\x00\x01\x03\x00", 8);

    struct Case {
        const char* what;
        std::string content;
        int code;
    } cases[] = {
        {"seven bytes, no zlib stream", header() + "x", Z_DATA_ERROR},
        {"truncated stream", good.substr(0, good.size() / 2), Z_DATA_ERROR},
        {"header only of the stream", good.substr(0, 8), Z_DATA_ERROR},
        {"wrong Adler-32 trailer", badAdler, Z_DATA_ERROR},
        {"not a zlib header", badHeader, Z_DATA_ERROR},
        {"preset dictionary", dictionary, Z_DATA_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expectLoadFailure(dir.write("bad.bird", c.content), decompressError(c.code));
    }
}

TEST(BirdLoadFailure, HeaderIsNotCheckedByTheLoader) {
    TempDir dir;
    BirdWriter w;
    w.addIdentity("7.7", 3, "M");
    std::string content = asText(w.file());
    content.replace(0, 6, std::string("XYZW\x00\x00", 6));
    BirdFile f(dir.write("odd.bird", content));
    EXPECT_EQ(f.magic(), 0x58595A57u);
    EXPECT_EQ(f.format(), 0u);
    EXPECT_EQ(f.version(), "7.7");
    EXPECT_FALSE(isBirdFile(f.filename()));
}

// Padding with 0xFF compresses far beyond 8:1; the whole body must still inflate.
TEST(BirdLoadLimits, MegabyteOfErasedFlashLoads) {
    TempDir dir;
    BirdWriter w;
    w.addFirmwareImage(0x10000, std::vector<uint8>(1 << 20, 0xFF));
    std::string path = dir / "ff.bird";
    w.writeFile(path);
    ASSERT_LT(std::filesystem::file_size(path) * 100, size_t(1) << 20) << "compresses better than 100:1";
    BirdFile f(path);
    ASSERT_EQ(f.blockCount(), 1);
    BirdBlock b = f.blocks()[0];
    EXPECT_EQ(b.imageLength(), 1u << 20);
    EXPECT_EQ(std::vector<uint8>(b.image(), b.image() + b.imageLength()), std::vector<uint8>(1 << 20, 0xFF));
}

TEST(BirdLoadLimits, BodyUpToTheCapLoadsOneMoreByteFails) {
    TempDir dir;
    {
        BirdFile f(dir.write("cap.bird", fileOfBodySize(BirdFile::maxBodySize)));
        EXPECT_EQ(f.bodyLength(), BirdFile::maxBodySize);
        ASSERT_EQ(f.blockCount(), 1);
        EXPECT_EQ(f.blocks()[0].length, BirdFile::maxBodySize - 13);
    }
    expectLoadFailure(dir.write("over.bird", fileOfBodySize(BirdFile::maxBodySize + 1)),
                      decompressError(Z_BUF_ERROR));
}

// A file longer than any stream inflating within the limit is refused unread.
TEST(BirdLoadLimits, OversizedFileIsRefused) {
    TempDir dir;
    std::string path = dir.write("huge.bird", header() + std::string("\x78\x9c", 2));
    std::filesystem::resize_file(path, BirdFile::maxFileSize + 1); // sparse
    expectLoadFailure(path, decompressError(Z_BUF_ERROR));
}

TEST(BirdBlockList, CountZeroWithOnlyChecksumLoads) {
    TempDir dir;
    std::vector<uint8> body;
    appendBE32(body, 0);
    appendBE32(body, 0x01020304);
    writeBirdBytes(dir / "empty.bird", birdFileFromBody(body));
    BirdTestLog log;
    BirdFile f(dir / "empty.bird");
    EXPECT_EQ(f.blockCount(), 0);
    EXPECT_EQ(f.checksum(), 0x01020304u);
    EXPECT_TRUE(log.contains("BIRDFILE:\t\t File checksum 01020304\n"));
    EXPECT_FALSE(log.containsPrefix("BIRDFILE: Block parsing mismatch"));
}

TEST(BirdBlockList, MismatchesAreLoggedAndTheFileStillLoads) {
    struct Case {
        const char* what;
        std::vector<uint8> body;
        int blocks; // blocks kept
        std::vector<std::string> lines;
    };
    std::vector<Case> cases;
    {
        BirdWriter w;
        w.addStartAddress(1);
        w.addStartAddress(2);
        w.setReportedCount(3);
        cases.push_back({"one block fewer than counted",
                         w.body(),
                         2,
                         {"BIRDFILE: Block parsing mismatch in number of blocks. (2 != 3)\n"}});
    }
    {
        std::vector<uint8> body;
        appendBE32(body, 2);
        appendBlock(body, 5, 4, {0, 0, 0, 9});
        appendBlock(body, 1, 0x7FFFFFF0, {0, 0, 0x10, 0, 1, 2, 3}); // runs far past the end
        appendBE32(body, 0xAABBCCDD);
        cases.push_back({"block length past the end",
                         body,
                         1,
                         {"BIRDFILE: Block parsing mismatch in data size. (12 bytes remaining)\n",
                          "BIRDFILE: Block parsing mismatch in number of blocks. (1 != 2)\n"}});
    }
    {
        std::vector<uint8> body;
        appendBE32(body, 1);
        appendBlock(body, 1, 8, {0, 0, 0, 0, 1, 2, 3, 4});
        body.insert(body.end(), {9, 9}); // checksum two bytes short: the block eats into it
        cases.push_back({"block into the checksum",
                         body,
                         1,
                         {"BIRDFILE: Block parsing mismatch in data size. (-2 bytes remaining)\n"}});
    }
    {
        std::vector<uint8> body;
        appendBE32(body, 1);
        appendBlock(body, 4, 64, std::vector<uint8>(64, 'A'));
        body.insert(body.end(), {1, 2, 3, 4, 5, 6, 7});
        cases.push_back({"trailing bytes after the last block",
                         body,
                         1,
                         {"BIRDFILE: Block parsing mismatch in data size. (3 bytes remaining)\n"}});
    }
    cases.push_back(
        {"empty body", {}, 0, {"BIRDFILE: Block parsing mismatch in data size. (-8 bytes remaining)\n"}});
    cases.push_back({"body shorter than the count",
                     {0, 0},
                     0,
                     {"BIRDFILE: Block parsing mismatch in data size. (-6 bytes remaining)\n"}});

    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeBirdBytes(dir / "m.bird", birdFileFromBody(c.body));
        BirdTestLog log;
        BirdFile f(dir / "m.bird");
        EXPECT_EQ(f.blockCount(), c.blocks);
        for (const BirdBlock& b : f.blocks())
            EXPECT_LE(b.payload + b.length, f.body() + f.bodyLength());
        for (const std::string& line : c.lines)
            EXPECT_TRUE(log.contains(line)) << line << "\nin\n" << log.all();
    }
}

// Image blocks too short to hold their address keep address 0 and an empty image.
TEST(BirdBlockList, ImageBlockShorterThanItsAddress) {
    BirdWriter w;
    w.addBlock(birdFirmwareImage, 2, {0x12, 0x34});
    w.addSerialLocations(4, 4);
    std::vector<uint8> content = w.file();
    BirdFile f = BirdFile::fromMemory("mem", content.data(), content.size());
    ASSERT_EQ(f.blockCount(), 2);
    EXPECT_EQ(f.blocks()[0].address, 0u);
    EXPECT_EQ(f.blocks()[0].imageLength(), 0u);
    EXPECT_EQ(f.blocks()[0].image(), nullptr);
    EXPECT_FALSE(f.patchSerialNumber(1));
}
