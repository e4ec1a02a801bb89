// The virtual module's firmware loader driven through the device API, as the
// update tool drives a real one: the steps of a block, what lands in flash, the
// faults each step can show, the loader start that drops the link, and the
// reboot after which the module is away and comes back with new firmware.
#include <gtest/gtest.h>

#include <numeric>
#include <optional>

#include "ApiFixtures.h"
#include "EntityClass.h"
#include "FirmwareImageTag.h"
#include "SystemClass.h"
#include "UpgradeArea.h"

namespace {

using namespace ApiTest;
using Veltrano::Sim::UpgradeArea;

constexpr uint32_t kBlock = 0x08004000;

// Raw UPGRADE packets to the module through its link.
class LoaderProbe : public EntityClassOf<0x5F> {
  public:
    explicit LoaderProbe(Module& module) { EntityClassOf::init(&module, 0); }

    // Sends the bytes after the command byte and answers the data of the reply
    // whose first bytes are [5F step], or nothing when none comes within 1 s.
    Bytes exchange(const Bytes& request, uint8_t replyStep) {
        if (send(request) != aErrNone) return {};
        return await(replyStep);
    }
    aErr send(const Bytes& request) {
        return sendPacket(0x5F, static_cast<unsigned char>(request.size()), request.data());
    }
    Bytes await(uint8_t step) {
        const unsigned char match[2] = {0x5F, step};
        unsigned char length = 2;
        unsigned char data[28] = {};
        if (receivePacket(match, &length, data) != aErrNone) return {};
        return Bytes(data, data + length);
    }

    Bytes init() { return exchange({0x00}, 0x00); }
    Bytes prepare(uint32_t address, uint8_t flags = 0) {
        return exchange({0x03, flags, uint8_t(address >> 24), uint8_t(address >> 16), uint8_t(address >> 8),
                         uint8_t(address)},
                        0x07);
    }
    Bytes data(const Bytes& bytes) {
        Bytes request{0x01};
        request.insert(request.end(), bytes.begin(), bytes.end());
        return exchange(request, 0x01);
    }
    // Sends bytes in DATA packets of 26; false at the first count that is wrong.
    bool dataAll(const Bytes& bytes) {
        for (size_t at = 0; at < bytes.size(); at += 26) {
            Bytes chunk(bytes.begin() + at, bytes.begin() + std::min(bytes.size(), at + 26));
            if (data(chunk) != Bytes{0x5F, 0x01, uint8_t(chunk.size())}) return false;
        }
        return true;
    }
    Bytes sum() { return exchange({0x04}, 0x07); }
    Bytes write(uint16_t n) { return exchange({0x05, uint8_t(n >> 8), uint8_t(n)}, 0x07); }
    aErr setData(const Bytes& bytes) { return setUEIBytes(10, bytes.data(), bytes.size()); }
};

Bytes pattern(size_t n, uint8_t seed = 1) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

Bytes sumReply(uint32_t sum) {
    return {0x5F, 0x07, 0x00, uint8_t(sum >> 24), uint8_t(sum >> 16), uint8_t(sum >> 8), uint8_t(sum)};
}

uint32_t byteSum(const Bytes& bytes) {
    return std::accumulate(bytes.begin(), bytes.end(), 0u);
}

const Bytes kWritten{0x5F, 0x07, 0x00};

// A module on a carrier, its loader set up, and a Module connected to it.
struct Loader {
    explicit Loader(UpgradeArea::Settings settings = {}, Carrier carrier = Carrier::Tcp, bool init = true)
        : connection(identity(4, 0x40F5849A), carrier), probe(connection.module) {
        connection.device.module().upgrade().configure(settings);
        // A module's loader takes nothing before INIT.
        if (init && connection.connected == aErrNone) probe.init();
    }
    VirtualModule& device() { return connection.device.module(); }
    UpgradeArea& upgrade() { return device().upgrade(); }

