// A firmware transfer of 1 MiB through the transfer driver into the virtual module
// over loopback TCP, with DATA packets and with UEI byte data, against one floor:
// a raw loopback TCP ping-pong of packet-sized messages, as many as the request/
// reply exchanges the UPGRADE protocol needs for the file with DATA packets of 26
// bytes. The count comes from the protocol and the file alone, never from what the
// emulator saw the product do, so a product that sends more than it must shows it
// in its ratio.
//
// The file holds a 2 KiB loader image and 1 MiB of firmware in blocks of
// block_kib KiB; the module grants 1024-byte writes, so a block goes as 1 KiB
// pieces (DATA packets or one UEI value, then SUM and WRITE each).
//
// The driver ends with the reboot request and its wait for the link to drop, a
// fixed wait that no exchange speeds up; it is timed alone in the same run
// (a file without firmware) and reported beside the ratio.
//
// The transfer's time is the sum of its exchanges, so their tail counts, not
// their median. On a virtual machine a raw ping-pong between two threads takes
// about three times as long when the scheduler puts them on different CPUs, and
// where it puts them changes from run to run; under `taskset -c 1` the floor
// holds still and ratios of different runs compare.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "ErrorCounter.h"
#include "BirdFile.h"
#include "BirdWriter.h"
#include "DirectNetworkConfig.h"
#include "Module.h"
#include "ModuleTcpServer.h"
#include "RoundTripPeers.h"
#include "TransferDriver.h"
#include "UpdaterDisplayInterface.h"
#include "VirtualModule.h"
#include "aTime.h"

using namespace Veltrano::Sim;
using Veltrano::Halvorine::Module;

