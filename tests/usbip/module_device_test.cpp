// A virtual module behind the USB device model, driven as the kernel drives it:
// enumeration, a module packet out and its answer in, URB queueing and unlinking,
// the bus faults, and re-enumeration when the module goes away.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "ModuleFrame.h"
#include "UsbIpCable.h"
#include "UsbIpHostSide.h"
#include "UsbIpModuleDevice.h"
#include "VirtualModule.h"

namespace {

using namespace Veltrano::Sim;
using namespace Veltrano::Sim::UsbIp;
using namespace Veltrano::Sim::Test;
using Bytes = std::vector<uint8_t>;
// Inside TEST bodies gtest's Test::Setup hides the codec's name.
using ControlSetup = Veltrano::Sim::UsbIp::Setup;

constexpr uint32_t kSerial = 0x4A5B6C7D;
constexpr uint8_t kModel = 4;
const Bytes kUpgradeInit = ModuleFrame{4, {0x5F, 0x00}}.wire();
const Bytes kUpgradeReboot = ModuleFrame{4, {0x5F, 0x06}}.wire();

uint16_t le16(const Bytes& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

UsbIpDevice::Faults faultsOf(uint64_t stallAt, uint64_t shortAt, int64_t vanishAfterOutBytes = -1,
                             uint8_t endpoint = 0) {
    UsbIpDevice::Faults faults;
    faults.stallAt = stallAt;
    faults.shortAt = shortAt;
    faults.vanishAfterOutBytes = vanishAfterOutBytes;
    faults.endpoint = endpoint;
    return faults;
}

// A module on a cable to a host the test plays.
struct Bench {
    explicit Bench(UsbIpDevice::Faults faults = {}, uint32_t reenumDelayMs = 0, uint32_t rebootAwayMs = 100)
        : module(moduleIdentity(kSerial, kModel, 4)), device(module) {
        UpgradeArea::Settings upgrade = module.upgrade().settings();
        upgrade.rebootAwayMs = rebootAwayMs;
        module.upgrade().configure(upgrade);
        device.setFaults(faults);
        cable = std::make_unique<UsbIpCable>(device, host, 0x10002, UsbIpCable::Events{}, reenumDelayMs);
    }
    // The nth connection, configured as the kernel leaves it after enumeration.
    HostEnd configured(size_t n = 0) {
        HostEnd end(host.connection(n, HostEnd::kWaitMs));
        EXPECT_EQ(end.control(setConfiguration(1)).status, 0);
        return end;
    }

    VirtualModule module;
    UsbIpModuleDevice device;
    FakeHost host;
    std::unique_ptr<UsbIpCable> cable;
};

// The module's answer to UPGRADE INIT: [5F 00 base32] at its address.
bool isInitReply(const Bytes& bytes) {
    ModuleFramer framer;
    for (uint8_t b : bytes)
        if (framer.feed(b)) {
            ModuleFrame frame = framer.take();
            return frame.address == 4 && frame.data.size() == 6 && frame.data[0] == 0x5F &&
                   frame.data[1] == 0;
        }
    return false;
}

TEST(UsbIpModule, EnumeratesWithTheModulesIdentityAndInterface) {
    Bench b;
    HostEnd host(b.host.connection(0, HostEnd::kWaitMs));
    EXPECT_EQ(b.host.lastSpeed(), UsbIpDevice::Speed::High);

    // The hub driver's first look asks 64 bytes of the 18.
    RetSubmit device = host.control(getDescriptor(1, 0, 64));
    ASSERT_EQ(device.status, 0);
    ASSERT_EQ(device.data.size(), 18u);
    EXPECT_EQ(le16(device.data, 8), 0x2F5A);
    EXPECT_EQ(le16(device.data, 10), 0x0100 | kModel);

    RetSubmit head = host.control(getDescriptor(2, 0, 9));
    ASSERT_EQ(head.data.size(), 9u);
    uint16_t total = le16(head.data, 2);
    RetSubmit config = host.control(getDescriptor(2, 0, total));
    ASSERT_EQ(config.data.size(), total);
    ASSERT_EQ(total, 9u + 9u + 7u + 7u);
    EXPECT_EQ(Bytes(config.data.begin() + 14, config.data.begin() + 17), (Bytes{0xFF, 0x88, 0x10}));
    EXPECT_EQ(config.data[18 + 2], 0x01); // bulk OUT
    EXPECT_EQ(config.data[18 + 3], 0x02);
    EXPECT_EQ(le16(config.data, 18 + 4), 512);
    EXPECT_EQ(config.data[25 + 2], 0x81); // bulk IN

    RetSubmit languages = host.control(getDescriptor(3, 0, 255));
    EXPECT_EQ(languages.data, (Bytes{4, 3, 0x09, 0x04}));
    RetSubmit serial = host.control(getDescriptor(3, device.data[16], 255, 0x0409));
    Bytes expected = {18, 3};
    for (char c : std::string("4A5B6C7D"))
        expected.insert(expected.end(), {static_cast<uint8_t>(c), 0});
    EXPECT_EQ(serial.data, expected);

    // What the device does not have stalls: string 9, a device qualifier, BOS.
    for (ControlSetup missing :
         {getDescriptor(3, 9, 255, 0x0409), getDescriptor(6, 0, 10), getDescriptor(15, 0, 5)})
        EXPECT_EQ(host.control(missing).status, kStatusStall);
    EXPECT_EQ(host.control(setConfiguration(2)).status, kStatusStall);

    EXPECT_EQ(host.control(setConfiguration(1)).status, 0);
    EXPECT_EQ(host.control(ControlSetup{0x80, 0x08, 0, 0, 1}).data, Bytes{1});       // GET_CONFIGURATION
    EXPECT_EQ(host.control(ControlSetup{0x01, 0x0B, 0, 0, 0}).status, 0);            // SET_INTERFACE 0/0
    EXPECT_EQ(host.control(ControlSetup{0x01, 0x0B, 1, 0, 0}).status, kStatusStall); // no alternate 1
    EXPECT_EQ(host.control(ControlSetup{0x80, 0x00, 0, 0, 2}).data, (Bytes{0, 0}));  // GET_STATUS device
}

TEST(UsbIpModule, BulkTransfersNeedAConfiguration) {
    Bench b;
    HostEnd host(b.host.connection(0, HostEnd::kWaitMs));
    EXPECT_EQ(host.bulkOut(1, kUpgradeInit).status, kStatusStall);
    EXPECT_EQ(b.module.packetsReceived(), 0u);
}

TEST(UsbIpModule, PacketOutAnswerInAndAnInUrbWaitsForData) {
    Bench b;
    HostEnd host = b.configured();
    RetSubmit out = host.bulkOut(1, kUpgradeInit);
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.actualLength, kUpgradeInit.size());
    RetSubmit in = host.bulkIn(1, 512);
    EXPECT_EQ(in.status, 0);
    EXPECT_TRUE(isInitReply(in.data));

    // Submitted first, the IN URB waits until the module has something to say.
    uint32_t waiting = host.submitIn(1, 512);
    EXPECT_FALSE(host.next(100)) << "an IN URB answered without data";
    Submit urb;
    urb.ep = 1;
    urb.bufferLength = static_cast<uint32_t>(kUpgradeInit.size());
    urb.data = kUpgradeInit;
    uint32_t sent = host.send(urb);
    // The OUT answer and the waiting IN's data, in either order.
    bool outSeen = false, inSeen = false;
    for (int i = 0; i < 2; ++i) {
        auto reply = host.next();
        ASSERT_TRUE(reply);
        auto& ret = std::get<RetSubmit>(*reply);
        if (ret.seqnum == sent) outSeen = true;
        if (ret.seqnum == waiting) inSeen = isInitReply(ret.data);
    }
    EXPECT_TRUE(outSeen);
    EXPECT_TRUE(inSeen);
}

TEST(UsbIpModule, InUrbsSmallerThanTheAnswerTakeItInPieces) {
    Bench b;
    HostEnd host = b.configured();
    ASSERT_EQ(host.bulkOut(1, kUpgradeInit).status, 0);
    Bytes whole;
    for (int i = 0; i < 4 && whole.size() < 8; ++i)
        for (uint8_t byte : host.bulkIn(1, 3).data)
            whole.push_back(byte);
    EXPECT_EQ(whole.size(), 8u);
    EXPECT_TRUE(isInitReply(whole));
}

TEST(UsbIpModule, UnlinkedInUrbIsAnsweredOnlyByRetUnlinkAndItsDataGoToTheNext) {
    Bench b;
    HostEnd host = b.configured();
    uint32_t victim = host.submitIn(1, 512);
    uint32_t unlink = host.unlink(victim);
    auto reply = host.next();
    ASSERT_TRUE(reply);
    ASSERT_TRUE(std::holds_alternative<RetUnlink>(*reply));
    EXPECT_EQ(std::get<RetUnlink>(*reply).seqnum, unlink);
    EXPECT_EQ(std::get<RetUnlink>(*reply).status, kStatusUnlinked);

    ASSERT_EQ(host.bulkOut(1, kUpgradeInit).status, 0);
    RetSubmit in = host.bulkIn(1, 512); // answerTo fails on a RET_SUBMIT for the victim
    EXPECT_TRUE(isInitReply(in.data));

    // An URB already given back: nothing to cancel.
    auto late = host.unlink(victim);
    reply = host.next();
    ASSERT_TRUE(reply);
    EXPECT_EQ(std::get<RetUnlink>(*reply).seqnum, late);
    EXPECT_EQ(std::get<RetUnlink>(*reply).status, 0);
}

TEST(UsbIpModule, StalledEndpointStaysHaltedUntilTheHostClearsIt) {
    Bench b(faultsOf(2, 0));
    HostEnd host = b.configured();
    EXPECT_EQ(host.bulkOut(1, kUpgradeInit).status, 0);                                // transfer 1
    EXPECT_EQ(host.bulkIn(1, 512).status, kStatusStall);                               // 2: stalls IN
    EXPECT_EQ(host.bulkIn(1, 512).status, kStatusStall);                               // still halted
    EXPECT_EQ(host.control(ControlSetup{0x82, 0x00, 0, 0x81, 2}).data, (Bytes{1, 0})); // GET_STATUS: halted
    EXPECT_EQ(host.control(ControlSetup{0x02, 0x01, 0, 0x81, 0}).status, 0); // CLEAR_FEATURE(ENDPOINT_HALT)
    EXPECT_EQ(host.control(ControlSetup{0x82, 0x00, 0, 0x81, 2}).data, (Bytes{0, 0}));
    RetSubmit in = host.bulkIn(1, 512);
    EXPECT_EQ(in.status, 0);
    EXPECT_TRUE(isInitReply(in.data)) << "the answer waited through the stall";
}

TEST(UsbIpModule, ShortTransferMovesHalfOfAnOut) {
    Bench b(faultsOf(0, 1));
    HostEnd host = b.configured();
    Bytes twice = kUpgradeInit;
    twice.insert(twice.end(), kUpgradeInit.begin(), kUpgradeInit.end());
    RetSubmit out = host.bulkOut(1, twice);
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.actualLength, kUpgradeInit.size());
    EXPECT_EQ(b.module.packetsReceived(), 1u);
}

