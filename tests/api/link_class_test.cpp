// Link: the specifier record, connecting over each transport, raw packets and
// UEI exchanges, copies, connecting through another link, and the packet log.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <future>
#include <thread>

#include "ApiFixtures.h"
#include "aTime.h"

using namespace ApiTest;

namespace {

TEST(LinkSpec, CreateCopyAndDestroy) {
    linkSpec* spec = aLinkSpec_Create(TCPIP);
    ASSERT_NE(spec, nullptr);
    const uint8* bytes = reinterpret_cast<const uint8*>(spec);
    EXPECT_EQ(bytes[0], TCPIP);
    for (size_t i = 1; i < sizeof *spec; ++i)
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
    spec->serialNumber = 0x40F5849A;
    spec->ipPort = 7978;
    linkSpec* copy = aLinkSpec_Copy(*spec);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::memcmp(copy, spec, sizeof *spec), 0);
    // Little-endian fields at their fixed offsets.
    EXPECT_EQ(reinterpret_cast<const uint8*>(copy)[4], 0x9A);
    EXPECT_EQ(reinterpret_cast<const uint8*>(copy)[28], 7978 & 0xFF);
    EXPECT_EQ(aLinkSpec_Destroy(&spec), aErrNone);
    EXPECT_EQ(spec, nullptr);
    EXPECT_EQ(aLinkSpec_Destroy(&spec), aErrParam);
    aLinkSpec_Destroy(&copy);
}

class LinkOverCarrier : public ::testing::TestWithParam<Carrier> {};

TEST_P(LinkOverCarrier, ConnectsAsksTheAddressAndExchangesPackets) {
    ModuleOn device(GetParam(), identity(6, 0x0000ABCD));
    Link link(device.spec(), "bench link");
    EXPECT_STREQ(link.getName(), "bench link");
    EXPECT_EQ(link.getStatus(), UNKNOWN_ERROR);
    ASSERT_EQ(link.setConfig(directConfig()), aErrNone);
    ASSERT_EQ(link.connect(), aErrNone);
    EXPECT_TRUE(link.isConnected());
    EXPECT_EQ(link.getStatus(), RUNNING);

    unsigned char address = 0;
    EXPECT_EQ(link.getModuleAddress(&address), aErrNone);
    EXPECT_EQ(address, 6);

    const unsigned char getSerial[] = {0x49, 0x20};
    ASSERT_EQ(link.sendPacket(6, 3, sizeof getSerial, getSerial), aErrNone);
    const unsigned char match[] = {3, 0x09};
    unsigned char length = sizeof match;
    unsigned char data[28];
    ASSERT_EQ(link.receivePacket(6, match, &length, data), aErrNone);
    EXPECT_EQ(Bytes(data, data + length), (Bytes{3, 0x09, 0x00, 0x00, 0x00, 0xAB, 0xCD}));

    length = sizeof match;
    EXPECT_EQ(link.receivePacket(6, match, &length, data), aErrTimeout) << "nothing more arrives";
    EXPECT_EQ(link.disconnect(), aErrNone);
    EXPECT_FALSE(link.isConnected());
    EXPECT_EQ(link.getStatus(), UNKNOWN_ERROR);
}

INSTANTIATE_TEST_SUITE_P(Carriers, LinkOverCarrier,
                         ::testing::Values(Carrier::Tcp, Carrier::Pty, Carrier::Usb),
                         [](const auto& info) { return carrierName(info.param); });

TEST(Link, SendPacketChecksConnectionThenLengthThenAddress) {
    ModuleOn device(Carrier::Tcp);
    Link link(device.spec(), "Link");
    const unsigned char data[28] = {};
    struct Case {
        unsigned char module, length;
        aErr connected;
    };
    const Case cases[] = {
        {0, 28, aErrParam}, {4, 28, aErrParam}, {0, 27, aErrPacket}, {5, 27, aErrPacket}, {4, 27, aErrNone}};
    for (const Case& c : cases)
        EXPECT_EQ(link.sendPacket(c.module, 3, c.length, data), aErrConnection) << "not connected";
    ASSERT_EQ(link.connect(), aErrNone);
    for (const Case& c : cases)
        EXPECT_EQ(link.sendPacket(c.module, 3, c.length, data), c.connected)
            << "module " << int(c.module) << " length " << int(c.length);
}

