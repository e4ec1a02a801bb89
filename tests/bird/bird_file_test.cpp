// Loading, parsing and identity of BIRD files built by BirdWriter.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "AsNobody.h"
#include "BirdFile.h"
#include "BirdTestSupport.h"
#include "BirdWriter.h"
#include "TempDir.h"

namespace {

std::vector<uint8> bytes(std::initializer_list<int> list) {
    std::vector<uint8> out;
    for (int b : list)
        out.push_back(uint8(b));
    return out;
}

std::vector<uint8> pattern(size_t length, uint8 seed) {
    std::vector<uint8> out(length);
    for (size_t i = 0; i < length; ++i)
        out[i] = uint8(seed + i * 7);
    return out;
}

BirdFile load(const TempDir& dir, const BirdWriter& writer, const std::string& name = "x.bird") {
    std::string path = dir / name;
    writer.writeFile(path);
    return BirdFile(path);
}

BirdFile loadBody(const TempDir& dir, const std::vector<uint8>& body) {
    std::string path = dir / "body.bird";
    writeBirdBytes(path, birdFileFromBody(body));
    return BirdFile(path);
}

} // namespace

TEST(BirdFile, LoadsEveryBlockTypeInFileOrder) {
    TempDir dir;
    BirdTestLog log;
    BirdWriter w;
    std::vector<uint8> loader = pattern(100, 1), fw1 = pattern(300, 2), fw2 = pattern(17, 3);
    w.addLoaderImage(0x20000000, loader, 3);
    w.addIdentity(BirdIdentity{"Veltrano", "2.11.4 rc1", "40F5849A", "VT-Hub4"});
    w.addFirmwareImage(0x00004000, fw1, 4);
    w.addSerialLocations(0x4010, 0x4020);
    w.addBlock(9, 7, bytes({0xAA, 0xBB}));
    w.addFirmwareImage(0x00008000, fw2);
    w.addStartAddress(0x20001000);
    std::vector<uint8> body = w.body();
    BirdFile f = load(dir, w);

    EXPECT_EQ(f.filename(), dir / "x.bird");
    EXPECT_EQ(f.magic(), 0x62697264u);
    EXPECT_EQ(f.format(), 0x0101);
    EXPECT_EQ(f.blockCount(), 7);
    ASSERT_EQ(f.bodyLength(), body.size());
    EXPECT_EQ(0, std::memcmp(f.body(), body.data(), body.size()));
    EXPECT_EQ(f.checksum(), uint32(crc32(0, body.data(), uInt(body.size() - 4))));

    struct Expect {
        uint8 type, flags;
        uint32 length, address;
    } expected[] = {{0, 3, 104, 0x20000000}, {4, 0, 64, 0}, {1, 4, 304, 0x4000}, {2, 0, 8, 0}, {9, 7, 2, 0},
                    {1, 0, 21, 0x8000},      {5, 0, 4, 0}};
    ASSERT_EQ(f.blocks().size(), 7u);
    for (size_t i = 0; i < 7; ++i) {
        const BirdBlock& b = f.blocks()[i];
        EXPECT_EQ(b.type, expected[i].type) << i;
        EXPECT_EQ(b.flags, expected[i].flags) << i;
        EXPECT_EQ(b.length, expected[i].length) << i;
        EXPECT_EQ(b.address, expected[i].address) << i;
        EXPECT_GE(b.payload, f.body());
        EXPECT_LE(b.payload + b.length, f.body() + f.bodyLength());
    }
    const BirdBlock& l = f.blocks()[0];
    EXPECT_EQ(std::vector<uint8>(l.image(), l.image() + l.imageLength()), loader);
    EXPECT_EQ(f.blocks()[4].image(), nullptr);
    EXPECT_EQ(std::vector<uint8>(f.blocks()[4].payload, f.blocks()[4].payload + 2), bytes({0xAA, 0xBB}));

    auto firmware = f.blocksOfType(birdFirmwareImage);
    ASSERT_EQ(firmware.size(), 2u);
    EXPECT_EQ(std::vector<uint8>(firmware[0].image(), firmware[0].image() + firmware[0].imageLength()), fw1);
    EXPECT_EQ(std::vector<uint8>(firmware[1].image(), firmware[1].image() + firmware[1].imageLength()), fw2);
    EXPECT_EQ(f.blocksOfType(birdLoaderImage).size(), 1u);
    EXPECT_TRUE(f.blocksOfType(3).empty());

    EXPECT_TRUE(f.hasSerialLocations());
    EXPECT_EQ(f.serialLocation(), 0x4010u);
    EXPECT_EQ(f.descriptorLocation(), 0x4020u);
    EXPECT_EQ(f.version(), "2.11.4");
    EXPECT_EQ(f.targetSerialNumber(), 0x40F5849Au);
    EXPECT_TRUE(f.matchesSerialNumber(0x40F5849A));
    EXPECT_EQ(f.modelName(), "VT-Hub4");
    ASSERT_TRUE(f.startAddress().has_value());
    EXPECT_EQ(*f.startAddress(), 0x20001000u);

    for (const char* line : {
             "BIRDFILE:\t\t File reports 7 blocks\n",
             "BIRDFILE: Bird file objects:\n",
             "BIRDFILE: \t\tType Flags Length\n",
             "BIRDFILE:\t\t 00   03   104\n",
             "BIRDFILE:\t\t 04   00   64\n",
             "BIRDFILE:\t\t \t[Veltrano        ]\n",
             "BIRDFILE:\t\t \t[2.11.4 rc1      ]\n",
             "BIRDFILE:\t\t \t[40F5849A        ]\n",
             "BIRDFILE:\t\t \t[VT-Hub4         ]\n",
             "BIRDFILE:\t\t 09   07   2\n",
             "BIRDFILE: Offsets: Serial number: 16400, Descriptor: 16416\n",
         })
        EXPECT_TRUE(log.contains(line)) << line << "\nin\n" << log.all();
    EXPECT_EQ(log.lines().front(), "BIRDFILE: Loading File [" + (dir / "x.bird") + "]\n");
    char checksum[64];
    std::snprintf(checksum, sizeof checksum, "BIRDFILE:\t\t File checksum %08X\n", f.checksum());
    EXPECT_TRUE(log.contains(checksum));
    EXPECT_FALSE(log.containsPrefix("BIRDFILE: Block parsing mismatch"));
}

