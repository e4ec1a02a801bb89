// End to end: files built by `birdtool pack` read back by `birdtool info` and BirdFile.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "BirdFile.h"
#include "FirmwareImageTag.h"
#include "aVersion.h"
#include "BirdWriter.h"
#include "Subprocess.h"
#include "TempDir.h"

namespace {

// Runs the built birdtool with args, capturing both streams.
SubprocessResult birdtool(const std::vector<std::string>& args) {
    SubprocessResult run = runSubprocess(std::string(VELTRANO_BIN_DIR) + "/birdtool", args);
    EXPECT_TRUE(run.started && !run.timedOut);
    return run;
}

std::string binary(size_t length, uint8 seed) {
    std::string out(length, '\0');
    for (size_t i = 0; i < length; ++i)
        out[i] = char(seed * 31 + i * 13 + (i >> 7));
    return out;
}

} // namespace

TEST(Birdtool, PackThenInfoAndLoad) {
    TempDir dir;
    std::string loader = binary(700, 1), app = binary(5000, 2);
    dir.write("loader.bin", loader);
    dir.write("app.bin", app);
    const std::string out = dir / "42.bird";
    SubprocessResult pack = birdtool({"pack",
                                      "-o",
                                      out,
                                      "--version",
                                      "2.11.4 rc1",
                                      "--serial",
                                      "40f5849a",
                                      "--model-number",
                                      "20",
                                      "--description",
                                      "Veltrano lab",
                                      "-S",
                                      "0x4010",
                                      "--descriptor-location",
                                      "16416",
                                      "--start",
                                      "0x20000400",
                                      "-l",
                                      "0x20000000=" + (dir / "loader.bin"),
                                      "--firmware",
                                      "0x4000:5=" + (dir / "app.bin")});
    ASSERT_EQ(pack.exitStatus, 0) << pack.err;
    EXPECT_EQ(pack.out, "");

    BirdFile f(out);
    EXPECT_TRUE(isBirdFile(out));
    EXPECT_EQ(f.version(), "2.11.4");
    EXPECT_EQ(f.targetSerialNumber(), 0x40F5849Au);
    EXPECT_EQ(f.modelName(), "VT-Hub4");
    EXPECT_EQ(f.description(), "Veltrano lab");
    EXPECT_EQ(f.serialLocation(), 0x4010u);
    EXPECT_EQ(f.descriptorLocation(), 0x4020u);
    EXPECT_EQ(*f.startAddress(), 0x20000400u);
    auto fw = f.blocksOfType(birdFirmwareImage);
    ASSERT_EQ(fw.size(), 1u);
    EXPECT_EQ(fw[0].address, 0x4000u);
    EXPECT_EQ(fw[0].flags, 5);
    EXPECT_EQ(std::string(fw[0].image(), fw[0].image() + fw[0].imageLength()), app);
    auto ld = f.blocksOfType(birdLoaderImage);
    ASSERT_EQ(ld.size(), 1u);
    EXPECT_EQ(std::string(ld[0].image(), ld[0].image() + ld[0].imageLength()), loader);

    SubprocessResult info = birdtool({"info", out});
    ASSERT_EQ(info.exitStatus, 0) << info.err;
    EXPECT_EQ(info.err, "");
    char checksum[16];
    std::snprintf(checksum, sizeof checksum, "%08X", f.checksum());
    EXPECT_EQ(info.out, "File:              " + out +
                            "\n"
                            "Magic:             62697264 (bird)\n"
                            "Format:            1.1\n"
                            "Body:              " +
                            std::to_string(f.bodyLength()) +
                            " bytes\n"
                            "Checksum:          " +
                            checksum +
                            "\n"
                            "Identity:\n"
                            "  Description:     Veltrano lab\n"
                            "  Version:         2.11.4\n"
                            "  Target serial:   40F5849A\n"
                            "  Model name:      VT-Hub4\n"
                            "  Fits models:     VT-Hub4 (20)\n"
                            "Serial locations:  serial number 0x00004010, descriptor 0x00004020\n"
                            "Start address:     0x20000400\n"
                            "Blocks:            5\n"
                            "  #    Type  Flags  Length      Address     Kind\n"
                            "  1    4     0      64          -           identity\n"
                            "  2    2     0      8           -           serial locations\n"
                            "  3    5     0      4           -           start address\n"
                            "  4    0     0      704         0x20000000  loader image\n"
                            "  5    1     5      5004        0x00004000  firmware image\n");

    SubprocessResult verbose = birdtool({"info", "-v", out});
    EXPECT_EQ(verbose.exitStatus, 0);
    EXPECT_EQ(verbose.out, info.out);
    EXPECT_NE(verbose.err.find("BIRDFILE:\t\t File reports 5 blocks\n"), std::string::npos) << verbose.err;
}

