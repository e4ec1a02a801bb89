// Programming a 256 KiB image into the ISP boot-ROM emulator over a paced serial
// line at 115200 baud, with the recovery's serial route (identification, then Open,
// Unlock, Prepare and Erase of sectors 0-29, echo off, then for each 4096-byte
// piece a Write to the RAM buffer, a Prepare and a Copy; echo on and Go), against Debian's
// lpc21isp programming the same image into the same emulator in the same run.
//
// The line's ceiling for the data comes from the ISP line format alone, never from
// the tool's encoder: the image as one run of UU lines of 45 bytes, each 61
// characters (the length, 60 for 15 groups) plus "\r\n", with the decimal sum of
// the bytes as a checksum line after every 20 lines and after the last, at 10 bits
// a character. Lines alone carry at most 45/63 of 11520 characters a second, 8229
// bytes/s; the checksum lines lower that a little. Reported: our bytes/s, its
// fraction of the ceiling (goal >= 0.9), and our time over lpc21isp's (goal <= 0.8).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "ErrorCounter.h"
#include "../tests/updater/RecordingDisplay.h"
#include "BirdWriter.h"
#include "IspRomLine.h"
#include "Recovery.h"
#include "Subprocess.h"
#include "TempDir.h"

using namespace Veltrano::Sim;

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kBaud = 115200;
constexpr size_t kImageBytes = 256 * 1024;
const char* kLpc21isp = "/usr/bin/lpc21isp";

// Random bytes whose vector table carries the checksum the boot ROM checks, so
// lpc21isp writes exactly these bytes.
std::vector<uint8_t> image() {
    std::vector<uint8_t> bytes(kImageBytes);
    uint32_t x = 99;
    for (uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    setVectorChecksum(bytes);
    return bytes;
}

// The line format: data bytes per UU line, data lines per checksum line.
constexpr size_t kLineBytes = 45;
constexpr size_t kLinesPerChecksum = 20;

// Characters of one UU line of n bytes: its length character, 4 for every 3
// bytes begun, "\r\n".
uint64_t lineCharacters(size_t n) {
    return 1 + 4 * ((n + 2) / 3) + 2;
}

// The fewest characters that carry the image: its data lines and checksum lines.
uint64_t dataCharacters(const std::vector<uint8_t>& bytes) {
    uint64_t characters = 0;
    uint32_t sum = 0;
    size_t lines = 0;
    for (size_t at = 0; at < bytes.size(); at += kLineBytes) {
        const size_t n = std::min(kLineBytes, bytes.size() - at);
        characters += lineCharacters(n);
        for (size_t i = 0; i < n; ++i)
            sum += bytes[at + i];
        if (++lines == kLinesPerChecksum || at + n == bytes.size()) {
            characters += std::to_string(sum).size() + 2;
            sum = 0;
            lines = 0;
        }
    }
    return characters;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The recovery's serial route as the tool runs it: identification, then the
// programming of the file's firmware.
bool programWithLibrary(const std::string& port, const BirdFile& file) {
    RecordingDisplay display;
    uint32_t fingerprint[4];
    return _get_fingerprint_serial(port, kBaud, fingerprint) && _recover_serial(&display, file, port, kBaud);
}

bool flashHolds(IspRom& rom, const std::vector<uint8_t>& bytes) {
    const std::vector<uint8_t> flash = rom.flash();
    return std::equal(bytes.begin(), bytes.end(), flash.begin());
}

void BM_IspProgram(benchmark::State& state) {
    if (::access(kLpc21isp, X_OK) != 0) return state.SkipWithError("lpc21isp is missing");
    const std::vector<uint8_t> bytes = image();
    TempDir dir;
    const std::string file = dir.write("image.bin", std::string(bytes.begin(), bytes.end()));
    BirdWriter writer;
    writer.addIdentity("4.0.1", 0x5E1A0C02, "VT-Acquire");
    writer.addFirmwareImage(0, bytes);
    writer.addFirmwareImage(0x7F000, std::vector<uint8_t>(4, 0));
    writer.writeFile(dir / "image.bird");
    const BirdFile bird(dir / "image.bird");
    SerialLine::Settings paced;
    paced.paced = true;
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        IspRomLine ourRom(IspRomSettings{}, paced);
        Clock::time_point start = Clock::now();
        if (!programWithLibrary(ourRom.path(), bird)) return state.SkipWithError("library flow failed");
        ours = seconds(Clock::now() - start);
        state.SetIterationTime(ours);
        if (!flashHolds(ourRom.rom(), bytes))
            return state.SkipWithError("flash differs after the library flow");

        IspRomLine theirRom(IspRomSettings{}, paced);
        SubprocessOptions options;
        options.timeoutMs = 300000;
        start = Clock::now();
        SubprocessResult run = runSubprocess(
            kLpc21isp, {"-bin", file, theirRom.path(), std::to_string(kBaud), "14746"}, options);
        theirs = seconds(Clock::now() - start);
        if (run.exitStatus != 0) return state.SkipWithError(("lpc21isp failed: " + run.out).c_str());
        if (!flashHolds(theirRom.rom(), bytes)) return state.SkipWithError("flash differs after lpc21isp");
    }
    const double ceiling = bytes.size() / (dataCharacters(bytes) / (kBaud / 10.0));
    state.counters["bytes_per_s"] = bytes.size() / ours;
    state.counters["ceiling_bytes_per_s"] = ceiling;
    state.counters["of_ceiling"] = bytes.size() / ours / ceiling;
    state.counters["lpc21isp_s"] = theirs;
    state.counters["ratio_vs_lpc21isp"] = ours / theirs;
}
BENCHMARK(BM_IspProgram)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

VELTRANO_BENCHMARK_MAIN()