TEST(BirdFile, DescriptorByteSplitsIntoTypeAndFlags) {
    TempDir dir;
    std::vector<uint8> body;
    appendBE32(body, 2);
    appendBlock(body, 0x24, 64, std::vector<uint8>(64, ' '));
    appendBlock(body, 0x81, 5, bytes({0, 0, 0x10, 0, 0xEE}));
    appendBE32(body, 0xC0FFEE01);
    BirdFile f = loadBody(dir, body);
    ASSERT_EQ(f.blockCount(), 2);
    EXPECT_EQ(f.blocks()[0].type, 4);
    EXPECT_EQ(f.blocks()[0].flags, 1);
    EXPECT_EQ(f.blocks()[1].type, 1);
    EXPECT_EQ(f.blocks()[1].flags, 4);
    EXPECT_EQ(f.blocks()[1].address, 0x1000u);
    EXPECT_EQ(f.checksum(), 0xC0FFEE01u);
}

TEST(BirdFile, IdentityFields) {
    struct Case {
        const char* version;
        const char* serial;
        const char* expectVersion;
        uint32 expectSerial;
    } cases[] = {
        {"1.2.3 beta", "0000001B", "1.2.3", 27},
        {"", "1B", "", 27},
        {"3.0", "  0x1F", "3.0", 0x1F},
        {"v", "zz000001", "v", 0},
        {"9.9.9", "FFFFFFFF12345678", "9.9.9", 0xFFFFFFFF},
        {"1.0", "-1", "1.0", 0},
    };
    TempDir dir;
    for (const Case& c : cases) {
        BirdWriter w;
        w.addIdentity(BirdIdentity{"x", c.version, c.serial, "M"});
        BirdFile f = load(dir, w);
        EXPECT_EQ(f.version(), c.expectVersion) << c.version;
        EXPECT_EQ(f.targetSerialNumber(), c.expectSerial) << c.serial;
        EXPECT_TRUE(f.matchesSerialNumber(c.expectSerial));
    }
}

TEST(BirdFile, ModelNameMatchesAsPrefix) {
    TempDir dir;
    BirdWriter w;
    w.addIdentity("1.0", 1, "ABCD");
    BirdFile f = load(dir, w);
    BirdTestLog log;
    for (const char* name : {"ABCD", "ABC", "A", ""})
        EXPECT_TRUE(f.matchesModelName(name)) << name;
    for (const char* name : {"ABCDE", "ABD", "abcd", "ABCD "})
        EXPECT_FALSE(f.matchesModelName(name)) << name;
    EXPECT_TRUE(log.contains("Model matches model number ([ABCD] == [ABC])\n"));
    EXPECT_EQ(log.lines().size(), 4u) << "a mismatch logs nothing";

    BirdWriter blank;
    blank.addIdentity(BirdIdentity{"", "", "", "                "});
    BirdFile b = load(dir, blank);
    EXPECT_EQ(b.modelName(), "");
    EXPECT_TRUE(b.matchesModelName(""));
    EXPECT_FALSE(b.matchesModelName("A"));
}