TEST(Link, StateChangesAreRefusedWhileConnected) {
    ModuleOn device(Carrier::Tcp);
    Link link(device.spec(), "Link");
    ASSERT_EQ(link.connect(), aErrNone);
    EXPECT_EQ(link.connect(), aErrConnection);
    EXPECT_EQ(link.setConfig(directConfig()), aErrMode);
    EXPECT_EQ(link.setLinkSpecifier(device.spec()), aErrBusy);
    EXPECT_EQ(link.enablePooledPackets(true), aErrNone);
    EXPECT_EQ(link.reset(), aErrNone);
    EXPECT_TRUE(link.isConnected());
}

TEST(Link, SpecifiersThatCannotBeOpened) {
    Link none;
    EXPECT_EQ(none.connect(), aErrConfiguration) << "no specifier";
    linkSpec spec{};
    EXPECT_EQ(none.getLinkSpecifier(&spec), aErrNotFound);

    spec.type = ASOLVAN;
    Link direct(spec, "Link");
    ASSERT_EQ(direct.setConfig(directConfig()), aErrNone);
    EXPECT_EQ(direct.connect(), aErrConfiguration) << "sharing is off";

    spec.type = static_cast<linkType>(9);
    Link unknown(spec, "Link");
    EXPECT_EQ(unknown.connect(), aErrMode);

    spec.type = TCPIP;
    spec.ipAddress = 0x0100007F;
    spec.ipPort = 1; // nothing listens there
    Link refused(spec, "Link");
    EXPECT_EQ(refused.connect(), aErrConnection);
    EXPECT_EQ(refused.getStatus(), UNKNOWN_ERROR);
}

TEST(Link, SharedUsbOpensBehindAServerThatOthersJoin) {
    ModuleOn device(Carrier::Usb);
    Link first(device.spec(), "first");
    ASSERT_EQ(first.connect(), aErrNone) << "the default configuration shares USB through a server";
    aSolvanConfig config;
    ASSERT_EQ(first.getConfig(&config), aErrNone);
    EXPECT_NE(config.serverPort, 0) << "the server's port is written back";
    EXPECT_EQ(config.interfaceAddress, kLoopbackInterface);

    Link second(device.spec(), "second");
    ASSERT_EQ(second.connect(), aErrNone) << "a second USB Link joins the server";
    aSolvanConfig joined;
    second.getConfig(&joined);
    EXPECT_EQ(joined.serverPort, config.serverPort);

    linkSpec spec = device.spec();
    spec.type = ASOLVAN;
    spec.ipAddress = config.interfaceAddress;
    spec.ipPort = config.serverPort;
    Link client(spec, "client");
    ASSERT_EQ(client.connect(), aErrNone);
    for (Link* link : {&first, &second, &client}) {
        unsigned char address = 0;
        EXPECT_EQ(link->getModuleAddress(&address), aErrNone) << link->getName();
        EXPECT_EQ(address, device.module().identity().address) << link->getName();
    }
}

// A connect that finds the engine link but never sees it run must give its
// reference back: otherwise every later connect is refused without trying and
// the engine link outlives all of its real users.
TEST(Link, FailedConnectReleasesItsReference) {
    ModuleOn device(Carrier::Tcp);
    Link first(device.spec(), "first");
    ASSERT_EQ(first.connect(), aErrNone);
    // The link loses step and never gets it back.
    device.loseStep();
    unsigned char address;
    first.getModuleAddress(&address);
    ASSERT_TRUE(eventuallyTrue([&] { return first.getStatus() != RUNNING; }));

    Link second(device.spec(), "second");
    EXPECT_EQ(second.connect(), aErrConnection) << "the shared engine link does not run";
    EXPECT_EQ(second.getStatus(), UNKNOWN_ERROR) << "no reference kept";

    first.disconnect();
    device.clearFaults();
    EXPECT_EQ(second.connect(), aErrNone) << "a fresh engine link, not the stale one";
    EXPECT_TRUE(eventuallyTrue([&] { return device.module().linkControl().routeForced(); }));
}