namespace {

using RoundTrip::Clock;
using RoundTrip::median;
using RoundTrip::RawEcho;

constexpr uint32_t kSerial = 0x3C0FFEE5;
constexpr uint8_t kModel = 4; // VT-CoreUSB
constexpr uint32_t kLoaderAddress = 0x20000000;
constexpr uint32_t kFirmwareAddress = 0x00010000;
constexpr size_t kFirmwareBytes = size_t(1) << 20;
constexpr size_t kLoaderBytes = 2048;
// What the module grants at PREPARE, and the image bytes of one DATA packet.
constexpr uint16_t kGrantedBytes = 1024;
constexpr size_t kDataBytes = 26;
// A DATA request with 26 image bytes on the wire (address, length, 5F 01, data)
// and its reply (address, length, 5F 01 count): most exchanges are these.
constexpr size_t kFloorRequestBytes = 30;
constexpr size_t kFloorReplyBytes = 5;
constexpr uint32_t kReconnectWaitMs = 5000;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

class QuietDisplay : public UpdaterDisplayInterface {
  public:
    QuietDisplay() { setQuiet(true); }
    void clearLine(bool) override {}
    void showProgress(double, const char*) override {}
    void showActivity(bool, const char*) override {}
    void showMessage(const char*) override {}
    void showError(const char*) override {}
};

std::vector<uint8> image(size_t length, uint32 seed) {
    std::vector<uint8> bytes(length);
    uint32 x = seed;
    for (uint8& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8>(x >> 16);
    }
    return bytes;
}

BirdFile birdFile(const std::vector<uint8>& firmware, size_t blockBytes) {
    BirdWriter writer;
    writer.addIdentity("2.16.1", kSerial, "VT-CoreUSB");
    writer.addLoaderImage(kLoaderAddress, image(kLoaderBytes, 7));
    for (size_t at = 0; at < firmware.size(); at += blockBytes) {
        size_t n = std::min(blockBytes, firmware.size() - at);
        writer.addFirmwareImage(static_cast<uint32>(kFirmwareAddress + at),
                                std::vector<uint8>(firmware.begin() + at, firmware.begin() + at + n));
    }
    std::vector<uint8> bytes = writer.file(1);
    return BirdFile::fromMemory("bench.bird", bytes.data(), bytes.size());
}

uint64_t exchanges(const UpgradeArea::Counts& c) {
    return c.dataPackets + c.sums + c.writes + c.prepares + c.inits + c.loads;
}

uint64_t dataPackets(size_t bytes) {
    return (bytes + kDataBytes - 1) / kDataBytes;
}

// The request/reply exchanges the protocol needs for the file with DATA packets:
// INIT, the loader block's PREPARE, DATA packets and SUM, then LOAD; per firmware
// block its PREPARE and, per granted piece, the DATA packets, SUM and WRITE. The
// REBOOT request has no reply.
uint64_t protocolExchanges(size_t blockBytes) {
    uint64_t count = 1 + 1 + dataPackets(kLoaderBytes) + 1 + 1;
    for (size_t at = 0; at < kFirmwareBytes; at += blockBytes) {
        const size_t block = std::min(blockBytes, kFirmwareBytes - at);
        count += 1;
        for (size_t piece = 0; piece < block; piece += kGrantedBytes)
            count += dataPackets(std::min<size_t>(kGrantedBytes, block - piece)) + 2;
    }
    return count;
}

UpgradeArea::Counts operator-(const UpgradeArea::Counts& a, const UpgradeArea::Counts& b) {
    UpgradeArea::Counts d;
    d.inits = a.inits - b.inits;
    d.prepares = a.prepares - b.prepares;
    d.dataPackets = a.dataPackets - b.dataPackets;
    d.ueiDataSets = a.ueiDataSets - b.ueiDataSets;
    d.sums = a.sums - b.sums;
    d.writes = a.writes - b.writes;
    d.loads = a.loads - b.loads;
    d.reboots = a.reboots - b.reboots;
    return d;
}

// The virtual module on loopback TCP and a Module of the tool connected to it
// directly; the module returns from a reboot after a few milliseconds.
class Bench {
  public:
    Bench() : device_(identity()), server_(device_), module_(identity().address, false, 0) {
        UpgradeArea::Settings settings;
        settings.rebootAwayMs = 5;
        settings.blockSize = kGrantedBytes;
        device_.upgrade().configure(settings);
        spec_.type = TCPIP;
        spec_.serialNumber = kSerial;
        spec_.model = kModel;
        spec_.ipAddress = htonl(INADDR_LOOPBACK);
        spec_.ipPort = server_.port();
        setDirectNetworkConfig(&module_, nullptr);
    }
    ~Bench() { module_.disconnect(); }

    // A fresh connection (the module may still be away after a reboot); false when
    // it stays away.
    bool connect() {
        module_.disconnect();
        const uint32 start = aTime_GetMSTicks();
        while (module_.connectFromSpec(spec_) != aErrNone) {
            if (aTime_GetMSTicks() - start > kReconnectWaitMs) return false;
            aTime_MSSleep(2);
        }
        return true;
    }
    // Left connected, a link dropped by the reboot would connect again by itself
    // once the module is back, and sync while the raw peers are timed.
    void disconnect() { module_.disconnect(); }

    // The loader, then the firmware and the reboot, as -U drives them.
    aErr transfer(const BirdFile& file, bool useUEIData) {
        aErr err = TransferLoaderBlocks(&display_, &module_, file);
        if (err == aErrNone) err = TransferFirmwareBlocks(&display_, &module_, file, false, useUEIData);
        return err;
    }

    // The reboot request and its wait alone: seconds, negative on a failure.
    double rebootSeconds(const BirdFile& noFirmware) {
        if (!connect()) return -1;
        Clock::time_point start = Clock::now();
        aErr err = TransferFirmwareBlocks(&display_, &module_, noFirmware, false, false);
        double r = seconds(Clock::now() - start);
        disconnect();
        return err == aErrNone ? r : -1;
    }

    UpgradeArea& upgrade() { return device_.upgrade(); }

  private:
    static ModuleIdentity identity() {
        ModuleIdentity id;
        id.serialNumber = kSerial;
        id.model = kModel;
        return id;
    }