// Pinned to an endpoint, the count skips the other's transfers; each fault that
// hits is told with its number and endpoint.
TEST(UsbIpModule, FaultsPinnedToAnEndpointCountItsTransfersAlone) {
    std::vector<std::string> hits;
    UsbIpDevice::Faults faults = faultsOf(0, 2, -1, 0x01);
    faults.hit = [&hits](const char* kind, uint64_t n, uint8_t endpoint) {
        hits.push_back(std::string(kind) + " " + std::to_string(n) + " " + std::to_string(endpoint));
    };
    Bench b(faults);
    HostEnd host = b.configured();
    EXPECT_EQ(host.bulkOut(1, kUpgradeInit).status, 0); // OUT 1
    RetSubmit in = host.bulkIn(1, 512);                 // IN 1: the second transfer, not faulted
    EXPECT_EQ(in.status, 0);
    EXPECT_TRUE(isInitReply(in.data));
    Bytes twice = kUpgradeInit;
    twice.insert(twice.end(), kUpgradeInit.begin(), kUpgradeInit.end());
    EXPECT_EQ(host.bulkOut(1, twice).actualLength, kUpgradeInit.size()); // OUT 2: short
    EXPECT_EQ(hits, (std::vector<std::string>{"short 2 1"}));
}

TEST(UsbIpModule, UnpluggedInTheMiddleOfATransferItVanishesForGood) {
    Bench b(faultsOf(0, 0, static_cast<int64_t>(kUpgradeInit.size() + 2)));
    HostEnd host = b.configured();
    EXPECT_EQ(host.bulkOut(1, kUpgradeInit).status, 0);
    uint32_t cut = host.send([] {
        Submit urb;
        urb.ep = 1;
        urb.bufferLength = static_cast<uint32_t>(kUpgradeInit.size());
        urb.data = kUpgradeInit;
        return urb;
    }());
    (void)cut;
    EXPECT_TRUE(host.closed()) << "the connection outlived the unplug";
    EXPECT_TRUE(b.cable->waitPlugged(false, HostEnd::kWaitMs));
    EXPECT_EQ(b.module.packetsReceived(), 1u) << "the second packet was cut after 2 bytes";
    EXPECT_EQ(b.host.detaches(), 1u);
    EXPECT_TRUE(b.device.vanished());
    EXPECT_FALSE(b.cable->waitPlugs(2, 300)) << "a vanished device came back";
}