TEST(Birdtool, InfoWithoutIdentityListsNone) {
    TempDir dir;
    dir.write("a.bin", std::string(100, '\xFF'));
    SubprocessResult pack = birdtool({"pack", "-o", dir / "p.bird", "-f", "0=" + (dir / "a.bin"), "-z", "0"});
    ASSERT_EQ(pack.exitStatus, 0) << pack.err;
    SubprocessResult info = birdtool({"info", dir / "p.bird"});
    ASSERT_EQ(info.exitStatus, 0) << info.err;
    for (const char* line : {"Identity:          none\n", "Serial locations:  none\n",
                             "Start address:     none\n", "Blocks:            1\n"})
        EXPECT_NE(info.out.find(line), std::string::npos) << line << info.out;
}

// A module fits when its model name is a prefix of the file's.
TEST(Birdtool, InfoNamesTheModelsAFileFits) {
    TempDir dir;
    struct Case {
        std::string model, fits;
    } cases[] = {
        {"VT-Hub4-rev2", "VT-Hub4 (20)\n"},
        {"VT-Hub", "none\n"},
        {"", "none\n"},
        {"VT-Acquire2", "VT-Acquire (17)\n"},
    };
    for (const Case& c : cases) {
        SubprocessResult pack = birdtool({"pack", "-o", dir / "g.bird", "-V", "1.0", "-m", c.model});
        ASSERT_EQ(pack.exitStatus, 0) << pack.err;
        SubprocessResult info = birdtool({"info", dir / "g.bird"});
        EXPECT_NE(info.out.find("  Fits models:     " + c.fits), std::string::npos) << info.out;
    }
}

TEST(Birdtool, InfoFailsOnFilesThatDoNotLoad) {
    TempDir dir;
    dir.write("text", "just text");
    dir.write("broken.bird", std::string("bird\x01\x01", 6) + "not zlib");
    ASSERT_EQ(mkfifo((dir / "pipe.bird").c_str(), 0644), 0);
    struct Case {
        std::string path, errContains;
    } cases[] = {
        {dir / "missing.bird", "is not a BIRD file"},
        {dir / "text", "is not a BIRD file"},
        {dir / "pipe.bird", "is not a BIRD file"},
        {dir / "broken.bird", "BIRDFILE: Error (-3) decompressing bird file.\n"},
        {dir / "broken.bird", ": Failed to load bird data\n"},
    };
    for (const Case& c : cases) {
        SubprocessResult info = birdtool({"info", c.path});
        EXPECT_EQ(info.exitStatus, 1) << c.path;
        EXPECT_EQ(info.out, "") << c.path;
        EXPECT_NE(info.err.find(c.errContains), std::string::npos) << info.err;
    }
}