    ConnectedModule connection;
    LoaderProbe probe;
};

UpgradeArea::Settings blockSize(uint16_t size) {
    UpgradeArea::Settings settings;
    settings.blockSize = size;
    return settings;
}

// Reconnects the module's link, retrying every 20 ms for at most timeoutMs.
aErr reconnectWithin(Module& module, uint32_t timeoutMs) {
    module.disconnect();
    aErr err = aErrConnection;
    for (uint32_t start = aTime_GetMSTicks(); aTime_GetMSTicks() - start < timeoutMs; aTime_MSSleep(20))
        if ((err = module.reconnect()) == aErrNone) break;
    return err;
}

TEST(UpgradeLoader, BlocksLandInFlashAtTheirAddress) {
    Loader l(blockSize(64));
    ASSERT_EQ(l.connection.connected, aErrNone);
    EXPECT_EQ(l.probe.init(), (Bytes{0x5F, 0x00, 0x10, 0x00, 0x00, 0x00}));
    EXPECT_EQ(l.probe.prepare(kBlock, 0x01), (Bytes{0x5F, 0x07, 0x00, 0x00, 64}));
    // A whole block, written in two parts: the second lands after the first.
    Bytes first = pattern(64);
    ASSERT_TRUE(l.probe.dataAll(first));
    EXPECT_EQ(l.probe.sum(), sumReply(byteSum(first)));
    EXPECT_EQ(l.probe.write(40), kWritten);
    EXPECT_EQ(l.probe.write(24), kWritten);
    // The next block touches the first: one region.
    Bytes second = pattern(30, 99);
    EXPECT_EQ(l.probe.prepare(kBlock + 64), (Bytes{0x5F, 0x07, 0x00, 0x00, 64}));
    ASSERT_TRUE(l.probe.dataAll(second));
    EXPECT_EQ(l.probe.write(30), kWritten);

    Bytes expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    UpgradeArea::Regions flash = l.upgrade().flash();
    ASSERT_EQ(flash.size(), 1u);
    EXPECT_EQ(flash.begin()->first, kBlock);
    EXPECT_EQ(flash.begin()->second, expected);
    EXPECT_EQ(l.upgrade().flashBytes(kBlock + 92, 4), (Bytes{expected[92], expected[93], 0xFF, 0xFF}));
    EXPECT_TRUE(l.upgrade().loaderImage().empty()) << "written blocks are firmware";
    UpgradeArea::Counts counts = l.upgrade().counts();
    EXPECT_EQ(counts.prepares, 2u);
    EXPECT_EQ(counts.dataPackets, 5u);
    EXPECT_EQ(counts.writes, 3u);
}

TEST(UpgradeLoader, SumCoversTheBytesSinceTheLastSumOrPrepare) {
    Loader l;
    ASSERT_EQ(l.connection.connected, aErrNone);
    l.probe.prepare(kBlock);
    Bytes a = pattern(10), b = pattern(5, 40), c = pattern(3, 200);
    l.probe.dataAll(a);
    EXPECT_EQ(l.probe.sum(), sumReply(byteSum(a)));
    l.probe.dataAll(b);
    EXPECT_EQ(l.probe.sum(), sumReply(byteSum(b)));
    EXPECT_EQ(l.probe.sum(), sumReply(0));
    l.probe.dataAll(c);
    l.probe.prepare(kBlock + 0x100);
    EXPECT_EQ(l.probe.sum(), sumReply(0)) << "PREPARE starts the sum again";
    l.probe.dataAll(c);
    EXPECT_EQ(l.probe.sum(), sumReply(byteSum(c)));
    // More than is staged is refused, and nothing is written.
    EXPECT_EQ(l.probe.write(4), (Bytes{0x5F, 0x07, 0x01}));
    EXPECT_TRUE(l.upgrade().flash().empty());
}

// Each fault a host must survive, seen in the reply to the step it hits.
TEST(UpgradeLoader, FaultsShowInTheirStep) {
    const struct {
        const char* request;
        ReplyFaultKind kind;
        Bytes (*step)(LoaderProbe&);
        Bytes reply;
    } cases[] = {
        {"upgrade.init", ReplyFaultKind::NoReply, [](LoaderProbe& p) { return p.init(); }, {}},
        {"upgrade.prepare",
         ReplyFaultKind::ErrorReply,
         [](LoaderProbe& p) { return p.prepare(kBlock); },
         {0x5F, 0x07, 6, 0x04, 0x00}},
        {"upgrade.prepare", ReplyFaultKind::NoReply, [](LoaderProbe& p) { return p.prepare(kBlock); }, {}},
        {"upgrade.data",
         ReplyFaultKind::Corrupt,
         [](LoaderProbe& p) {
             return p.data({1, 2, 3});
         },
         {0x5F, 0x01, 0xFC}},
        {"upgrade.sum",
         ReplyFaultKind::Corrupt,
         [](LoaderProbe& p) {
             p.data({1, 2, 3});
             return p.sum();
         },
         {0x5F, 0x07, 0x00, 0x00, 0x00, 0x00, 0xF9}},
        {"upgrade.sum",
         ReplyFaultKind::ErrorReply,
         [](LoaderProbe& p) {
             p.data({1, 2, 3});
             return p.sum();
         },
         {0x5F, 0x07, 6, 0x00, 0x00, 0x00, 0x06}},
        {"upgrade.write",
         ReplyFaultKind::ErrorReply,
         [](LoaderProbe& p) {
             p.data({1, 2, 3});
             return p.write(3);
         },
         {0x5F, 0x07, 6}},
        {"upgrade.load",
         ReplyFaultKind::NoReply,
         [](LoaderProbe& p) { return p.exchange({0x02}, 0x02); },
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.request) + " " + std::to_string(int(c.kind)));
        Loader l;
        ASSERT_EQ(l.connection.connected, aErrNone);
        if (std::string(c.request) != "upgrade.prepare") l.probe.prepare(kBlock);
        l.connection.device.fault(c.request, c.kind);
        EXPECT_EQ(c.step(l.probe), c.reply);
        if (std::string(c.request) == "upgrade.write") {
            EXPECT_TRUE(l.upgrade().flash().empty()) << "a refused write writes nothing";
        }
    }
}