TEST(UsbIpModule, RebootIsAnUnplugThenAReenumerationWithTheDelay) {
    constexpr uint32_t kDelayMs = 200;
    Bench b({}, kDelayMs, 100);
    HostEnd first = b.configured();
    ASSERT_EQ(first.bulkOut(1, kUpgradeInit).status, 0);
    auto sent = std::chrono::steady_clock::now();
    ASSERT_EQ(first.bulkOut(1, kUpgradeReboot).status, 0);
    EXPECT_TRUE(first.closed());
    ASSERT_TRUE(b.cable->waitPlugs(2, 3000));
    auto back = std::chrono::steady_clock::now() - sent;
    // Away 100 ms (the module clock counts whole milliseconds), then the delay.
    EXPECT_GE(back, std::chrono::milliseconds(100 + kDelayMs - 5));

    // A fresh enumeration: unconfigured, the module answering on a new connection.
    HostEnd second(b.host.connection(1, HostEnd::kWaitMs));
    EXPECT_EQ(second.bulkOut(1, kUpgradeInit).status, kStatusStall);
    ASSERT_EQ(second.control(setConfiguration(1)).status, 0);
    ASSERT_EQ(second.bulkOut(1, kUpgradeInit).status, 0);
    EXPECT_TRUE(isInitReply(second.bulkIn(1, 512).data));
}