TEST(BirdFile, WithoutIdentityOrLocations) {
    TempDir dir;
    BirdWriter w;
    w.addFirmwareImage(0, pattern(32, 0));
    BirdFile f = load(dir, w);
    EXPECT_FALSE(f.hasIdentity());
    EXPECT_EQ(f.version(), "");
    EXPECT_EQ(f.targetSerialNumber(), 0u);
    EXPECT_FALSE(f.matchesModelName(""));
    EXPECT_FALSE(f.hasSerialLocations());
    EXPECT_EQ(f.serialLocation(), 0u);
    EXPECT_FALSE(f.patchSerialNumber(0x12345678));
    EXPECT_FALSE(f.startAddress().has_value());
}

// Identity, locations and start address shorter than their layout are treated as
// absent, never read past their end; only the first block of each kind counts.
TEST(BirdFile, ShortAndRepeatedSingletonBlocks) {
    TempDir dir;
    {
        BirdWriter w;
        w.addBlock(birdIdentity, 0, std::vector<uint8>(63, '1'));
        w.addBlock(birdSerialLocations, 0, bytes({0, 0, 0, 1, 0, 0, 0}));
        w.addBlock(birdStartAddress, 0, bytes({0x20, 0, 0}));
        w.addIdentity("2.0", 5, "late");
        w.addSerialLocations(8, 0);
        w.addStartAddress(0x1234);
        w.addFirmwareImage(0, pattern(64, 0));
        BirdFile f = load(dir, w);
        EXPECT_EQ(f.blockCount(), 7);
        EXPECT_FALSE(f.hasIdentity());
        EXPECT_EQ(f.version(), "");
        EXPECT_EQ(f.targetSerialNumber(), 0u);
        EXPECT_FALSE(f.hasSerialLocations());
        EXPECT_FALSE(f.patchSerialNumber(7));
        EXPECT_FALSE(f.startAddress().has_value());
    }
    {
        BirdWriter w;
        w.addIdentity("1.0", 1, "first");
        w.addIdentity("2.0", 2, "second");
        w.addSerialLocations(0x10, 0x20);
        w.addSerialLocations(0x30, 0x40);
        w.addStartAddress(0x100);
        w.addStartAddress(0x200);
        BirdFile f = load(dir, w);
        EXPECT_EQ(f.version(), "1.0");
        EXPECT_EQ(f.targetSerialNumber(), 1u);
        EXPECT_EQ(f.modelName(), "first");
        EXPECT_EQ(f.serialLocation(), 0x10u);
        EXPECT_EQ(f.descriptorLocation(), 0x20u);
        EXPECT_EQ(*f.startAddress(), 0x100u);
    }
}

TEST(BirdFile, PatchSerialNumberAtBlockEdges) {
    const uint32 A = 0x4000;
    const uint32 L = 4 + 64; // payload length of a 64-byte image
    struct Case {
        const char* what;
        uint32 serialLocation;
        int patchedOffset; // image offset written, -1 for none
    } cases[] = {
        {"first image bytes", A, 0},         {"last four image bytes", A + L - 8, 60},
        {"one byte too far", A + L - 7, -1}, {"just before the image (its address bytes)", A - 1, -1},
        {"on the address bytes", A - 4, -1}, {"middle", A + 10, 10},
    };
    TempDir dir;
    for (const Case& c : cases) {
        BirdWriter w;
        std::vector<uint8> image = pattern(64, 5);
        w.addSerialLocations(c.serialLocation, 0);
        w.addLoaderImage(A, image);
        w.addFirmwareImage(A, image);
        BirdFile f = load(dir, w);
        BirdTestLog log;
        EXPECT_EQ(f.patchSerialNumber(0x40F5849A), c.patchedOffset >= 0) << c.what;
        std::vector<uint8> expected = image;
        if (c.patchedOffset >= 0) {
            const uint8* old = &image[size_t(c.patchedOffset)];
            char line[96];
            std::snprintf(line, sizeof line, "BIRDFILE: updating serial number from %08X ==> 40F5849A\n",
                          unsigned(old[0] | old[1] << 8 | old[2] << 16 | unsigned(old[3]) << 24));
            EXPECT_TRUE(log.contains(line)) << c.what << log.all();
            const uint8 le[] = {0x9A, 0x84, 0xF5, 0x40};
            std::memcpy(&expected[size_t(c.patchedOffset)], le, 4);
        }
        BirdBlock fw = f.blocksOfType(birdFirmwareImage)[0];
        EXPECT_EQ(std::vector<uint8>(fw.image(), fw.image() + fw.imageLength()), expected) << c.what;
        BirdBlock loader = f.blocksOfType(birdLoaderImage)[0];
        EXPECT_EQ(std::vector<uint8>(loader.image(), loader.image() + loader.imageLength()), image)
            << "loader images are never patched";
    }
}