// A chunk answered with a wrong count is not kept: the host sends it again and
// the sum counts it once.
TEST(UpgradeLoader, ChunkWithWrongCountIsNotKept) {
    Loader l;
    ASSERT_EQ(l.connection.connected, aErrNone);
    l.probe.prepare(kBlock);
    l.connection.device.fault("upgrade.data", ReplyFaultKind::Corrupt, 0, 1);
    Bytes chunk = pattern(26);
    EXPECT_NE(l.probe.data(chunk), (Bytes{0x5F, 0x01, 26}));
    EXPECT_EQ(l.probe.data(chunk), (Bytes{0x5F, 0x01, 26}));
    EXPECT_EQ(l.probe.sum(), sumReply(byteSum(chunk)));
    EXPECT_EQ(l.probe.write(26), kWritten);
    EXPECT_EQ(l.upgrade().flashBytes(kBlock, 26), chunk);
}

TEST(UpgradeLoader, GrantedBlockSizeComesFromTheSettings) {
    Loader l(blockSize(0));
    ASSERT_EQ(l.connection.connected, aErrNone);
    EXPECT_EQ(l.probe.prepare(kBlock), (Bytes{0x5F, 0x07, 0x00, 0x00, 0x00}));
}

// The link ends in the middle of a block: the data packet after the chosen
// count is not answered and the connection closes; the module itself stays,
// and the host's link connects again by itself.
TEST(UpgradeLoader, DisconnectsInTheMiddleOfABlock) {
    UpgradeArea::Settings settings;
    settings.disconnectAtData = 2;
    Loader l(settings);
    ASSERT_EQ(l.connection.connected, aErrNone);
    l.probe.prepare(kBlock);
    EXPECT_EQ(l.probe.data({1}), (Bytes{0x5F, 0x01, 1}));
    EXPECT_EQ(l.probe.data({2}), (Bytes{0x5F, 0x01, 1}));
    EXPECT_EQ(l.probe.data({3}), Bytes{});
    EXPECT_TRUE(eventuallyTrue([&] { return l.connection.device.tcp()->connections() == 2; }));
    EXPECT_FALSE(l.device().away());
    // A new connection starts no block: the host prepares the block again.
    EXPECT_TRUE(eventuallyTrue([&] {
        return l.probe.prepare(kBlock) == Bytes{0x5F, 0x07, 0x00, 0x04, 0x00};
    }));
    EXPECT_EQ(l.probe.data({4}), (Bytes{0x5F, 0x01, 1})) << "only once per transfer";
}