TEST(UsbIpModule, ModuleThatDropsItsConnectionReenumerates) {
    Bench b;
    ModuleFaults faults;
    faults.closeAfterPackets = 1;
    b.module.setFaults(faults);
    HostEnd first = b.configured();
    ASSERT_EQ(first.bulkOut(1, kUpgradeInit).status, 0);
    EXPECT_TRUE(first.closed());
    ASSERT_TRUE(b.cable->waitPlugs(2, HostEnd::kWaitMs));
    EXPECT_FALSE(b.cable->waitPlugs(3, 200)) << "re-enumerated more than once";
}

// A program prints "attached" lines and then "ready" once the first plug is
// counted: the line must be out by then.
TEST(UsbIpModule, AttachedEventIsToldBeforeThePlugCounts) {
    VirtualModule module(moduleIdentity(kSerial, kModel, 4));
    UsbIpModuleDevice device(module);
    FakeHost host;
    std::atomic<int> told{0};
    UsbIpCable::Events events;
    events.attached = [&](const std::string& label, int port) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // a slow terminal
        if (label == "4A5B6C7D" && port == 0) ++told;
    };
    UsbIpCable cable(device, host, 0x10002, events);
    ASSERT_TRUE(cable.waitPlugs(1, HostEnd::kWaitMs));
    EXPECT_EQ(told, 1);
}