// Any thread may use a Link: two connecting it at once hold one engine
// reference between them, so disconnecting lets the engine link go.
TEST(Link, ConcurrentConnectsHoldOneReference) {
    ModuleOn device(Carrier::Tcp);
    for (int round = 0; round < 3; ++round) {
        Link link(device.spec(), "Link");
        std::promise<void> go;
        std::shared_future<void> started = go.get_future().share();
        aErr results[2] = {aErrUnknown, aErrUnknown};
        std::thread connecting[2];
        for (int i = 0; i < 2; ++i)
            connecting[i] = std::thread([&, i] {
                started.wait();
                results[i] = link.connect();
            });
        go.set_value();
        for (std::thread& thread : connecting)
            thread.join();
        EXPECT_EQ((results[0] == aErrNone) + (results[1] == aErrNone), 1) << results[0] << " " << results[1];
        EXPECT_TRUE(results[0] == aErrConnection || results[1] == aErrConnection);
        link.disconnect();
        EXPECT_TRUE(eventuallyTrue([&] { return !device.module().linkControl().routeForced(); }))
            << "round " << round << ": an engine reference outlives the link";
    }
}

TEST(Link, CopiesShareOneStateAndTheLastReleasesIt) {
    ModuleOn device(Carrier::Tcp);
    auto original = std::make_unique<Link>(device.spec(), "Link");
    ASSERT_EQ(original->connect(), aErrNone);
    Link copy(*original);
    Link assigned;
    assigned = copy;
    original.reset();
    EXPECT_TRUE(copy.isConnected()) << "the copies keep the state alive";
    EXPECT_EQ(assigned.disconnect(), aErrNone);
    EXPECT_FALSE(copy.isConnected()) << "one state: disconnecting one disconnects all";
    EXPECT_TRUE(eventuallyTrue([&] { return !device.module().linkControl().routeForced(); }));
}

TEST(Link, ConnectThroughAnotherLinkSharesItAndLetsGoOfTheOldOne) {
    ModuleOn router(Carrier::Tcp);
    ModuleOn elsewhere(Carrier::Tcp, identity(8, 0x11));
    Link routerLink(router.spec(), "router");
    Link link(elsewhere.spec(), "Link");
    EXPECT_EQ(link.connectThroughLinkModule(routerLink), aErrInitialization) << "the router holds no link";
    ASSERT_EQ(routerLink.connect(), aErrNone);

    // The link holds a reference to another module's engine link, which has
    // lost step, so its specifier may change.
    ASSERT_EQ(link.connect(), aErrNone);
    elsewhere.loseStep();
    unsigned char address = 0;
    link.getModuleAddress(&address);
    ASSERT_TRUE(eventuallyTrue([&] { return !link.isConnected(); }));
    Link copy(link);
    EXPECT_EQ(copy.connectThroughLinkModule(link), aErrConnection)
        << "through its own state: what it holds does not run";
    ASSERT_EQ(link.setLinkSpecifier(router.spec()), aErrNone);
    ASSERT_TRUE(elsewhere.module().linkControl().routeForced());

    ASSERT_EQ(link.connectThroughLinkModule(routerLink), aErrNone);
    EXPECT_TRUE(eventuallyTrue([&] { return !elsewhere.module().linkControl().routeForced(); }))
        << "the reference held before is released";
    routerLink.disconnect();
    ASSERT_EQ(link.getModuleAddress(&address), aErrNone) << "one engine link, counted for both";
    EXPECT_EQ(address, 4);
}