// Image data as a streamed option-10 set, on a link that pools its packets as
// the module's feature word allows.
TEST(UpgradeLoader, TakesImageDataAsStreamedValue) {
    Loader l(blockSize(200));
    ASSERT_EQ(l.connection.connected, aErrNone);
    EXPECT_EQ(l.connection.module.hasUEI(0x5F, 10, 0, 0x80), aErrNone);
    EXPECT_NE(l.connection.module.hasUEI(0x5F, 10, 0, 0x40), aErrNone) << "set only";
    SystemClass system;
    system.init(&l.connection.module, 0);
    unsigned int features = 0;
    ASSERT_EQ(system.getProtocolFeatures(&features), aErrNone);
    ASSERT_TRUE(features & 0x80000000u);
    ASSERT_EQ(l.connection.module.getLink()->enablePooledPackets(true), aErrNone);

    l.probe.prepare(kBlock);
    Bytes image = pattern(200, 3);
    ASSERT_EQ(l.probe.setData(image), aErrNone);
    EXPECT_EQ(l.probe.sum(), sumReply(byteSum(image)));
    EXPECT_EQ(l.probe.write(200), kWritten);
    EXPECT_EQ(l.upgrade().flashBytes(kBlock, 200), image);
    EXPECT_EQ(l.upgrade().counts().ueiDataSets, 1u);
}

TEST(UpgradeLoader, WithoutImageDataOptionTheModuleSaysSo) {
    UpgradeArea::Settings settings;
    settings.ueiData = false;
    Loader l(settings);
    ASSERT_EQ(l.connection.connected, aErrNone);
    EXPECT_EQ(l.connection.module.hasUEI(0x5F, 10, 0, 0x80), aErrUnimplemented);
    Bytes image = pattern(30);
    EXPECT_EQ(l.probe.setData(image), aErrUnimplemented);
}

// Blocks before LOAD are the loader: staged without WRITE, kept apart from flash.
TEST(UpgradeLoader, LoaderBlocksAreKeptApartAndStartedByLoad) {
    Loader l;
    ASSERT_EQ(l.connection.connected, aErrNone);
    Bytes loader = pattern(60, 5);
    l.probe.prepare(0x20000000);
    ASSERT_TRUE(l.probe.dataAll(loader));
    EXPECT_EQ(l.probe.sum(), sumReply(byteSum(loader)));
    EXPECT_EQ(l.probe.exchange({0x02}, 0x02), (Bytes{0x5F, 0x02}));
    UpgradeArea::Regions image = l.upgrade().loaderImage();
    ASSERT_EQ(image.size(), 1u);
    EXPECT_EQ(image.begin()->first, 0x20000000u);
    EXPECT_EQ(image.begin()->second, loader);
    EXPECT_TRUE(l.upgrade().flash().empty());
}

// A module whose loader start drops the link: it is away (connections refused),
// then answers LOAD on the first connection after it returns.
TEST(UpgradeLoader, LoadThatDropsTheLinkIsAnsweredAfterReturn) {
    UpgradeArea::Settings settings;
    settings.load = UpgradeArea::LoadBehaviour::DropAndReturn;
    settings.loadAwayMs = 300;
    Loader l(settings);
    ASSERT_EQ(l.connection.connected, aErrNone);
    ASSERT_EQ(l.probe.send({0x02}), aErrNone);
    ASSERT_TRUE(eventuallyTrue([&] { return l.device().away(); }));
    EXPECT_TRUE(eventuallyTrue([&] { return !l.connection.module.isConnected(); }));
    l.connection.module.disconnect();
    EXPECT_NE(l.connection.module.reconnect(), aErrNone) << "refused while away";
    ASSERT_EQ(reconnectWithin(l.connection.module, 2000), aErrNone);
    EXPECT_EQ(l.probe.await(0x02), (Bytes{0x5F, 0x02}));
    EXPECT_EQ(l.probe.init().size(), 6u) << "the loader goes on on the new link";
}

Bytes taggedImage(uint32_t version, uint32_t build) {
    FirmwareImageTag tag;
    tag.version = version;
    tag.build = build;
    return tag.appendTo(pattern(50));
}

