// End-to-end -U runs: the built Updater against virtual modules with their own
// Ethernet interface, found by multicast discovery in a namespace of the test's
// own. A firmware file to send, and the fixture that serves the modules.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BirdWriter.h"
#include "FirmwareImageTag.h"
#include "KeptModules.h"
#include "ModuleNetwork.h"
#include "Required.h"
#include "TempDir.h"
#include "UpdaterProcess.h"
#include "VirtualModule.h"
#include "aVersion.h"

namespace UpdateTest {

using namespace Veltrano::Sim;
using Bytes = std::vector<uint8_t>;

inline const std::string kBanner = "Updater (Version: 2.11.2 Apr 29 2025)\n";
inline const std::string kServer = "http://127.0.0.1:9/cgi/u";
constexpr uint32_t kSerial = 0x5A17C3C4;
constexpr uint32_t kRouterSerial = 0x5A17C3A0;
constexpr uint32_t kNewVersion = 0x30040002; // packed by aVersion_Pack in the fixture
constexpr uint32_t kNewBuild = 5120;

// Real modules send heartbeats all along, during an update too.
constexpr uint32_t kHeartbeatMs = 200;

inline ModuleIdentity liveIdentity(uint32_t serialNumber, uint8_t model, uint8_t address) {
    ModuleIdentity id = moduleIdentity(serialNumber, model, address);
    id.heartbeatIntervalMs = kHeartbeatMs;
    return id;
}

inline Bytes pattern(size_t n, uint8_t seed) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return bytes;
}

// A firmware file: one loader image and two firmware images, the second ending in
// the tag of the firmware the module reports once it runs them.
struct Firmware {
    uint32_t version = 0;
    Bytes loader = pattern(40, 3);
    std::map<uint32_t, Bytes> images;

    Firmware(const std::string& model, uint32_t targetSerial, uint32_t build = kNewBuild) {
        version = aVersion_Pack(3, 4, 2);
        images[0x1000] = pattern(3000, 11);
        FirmwareImageTag tag;
        tag.version = version;
        tag.build = build;
        images[0x8000] = tag.appendTo(pattern(600, 91));
        writer.addIdentity("3.4.2", targetSerial, model);
        writer.addLoaderImage(0x20000000, loader);
        for (const auto& [address, image] : images)
            writer.addFirmwareImage(address, image);
    }
    std::string write(const TempDir& dir, const std::string& name) const {
        const std::string path = dir / name;
        writer.writeFile(path);
        return path;
    }
    // The lines the transfer prints when every block goes through at once.
    std::string transferLines() const {
        return "Transferring loader to device\n"
               "Transferring loader block 1 of 1, 44 bytes\n"
               "Transferred 1 blocks, 44 total bytes\n"
               "Starting Load on Device\n"
               "Transferring firmware block 1 of 2, 3004 bytes\n"
               "Transferring firmware block 2 of 2, 620 bytes\n"
               "Transferred 2 blocks, 3624 total bytes\n";
    }
    BirdWriter writer;
};

// Modules in the far namespace of a testbed, served over TCP and announced by
// multicast discovery while they are there; the Updater runs on the near side.
class UpdateNetwork : public ::testing::Test {
  protected:
    void SetUp() override {
        VELTRANO_REQUIRE(ModuleNetwork::unavailableReason());
        network = std::make_unique<ModuleNetwork>();
        UpgradeArea::Settings settings;
        settings.rebootAwayMs = 300;
        module.upgrade().configure(settings);
    }
    // The servers' threads use their modules: they stop before any module goes.
    void TearDown() override {
        network.reset();
        kept.clear();
    }

    void serve(VirtualModule& served, uint16_t port) { network->serve(served, port); }
    void startResponder() { network->startResponder(); }

    SubprocessResult updater(std::vector<std::string> args) {
        std::vector<std::string> all = {"-u", kServer, "-i", dir / "store"};
        all.insert(all.begin(), args.begin(), args.end());
        SubprocessResult r = runUpdater(all, dir / "home");
        EXPECT_TRUE(r.started);
        EXPECT_FALSE(r.timedOut);
        return r;
    }
    std::string deviceDir(uint32_t serialNumber) const {
        char name[9];
        snprintf(name, sizeof name, "%08X", serialNumber);
        return dir / ("store/updater/" + std::string(name));
    }
    // Waits (bounded) until the module runs again after its reboot.
    static bool cameBack(const VirtualModule& served) {
        for (int i = 0; i < 100 && served.away(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return !served.away();
    }
    static void expectFlashHolds(const VirtualModule& served, const Firmware& firmware) {
        VirtualModule& m = const_cast<VirtualModule&>(served);
        for (const auto& [address, image] : firmware.images)
            EXPECT_EQ(m.upgrade().flashBytes(address, image.size()), image) << std::hex << address;
        EXPECT_EQ(m.upgrade().loaderImage().at(0x20000000), firmware.loader);
    }

    TempDir dir;
    VirtualModule module{liveIdentity(kSerial, 4, 4)};
    KeptModules kept;
    std::unique_ptr<ModuleNetwork> network;
};

} // namespace UpdateTest