TEST(Link, UEIRequestsAndRepliesAndDroppingStaleReplies) {
    ModuleOn device(Carrier::Tcp);
    Link link(device.spec(), "Link");
    ASSERT_EQ(link.connect(), aErrNone);
    uei request{};
    request.module = 4;
    request.command = 3;
    request.option = 0x49;
    request.specifier = 0x20;
    request.type = ueiNone;
    ASSERT_EQ(link.sendUEI(request), aErrNone);
    uei reply{};
    reply.value.uiVal = 0xFFFFFFFF;
    ASSERT_EQ(link.receiveUEI(4, 3, 9, 0, &reply), aErrNone);
    EXPECT_EQ(reply.type, ueiInt);
    EXPECT_EQ(reply.value.uiVal, 0x40F5849Au);

    ASSERT_EQ(link.sendUEI(request), aErrNone);
    ASSERT_EQ(link.sendUEI(request), aErrNone);
    aTime_MSSleep(100);
    EXPECT_EQ(link.dropMatchingUEIPackets(4, 3, 9, 0), aErrNone);
    EXPECT_EQ(link.receiveUEI(4, 3, 9, 0, &reply), aErrTimeout);
    EXPECT_EQ(reply.value.uiVal, 0u) << "cleared, not left holding an earlier value";

    // A serial number one byte short fits no value type.
    device.fault("system.get", ReplyFaultKind::Short);
    ASSERT_EQ(link.sendUEI(request), aErrNone);
    EXPECT_EQ(link.receiveUEI(4, 3, 9, 0, &reply), aErrSize);
    device.clearFaults();

    request.module = 5;
    EXPECT_EQ(link.sendUEI(request), aErrPacket);
    request.module = 4;
    request.type = ueiBytes;
    EXPECT_EQ(link.sendUEI(request, 1), aErrParam) << "a streamed value takes no subindex";
}

// The count of a streamed get is the caller's: one already at or past the
// end of the buffer takes nothing more, however far past it is.
TEST(Link, StreamedChunkNeverLandsBeyondTheBuffer) {
    uint8 data[28] = {3, 32, 0};
    data[27] = 0x80; // chunk 0 of several: 24 bytes
    aPacket* chunk = aPacket_CreateWithData(4, sizeof data, data);
    ASSERT_NE(chunk, nullptr);
    uint8 buffer[64] = {};
    for (uint32 have : {64u, 65u, 0xFFFFFFF0u}) {
        uint32 received = have;
        uei record{};
        record.type = ueiBytes;
        record.value.bytes = ueiBytesValue{buffer, 0, false, sizeof buffer, &received};
        EXPECT_EQ(Link::sDecodeUEIReply(chunk, &record), aErrMemory) << have;
        EXPECT_EQ(received, have);
    }
    aPacket_Destroy(&chunk);
}

std::string tempPath(const char* name) {
    return std::string(::testing::TempDir()) + "/" + name + std::to_string(::getpid());
}