    VirtualModule device_;
    ModuleTcpServer server_;
    Module module_;
    linkSpec spec_{};
    QuietDisplay display_;
};

// Seconds for count round trips; negative when one fails.
template <class Peer> double roundTripSeconds(Peer& peer, uint64_t count) {
    Clock::time_point start = Clock::now();
    for (uint64_t i = 0; i < count; ++i)
        if (!peer.roundTrip()) return -1;
    return seconds(Clock::now() - start);
}

// A DATA request of 26 image bytes as the wire carries it (address, length,
// 5F 01, data); its reply is address, length, 5F 01 count.
std::vector<uint8> dataRequest() {
    std::vector<uint8> wire{RoundTrip::kAddress, 28, 0x5F, 0x01};
    wire.resize(kFloorRequestBytes, 0xA5);
    return wire;
}

// The file of a benchmark (block_kib from its argument), the module, and the
// transfers timed one by one.
class TransferRun {
  public:
    explicit TransferRun(benchmark::State& state, bool useUEIData)
        : state_(state), useUEIData_(useUEIData), firmware_(image(kFirmwareBytes, 1)),
          file_(birdFile(firmware_, blockBytes(state))), noFirmware_(birdFile({}, 1024)) {}

    static size_t blockBytes(const benchmark::State& state) {
        return static_cast<size_t>(state.range(0)) * 1024;
    }

    // One whole transfer: its seconds and, in *made, what the module counted.
    // Negative (and the benchmark skipped) on a failure, or when the data did not
    // go the way asked; the first transfer's flash image is checked byte for byte.
    double transfer(UpgradeArea::Counts* made) {
        if (!bench_.connect()) return fail("module did not come back");
        UpgradeArea::Counts before = bench_.upgrade().counts();
        Clock::time_point start = Clock::now();
        aErr err = bench_.transfer(file_, useUEIData_);
        double t = seconds(Clock::now() - start);
        bench_.disconnect();
        if (err != aErrNone) return fail("transfer failed: " + std::to_string(err));
        *made = bench_.upgrade().counts() - before;
        if (useUEIData_ && made->ueiDataSets == 0) return fail("UEI data was not used");
        if (!useUEIData_ && made->ueiDataSets != 0) return fail("UEI data used unasked");
        if (!checked_ && bench_.upgrade().flashBytes(kFirmwareAddress, kFirmwareBytes) != firmware_)
            return fail("flash image differs from the firmware sent");
        checked_ = true;
        return t;
    }

    double rebootSeconds() {
        double r = bench_.rebootSeconds(noFirmware_);
        return r < 0 ? fail("reboot failed") : r;
    }

    double fail(const std::string& why) {
        state_.SkipWithError(why.c_str());
        return -1;
    }