TEST(BirdFile, PatchDescriptorWritesLowBytesOfEachBlockHoldingIt) {
    TempDir dir;
    BirdWriter w;
    std::vector<uint8> image(32, 0xEE);
    w.addSerialLocations(0, 0x1000 + 16);
    w.addFirmwareImage(0x1000, image);                            // descriptor ends exactly at the image end
    w.addFirmwareImage(0x1000 + 8, image);                        // descriptor at image offset 8
    w.addFirmwareImage(0x1000 + 17, image);                       // starts after the descriptor: untouched
    w.addFirmwareImage(0x1000 + 2, std::vector<uint8>(29, 0xEE)); // one byte short
    BirdFile f = load(dir, w);
    BirdTestLog log;
    ASSERT_TRUE(f.patchSerialNumber(0x00ABCDEF));
    EXPECT_TRUE(log.lines().empty()) << "the descriptor write is not logged";
    auto blocks = f.blocksOfType(birdFirmwareImage);
    auto imageOf = [](const BirdBlock& b) {
        return std::vector<uint8>(b.image(), b.image() + b.imageLength());
    };
    const char* text = "00ABCDEF";
    auto withText = [&](size_t at, size_t length) {
        std::vector<uint8> out(length, 0xEE);
        for (size_t i = 0; i < 8; ++i)
            out[at + 2 * i] = uint8(text[i]);
        return out;
    };
    EXPECT_EQ(imageOf(blocks[0]), withText(16, 32));
    EXPECT_EQ(imageOf(blocks[1]), withText(8, 32));
    EXPECT_EQ(imageOf(blocks[2]), image);
    EXPECT_EQ(imageOf(blocks[3]), std::vector<uint8>(29, 0xEE));
}

TEST(BirdFile, MoveTransfersBodyAndEmptiesSource) {
    TempDir dir;
    BirdWriter w;
    w.addIdentity("4.5.6", 0xAB, "M");
    w.addFirmwareImage(0x100, pattern(1000, 9));
    BirdFile a = load(dir, w);
    const uint8* body = a.body();
    BirdFile b(std::move(a));
    EXPECT_EQ(b.body(), body);
    EXPECT_EQ(b.blockCount(), 2);
    EXPECT_EQ(b.version(), "4.5.6");
    EXPECT_EQ(a.blockCount(), 0);
    EXPECT_TRUE(a.blocks().empty());
    EXPECT_EQ(a.body(), nullptr);
    EXPECT_EQ(a.version(), "");
    EXPECT_EQ(a.filename(), "");

    BirdFile c;
    c = std::move(b);
    EXPECT_EQ(c.blocksOfType(birdFirmwareImage)[0].payload[4], pattern(1, 9)[0]);
    EXPECT_EQ(b.blockCount(), 0);
    BirdFile empty;
    EXPECT_EQ(empty.blockCount(), 0);
    EXPECT_FALSE(empty.patchSerialNumber(1));
}

// Only regular files are read: opening a FIFO for reading waits for a writer that
// may never come, so a pipe in the store or on the command line would hang the tool.
TEST(BirdFile, NothingButRegularFilesIsOpened) {
    TempDir dir;
    const std::string fifo = dir / "pipe.bird";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const int failures = inChild(
        [&] {
            BirdTestLog log;
            int bad = isBirdFile(fifo);
            bad += !log.contains("BIRDFILE: Error - cannot open bird file: '" + fifo + "'\n");
            try {
                BirdFile loaded(fifo);
                bad++;
            } catch (const std::runtime_error&) {
            }
            return bad;
        },
        5000);
    EXPECT_EQ(failures, 0) << "102: opening the FIFO blocked";
}

TEST(BirdFile, IsBirdFileChecksHeaderOnly) {
    TempDir dir;
    struct Case {
        std::string content;
        bool expected;
    } cases[] = {
        {std::string("bird\x01\x01", 6), true},
        {std::string("bird\x07\x02garbage", 13), true},
        {std::string("bird\x01", 5), false},
        {std::string("bird\x00\x01", 6), false},
        {std::string("bird\x01\x00", 6), false},
        {std::string("BIRD\x01\x01", 6), false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isBirdFile(dir.write("f", c.content)), c.expected) << c.content.size();
    BirdTestLog log;
    EXPECT_FALSE(isBirdFile(dir / "missing"));
    EXPECT_TRUE(log.contains("BIRDFILE: Error - cannot open bird file: '" + (dir / "missing") + "'\n"));
}