TEST(Birdtool, PackRefusesBadArguments) {
    TempDir dir;
    dir.write("a.bin", "abc");
    const std::string img = "0x10=" + (dir / "a.bin");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string errContains;
    } cases[] = {
        {{"pack", "-f", img}, 2, "pack needs -o OUT"},
        {{"pack", "-o", dir / "o", "-f", "0x10"}, 2, "is not ADDR[:FLAGS]=FILE"},
        {{"pack", "-o", dir / "o", "-f", "0x10:8=" + (dir / "a.bin")}, 2, "bad block flags"},
        {{"pack", "-o", dir / "o", "-f", "0x1FFFFFFFF=" + (dir / "a.bin")}, 2, "bad image address"},
        {{"pack", "-o", dir / "o", "-f", "-1=" + (dir / "a.bin")}, 2, "bad image address"},
        {{"pack", "-o", dir / "o", "-V", "12345678901234567"}, 2, "longer than 16 characters"},
        {{"pack", "-o", dir / "o", "-M", "6"}, 2, "unknown model number 6"},
        {{"pack", "-o", dir / "o", "-s", "xyz"}, 2, "bad serial number"},
        {{"pack", "-o", dir / "o", "-f", "0=" + (dir / "none.bin")}, 1, "cannot read image"},
        {{"pack", "-o", dir / "no/such/dir/o", "-f", img}, 1, "cannot create"},
        {{"pack", "-o", dir / "o", "stray"}, 2, "unexpected argument 'stray'"},
        {{"frob"}, 2, "unknown command 'frob'"},
        {{}, 2, "Usage:"},
        {{"info"}, 2, "info takes one FILE"},
    };
    for (const Case& c : cases) {
        SubprocessResult run = birdtool(c.args);
        std::string shown = c.args.empty() ? "(none)" : c.args.back();
        EXPECT_EQ(run.exitStatus, c.status) << shown << run.err;
        EXPECT_NE(run.err.find(c.errContains), std::string::npos) << shown << ": " << run.err;
    }
    EXPECT_FALSE(std::ifstream(dir / "o").good()) << "nothing written on a refused command";
}

// The first firmware image carries the tag a module emulator reports after
// running it: padded to 4 bytes, then the version of -V and the build given.
TEST(Birdtool, ImageBuildTagsTheFirstFirmwareImage) {
    TempDir dir;
    std::string first = binary(10, 3), second = binary(8, 4);
    dir.write("a.bin", first);
    dir.write("b.bin", second);
    const std::string out = dir / "t.bird";
    SubprocessResult pack =
        birdtool({"pack", "-o", out, "-V", "2.16.1", "-b", "0x1234", "-l", "0x100=" + (dir / "b.bin"), "-f",
                  "0x4000=" + (dir / "a.bin"), "-f", "0x5000=" + (dir / "b.bin")});
    ASSERT_EQ(pack.exitStatus, 0) << pack.err;
    BirdFile f(out);
    auto fw = f.blocksOfType(birdFirmwareImage);
    ASSERT_EQ(fw.size(), 2u);
    std::vector<uint8_t> tagged(fw[0].image(), fw[0].image() + fw[0].imageLength());
    std::vector<uint8_t> expected(first.begin(), first.end());
    expected.insert(expected.end(),
                    {0xFF, 0xFF, 'V', 'T', 'I', 'M', 'A', 'G', 'E', '1', 0x2F, 2, 16, 1, 0, 0, 0x12, 0x34});
    EXPECT_EQ(tagged, expected);
    std::optional<FirmwareImageTag> tag = FirmwareImageTag::find(tagged.data(), tagged.size());
    ASSERT_TRUE(tag);
    EXPECT_EQ(tag->version, aVersion_Pack(2, 16, 1));
    EXPECT_EQ(tag->build, 0x1234u);
    EXPECT_EQ(std::string(fw[1].image(), fw[1].image() + fw[1].imageLength()), second);
    auto ld = f.blocksOfType(birdLoaderImage);
    ASSERT_EQ(ld.size(), 1u);
    EXPECT_EQ(std::string(ld[0].image(), ld[0].image() + ld[0].imageLength()), second);

    const std::string img = "0x10=" + (dir / "a.bin");
    const struct {
        std::vector<std::string> args;
        std::string errContains;
    } refused[] = {
        {{"pack", "-o", dir / "o", "-b", "1", "-f", img}, "--image-build needs -V VERSION"},
        {{"pack", "-o", dir / "o", "-V", "2.16.1", "-b", "1"}, "--image-build needs a firmware image"},
        {{"pack", "-o", dir / "o", "-V", "2.16.1 rc", "-b", "1", "-f", img}, "bad version part"},
        {{"pack", "-o", dir / "o", "-V", "2.16", "-b", "1", "-f", img}, "not MAJOR.MINOR.PATCH"},
        {{"pack", "-o", dir / "o", "-V", "2.256.1", "-b", "1", "-f", img}, "bad version part"},
        {{"pack", "-o", dir / "o", "-V", "2.16.1", "-b", "x", "-f", img}, "bad image build"},
    };
    for (const auto& c : refused) {
        SubprocessResult run = birdtool(c.args);
        EXPECT_EQ(run.exitStatus, 2) << run.err;
        EXPECT_NE(run.err.find(c.errContains), std::string::npos) << run.err;
    }
}