void writeBlock(LoaderProbe& probe, uint32_t address, const Bytes& image) {
    ASSERT_EQ(probe.prepare(address), (Bytes{0x5F, 0x07, 0x00, 0x04, 0x00}));
    ASSERT_TRUE(probe.dataAll(image));
    ASSERT_EQ(probe.sum(), sumReply(byteSum(image)));
    ASSERT_EQ(probe.write(static_cast<uint16_t>(image.size())), kWritten);
}

// After REBOOT the module closes its link, is away for a while and comes back
// running the firmware its flash names.
TEST(UpgradeLoader, RebootComesBackWithTheNewFirmware) {
    UpgradeArea::Settings settings;
    settings.rebootAwayMs = 300;
    Loader l(settings);
    ASSERT_EQ(l.connection.connected, aErrNone);
    writeBlock(l.probe, kBlock, taggedImage(0x2F030100, 5120));
    ASSERT_EQ(l.probe.send({0x06}), aErrNone);
    EXPECT_TRUE(eventuallyTrue([&] { return !l.connection.module.isConnected(); }));
    l.connection.module.disconnect();
    EXPECT_NE(l.connection.module.reconnect(), aErrNone) << "refused while away";
    ASSERT_EQ(reconnectWithin(l.connection.module, 2000), aErrNone);
    SystemClass system;
    system.init(&l.connection.module, 0);
    unsigned int version = 0, build = 0;
    EXPECT_EQ(system.getVersion(&version), aErrNone);
    EXPECT_EQ(system.getBuild(&build), aErrNone);
    EXPECT_EQ(version, 0x2F030100u);
    EXPECT_EQ(build, 5120u);
    EXPECT_EQ(l.upgrade().counts().reboots, 1u);
}

// On a serial line the module falls silent while away and then talks again on
// the same line, with the firmware its flash names.
TEST(UpgradeLoader, PtyModuleIsSilentWhileAwayAndTalksAgain) {
    UpgradeArea::Settings settings;
    settings.rebootAwayMs = 300;
    Loader l(settings, Carrier::Pty);
    ASSERT_EQ(l.connection.connected, aErrNone);
    writeBlock(l.probe, kBlock, taggedImage(0x2F030300, 6100));
    ASSERT_EQ(l.probe.send({0x06}), aErrNone);
    ASSERT_TRUE(eventuallyTrue([&] { return l.device().away(); }));
    SystemClass system;
    system.init(&l.connection.module, 0);
    unsigned int build = 0;
    EXPECT_EQ(system.getBuild(&build), aErrTimeout) << "silent while away";
    ASSERT_TRUE(eventuallyTrue([&] { return !l.device().away(); }));
    aErr err = aErrTimeout;
    for (uint32_t start = aTime_GetMSTicks(); err != aErrNone && aTime_GetMSTicks() - start < 3000;)
        err = system.getBuild(&build);
    EXPECT_EQ(err, aErrNone);
    EXPECT_EQ(build, 6100u);
}

// The loader keeps a module's order of steps: whatever comes out of turn is
// refused and changes nothing.
TEST(UpgradeLoader, RefusesStepsOutOfTurn) {
    const Bytes refusedData{0x5F, 0x01, 0x00};
    const struct {
        const char* name;
        bool init, prepare;
        Bytes (*step)(LoaderProbe&);
        Bytes reply;
    } cases[] = {
        {"PREPARE before INIT",
         false,
         false,
         [](LoaderProbe& p) { return p.prepare(kBlock); },
         {0x5F, 0x07, 0x01, 0x00, 0x00}},
        {"LOAD before INIT",
         false,
         false,
         [](LoaderProbe& p) { return p.exchange({0x02}, 0x02); },
         {0x5F, 0x02, 0x01}},
        {"DATA before PREPARE", true, false,
         [](LoaderProbe& p) {
             return p.data({1, 2});
         },
         refusedData},
        {"SUM before PREPARE",
         true,
         false,
         [](LoaderProbe& p) { return p.sum(); },
         {0x5F, 0x07, 0x01, 0x00, 0x00, 0x00, 0x00}},
        {"WRITE before PREPARE", true, false, [](LoaderProbe& p) { return p.write(0); }, {0x5F, 0x07, 0x01}},
        {"empty DATA", true, true, [](LoaderProbe& p) { return p.data({}); }, refusedData},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Loader l({}, Carrier::Tcp, c.init);
        ASSERT_EQ(l.connection.connected, aErrNone);
        if (c.prepare) l.probe.prepare(kBlock);
        EXPECT_EQ(c.step(l.probe), c.reply);
        EXPECT_TRUE(l.upgrade().flash().empty());
        EXPECT_FALSE(l.device().away()) << "no loader started";
    }
}