TEST(Link, PacketLogWritesLinesAndGoesWithTheLink) {
    ModuleOn device(Carrier::Tcp);
    Link link(device.spec(), "Link");
    std::string path = tempPath("packets");
    ::unlink(path.c_str());
    EXPECT_EQ(link.enablePacketLog(path.c_str()), aErrConfiguration) << "not connected";
    size_t descriptors = openDescriptors();
    ASSERT_EQ(link.connect(), aErrNone);
    ASSERT_EQ(link.enablePacketLog(path.c_str()), aErrNone);
    unsigned char address;
    ASSERT_EQ(link.getModuleAddress(&address), aErrNone);
    // The writer thread writes lines as they come: wait for both whole lines.
    ASSERT_TRUE(eventuallyTrue([&] {
        const std::string text = readFile(path);
        return text.find("2 < 0x4 0x0") != std::string::npos &&
               text.find("2 > 0xAD 0x0 \r\n") != std::string::npos;
    }));
    std::string text = readFile(path);
    EXPECT_NE(text.find("6 < START\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("2 > 0xAD 0x0 \r\n"), std::string::npos) << text;
    EXPECT_EQ(link.disablePacketLog(), aErrNone);

    // After an engine reset the ring is gone: the writer must wait, not spin.
    ASSERT_EQ(link.enablePacketLog(path.c_str()), aErrNone);
    link.reset();
    double before = processCpuMs();
    aTime_MSSleep(300);
    EXPECT_LT(processCpuMs() - before, 150.0) << "the log writer spins on a reset link";

    link.disconnect();
    EXPECT_TRUE(eventuallyTrue([&] { return openDescriptors() == descriptors; }))
        << "the log file closes with the link";
    ::unlink(path.c_str());
}

// A packet log enabled while another thread disconnects either goes with the
// link or is never made: no logger stays behind on a released link, holding
// its file and polling for ever.
TEST(Link, PacketLogEnabledDuringADisconnectDoesNotStayBehind) {
    ModuleOn device(Carrier::Tcp);
    std::string path = tempPath("racing-packets");
    size_t descriptors = openDescriptors();
    for (int round = 0; round < 5; ++round) {
        Link link(device.spec(), "Link");
        ASSERT_EQ(link.connect(), aErrNone);
        std::promise<void> go;
        std::shared_future<void> started = go.get_future().share();
        std::thread disconnecting([&] {
            started.wait();
            link.disconnect();
        });
        go.set_value();
        // Enabled again and again until the disconnect takes the reference.
        for (int tries = 0; tries < 100000 && link.enablePacketLog(path.c_str()) == aErrNone; ++tries) {
        }
        disconnecting.join();
        EXPECT_EQ(link.getStatus(), UNKNOWN_ERROR);
        EXPECT_TRUE(eventuallyTrue([&] { return openDescriptors() == descriptors; }, 500))
            << "round " << round << ": the log file is still open after the disconnect";
        if (HasFailure()) break;
    }
    ::unlink(path.c_str());
}

} // namespace

// A connect and a disconnect of a USB Link, shared through a server (the default)
// and direct: none waits out a read of the module (about a second) or a poll of
// the sharing tasks. The best of three rounds, so a busy machine's stall does not
// decide; each round once took over a second.
TEST(Link, UsbConnectAndDisconnectWaitForNoPollPeriod) {
    const uint32_t kBoundMs = 300;
    ModuleOn device(Carrier::Usb);
    struct Case {
        const char* name;
        bool shared;
    } cases[] = {{"shared through a server", true}, {"direct", false}};
    for (const Case& c : cases) {
        uint32_t bestConnect = UINT32_MAX, bestDisconnect = UINT32_MAX;
        for (int round = 0; round < 3; ++round) {
            Link link(device.spec(), "timed");
            if (!c.shared) {
                ASSERT_EQ(link.setConfig(directConfig()), aErrNone);
            }
            uint32_t start = aTime_GetMSTicks();
            ASSERT_EQ(link.connect(), aErrNone) << c.name;
            bestConnect = std::min(bestConnect, aTime_GetMSTicks() - start);
            unsigned char address = 0;
            ASSERT_EQ(link.getModuleAddress(&address), aErrNone) << c.name;
            start = aTime_GetMSTicks();
            link.disconnect();
            bestDisconnect = std::min(bestDisconnect, aTime_GetMSTicks() - start);
            EXPECT_TRUE(eventuallyTrue([&] { return !device.module().linkControl().routeForced(); }))
                << c.name;
        }
        std::printf("USB Link %s: connect %u ms, disconnect %u ms\n", c.name, bestConnect, bestDisconnect);
        EXPECT_LT(bestConnect, kBoundMs) << c.name;
        EXPECT_LT(bestDisconnect, kBoundMs) << c.name;
    }
}