TEST(Birdtool, HelpDescribesBothCommands) {
    SubprocessResult help = birdtool({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    for (const char* text :
         {"birdtool info [-v] FILE", "birdtool pack -o OUT", "--loader SPEC", "--firmware SPEC",
          "--serial-location ADDR", "--descriptor-location ADDR", "--start ADDR", "--model-number N"})
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    EXPECT_EQ(birdtool({"pack", "--help"}).out, help.out);
}

// Numbers are decimal or 0x hexadecimal: a leading zero is no octal prefix, so -S 010
// puts the serial number at address 10 and the patch writes the image bytes there.
TEST(Birdtool, NumbersAreDecimalOrHexadecimal) {
    TempDir dir;
    dir.write("app.bin", std::string(32, '\0'));
    const std::string out = dir / "n.bird";
    struct Case {
        std::string text;
        uint32 location;
    } cases[] = {
        {"010", 10}, {"0x10", 16}, {"0X1f", 31}, {"16", 16}, {"0", 0}, {"4294967295", 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        SubprocessResult pack = birdtool({"pack", "-o", out, "-S", c.text, "-M", "020", "-z", "09"});
        ASSERT_EQ(pack.exitStatus, 0) << c.text << ": " << pack.err;
        BirdFile f(out);
        EXPECT_EQ(f.serialLocation(), c.location) << c.text;
        EXPECT_EQ(f.modelName(), "VT-Hub4") << "model number 020 is 20";
    }

    SubprocessResult pack = birdtool({"pack", "-o", out, "-S", "010", "-f", "0x0=" + (dir / "app.bin")});
    ASSERT_EQ(pack.exitStatus, 0) << pack.err;
    BirdFile f(out);
    ASSERT_TRUE(f.patchSerialNumber(0x11223344));
    const BirdBlock image = f.blocksOfType(birdFirmwareImage).at(0);
    std::string expected(32, '\0');
    expected.replace(10, 4, "\x44\x33\x22\x11");
    EXPECT_EQ(std::string(image.image(), image.image() + image.imageLength()), expected);
}

TEST(Birdtool, RefusesNumbersThatAreNeitherOrTooLarge) {
    TempDir dir;
    dir.write("a.bin", "abc");
    const std::string out = dir / "o";
    const std::string neither = "not decimal, or hexadecimal with 0x";
    struct Case {
        std::string option, text, message;
    } cases[] = {
        {"-S", "08x", "bad serial-number location '08x': " + neither},
        {"-S", "0x", "bad serial-number location '0x': " + neither},
        {"-S", "", "bad serial-number location '': " + neither},
        {"-S", " 16", neither},
        {"-S", "16 ", neither},
        {"-S", "+16", neither},
        {"-S", "-16", neither},
        {"-S", "1e3", neither},
        {"-S", "0b101", neither},
        {"-S", "0x100000000", "bad serial-number location '0x100000000': at most 4294967295"},
        {"-S", "99999999999999999999999", "at most 4294967295"},
        {"-D", "0o17", "bad descriptor location '0o17': " + neither},
        {"-a", "12h", "bad start address '12h': " + neither},
        {"-z", "10", "bad compression level '10': at most 9"},
        {"-z", "010", "bad compression level '010': at most 9"},
        {"-M", "256", "bad model number '256': at most 255"},
        {"-M", "0x", neither},
        {"-s", "0x", "bad serial number '0x': not hexadecimal"},
        {"-s", "-1", "bad serial number '-1': not hexadecimal"},
        {"-s", "123456789", "bad serial number '123456789': at most 4294967295"},
        {"-f", "0x1g=" + (dir / "a.bin"), "bad image address '0x1g': " + neither},
        {"-l", "0x10:010=" + (dir / "a.bin"), "bad block flags '010': at most 7"},
    };
    for (const Case& c : cases) {
        SubprocessResult run = birdtool({"pack", "-o", out, c.option, c.text});
        EXPECT_EQ(run.exitStatus, 2) << c.option << " '" << c.text << "'";
        EXPECT_NE(run.err.find(c.message), std::string::npos)
            << c.option << " '" << c.text << "': " << run.err;
    }
    EXPECT_FALSE(std::ifstream(out).good()) << "nothing written on a refused command";
}