// Once the loader runs, no more is staged than PREPARE granted; a WRITE makes room.
TEST(UpgradeLoader, StagesNoMoreThanTheGrantedBlockSize) {
    Loader l(blockSize(30));
    ASSERT_EQ(l.connection.connected, aErrNone);
    ASSERT_EQ(l.probe.exchange({0x02}, 0x02), (Bytes{0x5F, 0x02}));
    l.probe.prepare(kBlock);
    EXPECT_EQ(l.probe.data(pattern(26)), (Bytes{0x5F, 0x01, 26}));
    EXPECT_EQ(l.probe.data(pattern(5)), (Bytes{0x5F, 0x01, 0})) << "31 > 30";
    EXPECT_EQ(l.probe.data(pattern(4)), (Bytes{0x5F, 0x01, 4}));
    EXPECT_EQ(l.probe.write(30), kWritten);
    EXPECT_EQ(l.probe.data(pattern(5)), (Bytes{0x5F, 0x01, 5}));
}

// A late reply is the right reply, after the host's wait: it arrives while the
// next request waits for its own.
TEST(UpgradeLoader, LateReplyComesAfterTheWait) {
    Loader l;
    ASSERT_EQ(l.connection.connected, aErrNone);
    std::optional<std::pair<std::string, ReplyFault>> late =
        Veltrano::Sim::parseReplyFault("upgrade.prepare=late=1300:0:1");
    ASSERT_TRUE(late);
    EXPECT_EQ(late->second.kind, ReplyFaultKind::Late);
    Veltrano::Sim::ModuleFaults faults;
    faults.replies[late->first] = late->second;
    l.device().setFaults(faults);
    EXPECT_EQ(l.probe.prepare(kBlock), Bytes{}) << "not within 1 s";
    EXPECT_EQ(l.probe.await(0x07), (Bytes{0x5F, 0x07, 0x00, 0x04, 0x00}));
    EXPECT_EQ(l.probe.prepare(kBlock), (Bytes{0x5F, 0x07, 0x00, 0x04, 0x00})) << "once only";
}

// What the module runs after a reboot: the firmware in flash and the serial
// number the update wrote into it; or, when it does not take the image, the old
// firmware and serial number whatever its flash holds.
TEST(UpgradeLoader, RebootTakesFirmwareAndSerialNumberFromFlash) {
    for (bool taken : {true, false}) {
        SCOPED_TRACE(taken ? "image taken" : "image not taken");
        UpgradeArea::Settings settings;
        settings.rebootAwayMs = 100;
        settings.imageTaken = taken;
        settings.serialLocation = kBlock + 8;
        Loader l(settings);
        ASSERT_EQ(l.connection.connected, aErrNone);
        Bytes image = taggedImage(0x2F030100, 5120);
        const Bytes serial{0x78, 0x56, 0x34, 0x12}; // 0x12345678, little-endian
        std::copy(serial.begin(), serial.end(), image.begin() + 8);
        writeBlock(l.probe, kBlock, image);
        ASSERT_EQ(l.probe.send({0x06}), aErrNone);
        ASSERT_TRUE(eventuallyTrue([&] { return l.upgrade().counts().reboots == 1; }));
        ASSERT_EQ(reconnectWithin(l.connection.module, 2000), aErrNone);
        SystemClass system;
        system.init(&l.connection.module, 0);
        unsigned int reported = 0, build = 0;
        EXPECT_EQ(system.getSerialNumber(&reported), aErrNone);
        EXPECT_EQ(system.getBuild(&build), aErrNone);
        EXPECT_EQ(reported, taken ? 0x12345678u : 0x40F5849Au);
        EXPECT_EQ(build, taken ? 5120u : ModuleIdentity{}.build);
        EXPECT_EQ(l.upgrade().flashBytes(kBlock, image.size()), image)
            << "the flash holds the image either way";
    }
}