  private:
    benchmark::State& state_;
    bool useUEIData_;
    std::vector<uint8> firmware_;
    BirdFile file_, noFirmware_;
    Bench bench_;
    bool checked_ = false;
};

double kibPerSecond(double ms) {
    return (kFirmwareBytes / 1024.0) / (ms / 1e3);
}

// Both file shapes; each iteration is a whole transfer of seconds.
void transferSettings(benchmark::internal::Benchmark* b) {
    b->ArgName("block_kib")->Arg(1)->Arg(64)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
}

struct Summary {
    bool set = false;
    uint64_t needed = 0, made = 0, ueiSets = 0;
    double transferMs = 0, rebootMs = 0, floorMs = 0, moduleMs = 0, ratio = 0, ratioWithoutReboot = 0;
};
Summary gSummary[2][2]; // [UEI data][64 KiB blocks]

// One iteration: the whole transfer (the manual time) between the two halves of
// the floor, so that a change of the machine's load weighs on both; then the same
// exchanges written raw to a virtual module (its own cost, without the host's link
// engine) and the reboot wait alone.
void transferAgainstFloor(benchmark::State& state, bool useUEIData) {
    TransferRun run(state, useUEIData);
    RawEcho raw(kFloorRequestBytes, kFloorReplyBytes);
    RoundTrip::RawToModule rawModule(dataRequest(), kFloorReplyBytes);
    const uint64_t needed = protocolExchanges(TransferRun::blockBytes(state));
    std::vector<double> transfer, reboot, floor, module, ratio, ratioWithoutReboot;
    UpgradeArea::Counts made;
    for (auto _ : state) {
        double f = roundTripSeconds(raw, needed / 2);
        double t = run.transfer(&made);
        if (t < 0) return;
        state.SetIterationTime(t);
        const double rest = roundTripSeconds(raw, needed - needed / 2);
        double m = roundTripSeconds(rawModule, needed);
        if (f < 0 || rest <= 0 || m <= 0) return state.SkipWithError("raw round trip failed");
        f += rest;
        double r = run.rebootSeconds();
        if (r < 0) return;
        transfer.push_back(t);
        reboot.push_back(r);
        floor.push_back(f);
        module.push_back(m);
        ratio.push_back(t / f);
        ratioWithoutReboot.push_back((t - r) / f);
    }
    Summary& s = gSummary[useUEIData][state.range(0) > 1];
    s.set = true;
    s.needed = needed;
    s.made = exchanges(made);
    s.ueiSets = made.ueiDataSets;
    s.transferMs = median(transfer) * 1e3;
    s.rebootMs = median(reboot) * 1e3;
    s.floorMs = median(floor) * 1e3;
    s.moduleMs = median(module) * 1e3;
    s.ratio = median(ratio);
    s.ratioWithoutReboot = median(ratioWithoutReboot);
    state.counters["exchanges_needed"] = static_cast<double>(needed);
    state.counters["exchanges_made"] = static_cast<double>(s.made);
    state.counters["transfer_ms"] = s.transferMs;
    state.counters["reboot_wait_ms"] = s.rebootMs;
    state.counters["floor_ms"] = s.floorMs;
    state.counters["raw_module_ms"] = s.moduleMs;
    state.counters["ratio"] = s.ratio;
    state.counters["ratio_no_reboot"] = s.ratioWithoutReboot;
    state.counters["KiB_per_s"] = kibPerSecond(s.transferMs);
}

// DATA packets: each confirmed before the next.
void BM_TransferDataPackets(benchmark::State& state) {
    transferAgainstFloor(state, false);
}
BENCHMARK(BM_TransferDataPackets)->Apply(transferSettings);

// UEI byte data: one value per granted piece, sent in pieces without a reply each;
// the same floor shows what it saves over DATA packets.
void BM_TransferUEIData(benchmark::State& state) {
    transferAgainstFloor(state, true);
}
BENCHMARK(BM_TransferUEIData)->Apply(transferSettings);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    ErrorCounter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (int uei = 0; uei < 2; ++uei)
        for (int big = 0; big < 2; ++big) {
            const Summary& s = gSummary[uei][big];
            if (!s.set) continue;
            std::printf("%s, %s blocks: %llu exchanges needed (%llu made, %llu UEI values); transfer %.0f ms "
                        "(of it the reboot wait %.0f ms), floor %.0f ms, raw to the virtual module %.0f ms; "
                        "ratio %.2f, %.2f without the reboot wait (goal <= 1.3); %.0f KiB/s, %.0f KiB/s "
                        "without the reboot wait\n",
                        uei ? "UEI data" : "DATA packets", big ? "64 KiB" : "1 KiB",
                        static_cast<unsigned long long>(s.needed), static_cast<unsigned long long>(s.made),
                        static_cast<unsigned long long>(s.ueiSets), s.transferMs, s.rebootMs, s.floorMs,
                        s.moduleMs, s.ratio, s.ratioWithoutReboot, kibPerSecond(s.transferMs),
                        kibPerSecond(s.transferMs - s.rebootMs));
        }
    return reporter.exitStatus();
}