// A device whose presence flickers as fast as a thread can flip it.
struct Flicker : UsbIpDevice {
    Flicker() : UsbIpDevice(Description{}) {}
    using UsbIpDevice::setPresent;
    size_t takeOut(uint8_t, const uint8_t*, size_t count) override { return count; }
};

// A cable going away while the device tells it of a change: the listener call
// in progress must finish before the cable is gone (ASan sees the difference),
// and every plug is undone.
TEST(UsbIpCable, GoesAwayWhileItsDeviceFlickers) {
    Flicker device;
    FakeHost host;
    std::atomic<bool> stop{false};
    std::thread flicker([&] {
        for (bool on = true; !stop; on = !on)
            device.setPresent(on);
    });
    for (int i = 0; i < 30; ++i) {
        UsbIpCable cable(device, host, 0x10002, UsbIpCable::Events{});
        cable.waitPlugs(1, 20);
    }
    stop = true;
    flicker.join();
    EXPECT_EQ(host.detaches(), host.attaches()) << "a cable went with its device still plugged";
}

TEST(UsbIpModule, HostThatHangsUpOrBreaksTheProtocolUnplugsTheDevice) {
    Bench b;
    HostEnd host = b.configured();
    host.sendBytes(Bytes(48, 0xEE));
    EXPECT_TRUE(host.closed());
    EXPECT_TRUE(b.cable->waitPlugged(false, HostEnd::kWaitMs));
    EXPECT_FALSE(b.cable->waitPlugs(2, 200)) << "plugged again into a host that dropped it";
}

} // namespace

// A host that stops reading while the device still answers: the device's
// writer blocks, and unplugging must still end at once, not wait on it.
TEST(UsbIpCable, UnplugsAHostThatStoppedReading) {
    auto b = std::make_unique<Bench>();
    int fd = b->host.connection(0, HostEnd::kWaitMs);
    ASSERT_GE(fd, 0);
    // Requests until neither side takes more: the device is stuck answering.
    Bytes request = encode(Submit{1, 0, kDirIn, 0, 0, 18, 0, 0, 0, getDescriptor(1, 0, 18).encode(), {}});
    size_t sent = 0;
    int refused = 0; // in a row: the device has stopped taking requests
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
         refused < 200 && std::chrono::steady_clock::now() < until;) {
        ssize_t n = ::send(fd, request.data(), request.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            refused = 0;
        } else {
            ++refused;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ASSERT_EQ(refused, 200) << "the device kept reading";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    std::atomic<bool> gone{false};
    std::thread unplug([&] {
        b.reset();
        gone = true;
    });
    for (int i = 0; i < 200 && !gone; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    bool goneInTime = gone;
    // Unstick a device that did not let go, so the test ends either way.
    uint8_t sink[65536];
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         !gone && std::chrono::steady_clock::now() < until;)
        if (::recv(fd, sink, sizeof sink, MSG_DONTWAIT) <= 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!gone) std::abort(); // stuck for good: no way to end the thread
    unplug.join();
    EXPECT_TRUE(goneInTime) << "the cable waited on a host that does not read";
}

// An IN URB is never answered with more bytes than its buffer holds, whatever
// fault shortens it (a short transfer into an empty buffer stays empty).
TEST(UsbIpModule, InAnswerNeverExceedsTheUrbsBuffer) {
    Bench b(faultsOf(0, 1, -1, 0x81));
    HostEnd host = b.configured();
    ASSERT_EQ(host.bulkOut(1, kUpgradeInit).status, 0);
    RetSubmit empty = host.bulkIn(1, 0);
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.actualLength, 0u);
    EXPECT_TRUE(empty.data.empty());
    EXPECT_TRUE(isInitReply(host.bulkIn(1, 512).data)) << "bytes of the answer were lost";
}