TEST(UpgradeLoader, RebootWithoutTagKeepsTheOldFirmware) {
    UpgradeArea::Settings settings;
    settings.rebootAwayMs = 100;
    Loader l(settings);
    ASSERT_EQ(l.connection.connected, aErrNone);
    writeBlock(l.probe, kBlock, pattern(64));
    ASSERT_EQ(l.probe.send({0x06}), aErrNone);
    ASSERT_TRUE(eventuallyTrue([&] { return l.upgrade().counts().reboots == 1; }));
    ASSERT_EQ(reconnectWithin(l.connection.module, 2000), aErrNone);
    SystemClass system;
    system.init(&l.connection.module, 0);
    unsigned int version = 0;
    EXPECT_EQ(system.getVersion(&version), aErrNone);
    EXPECT_EQ(version, ModuleIdentity{}.version);
}

TEST(UpgradeLoader, RebootThatNeverComesBack) {
    UpgradeArea::Settings settings;
    settings.rebootReturns = false;
    Loader l(settings);
    ASSERT_EQ(l.connection.connected, aErrNone);
    ASSERT_EQ(l.probe.send({0x06}), aErrNone);
    EXPECT_TRUE(eventuallyTrue([&] { return !l.connection.module.isConnected(); }));
    EXPECT_NE(reconnectWithin(l.connection.module, 600), aErrNone);
    EXPECT_TRUE(l.device().away());
}

// On USB a module that reboots leaves the bus: the open link fails (no hang),
// discovery does not see it, and once back it is found and opened anew.
TEST(UpgradeLoader, UsbModuleLeavesTheBusAndIsFoundAgain) {
    UpgradeArea::Settings settings;
    settings.rebootAwayMs = 300;
    Loader l(settings, Carrier::Usb);
    ASSERT_EQ(l.connection.connected, aErrNone);
    writeBlock(l.probe, kBlock, taggedImage(0x2F030200, 6001));
    ASSERT_EQ(l.probe.send({0x06}), aErrNone);
    EXPECT_TRUE(eventuallyTrue([&] { return !l.connection.module.isConnected(); }, 3000));
    l.connection.module.disconnect();
    EXPECT_NE(l.connection.module.discoverAndConnect(USB, 0x40F5849A), aErrNone) << "off the bus";
    aErr err = aErrNotFound;
    for (int attempt = 0; attempt < 50 && err != aErrNone; ++attempt, aTime_MSSleep(20))
        err = l.connection.module.discoverAndConnect(USB, 0x40F5849A);
    ASSERT_EQ(err, aErrNone);
    SystemClass system;
    system.init(&l.connection.module, 0);
    unsigned int build = 0;
    EXPECT_EQ(system.getBuild(&build), aErrNone);
    EXPECT_EQ(build, 6001u);
}

// Pulling the cable while a link has the module open: its transfers fail at
// once and the link drops; plugged in again, a new open works.
TEST(UpgradeLoader, UsbModuleUnpluggedWithAnOpenLink) {
    ConnectedModule c(identity(4, 0x40F5849A), Carrier::Usb);
    ASSERT_EQ(c.connected, aErrNone);
    c.device.usb()->setPlugged(c.device.module(), false);
    EXPECT_TRUE(eventuallyTrue([&] { return !c.module.isConnected(); }, 3000));
    c.module.disconnect();
    EXPECT_NE(c.module.discoverAndConnect(USB, 0x40F5849A), aErrNone);
    c.device.usb()->setPlugged(c.device.module(), true);
    ASSERT_EQ(c.module.discoverAndConnect(USB, 0x40F5849A), aErrNone);
    SystemClass system;
    system.init(&c.module, 0);
    unsigned int serial = 0;
    EXPECT_EQ(system.getSerialNumber(&serial), aErrNone);
    EXPECT_EQ(serial, 0x40F5849Au);
    EXPECT_EQ(c.device.usb()->opens(c.device.module()), 2u);
}

} // namespace
