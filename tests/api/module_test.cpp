// Module: connecting and automatic networking, copies, the module information
// requests and the echo test, with their failure rows.
#include <gtest/gtest.h>

#include "ApiFixtures.h"
#include "RunningProgram.h"

using namespace ApiTest;

namespace {

TEST(Module, ConnectingLearnsTheAddressOverEachTransport) {
    for (Carrier carrier : {Carrier::Tcp, Carrier::Pty, Carrier::Usb}) {
        ModuleOn device(carrier, identity(10, 0x2233));
        Module module(0, 0);
        ASSERT_EQ(connectModule(module, device.spec()), aErrNone) << carrierName(carrier);
        EXPECT_EQ(module.getModuleAddress(), 10) << carrierName(carrier);
        EXPECT_EQ(module.connectFromSpec(device.spec()), aErrBusy);
        linkSpec spec;
        ASSERT_EQ(module.getLinkSpecifier(&spec), aErrNone);
        EXPECT_EQ(spec.serialNumber, 0x2233u);
    }
}

TEST(Module, UnansweredAddressQueriesLeaveItConnectedButNotReady) {
    ModuleOn device(Carrier::Tcp, identity(10, 0x2233));
    device.fault("sync", ReplyFaultKind::NoReply, 0, 4);
    Module module(2, 0);
    EXPECT_EQ(connectModule(module, device.spec()), aErrNotReady);
    EXPECT_TRUE(module.isConnected());
    EXPECT_EQ(module.getModuleAddress(), 2) << "the address set before stays";
    unsigned int build = 0;
    EXPECT_EQ(module.getBuild(&build), aErrTimeout) << "requests go to address 2, where nobody is";
}

TEST(Module, ReconnectOpensTheStoredSpecifierAgain) {
    ConnectedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    EXPECT_EQ(m.module.reconnect(), aErrConnection) << "a reference is still held";
    EXPECT_EQ(m.module.disconnect(), aErrNone);
    EXPECT_FALSE(m.module.isConnected());
    EXPECT_EQ(m.module.getStatus(), UNKNOWN_ERROR);
    EXPECT_EQ(m.module.reconnect(), aErrNone);
    EXPECT_TRUE(m.module.isConnected());
}

TEST(Module, ConnectNeedsASerialNumberAndDiscovery) {
    // The virtual module outlives the modules connected to it: the virtual bus
    // cannot unplug a device while a link has it open.
    ModuleOn device(Carrier::Usb, identity(4, 0x5150));
    Module module(0, 0);
    EXPECT_EQ(module.connect(USB, 0), aErrParam);
    ASSERT_EQ(module.setConfig(directConfig()), aErrNone);
    EXPECT_EQ(module.connect(USB, 0x5150), aErrNone);
    EXPECT_EQ(module.getModuleAddress(), 4);
    Module any(0, 0);
    any.setConfig(directConfig());
    EXPECT_EQ(any.discoverAndConnect(USB, 0), aErrNone) << "the first module of any model";
}

TEST(Module, FallbackToALinkSharingServer) {
    // Another process holds the only module and shares it; none is on this USB.
    RunningProgram server(std::string(VELTRANO_BIN_DIR) + "/sharedmodule",
                          {"--serial", "5A4E0002", "--model", "9", "--address", "8"});
    ASSERT_EQ(server.firstLine().rfind("asolvan 127.0.0.1:", 0), 0u);
    ASSERT_EQ(server.nextLine(), "ready");
    Module module(0, 0);
    ASSERT_EQ(module.discoverAndConnect(USB, 0), aErrNone);
    linkSpec spec;
    ASSERT_EQ(module.getLinkSpecifier(&spec), aErrNone);
    EXPECT_EQ(spec.type, ASOLVAN);
    EXPECT_EQ(spec.serialNumber, 0x5A4E0002u);
    EXPECT_EQ(module.getModuleAddress(), 8);
    unsigned int build = 0;
    EXPECT_EQ(module.getBuild(&build), aErrNone) << "requests go through the server";

    Module direct(0, 0);
    aSolvanConfig config = directConfig();
    config.allowFallback = 1;
    ASSERT_EQ(direct.setConfig(config), aErrNone);
    EXPECT_EQ(direct.discoverAndConnect(USB, 0), aErrConfiguration) << "ASOLVAN refused without sharing";
}

TEST(Module, CopiesShareTheLink) {
    ConnectedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    auto copy = std::make_unique<Module>(m.module);
    EXPECT_EQ(copy->getLink(), m.module.getLink());
    EXPECT_EQ(copy->getModuleAddress(), 4);
    copy.reset();
    EXPECT_TRUE(m.module.isConnected()) << "the link outlives a copy";
    Module assigned;
    assigned = m.module;
    EXPECT_TRUE(assigned.isConnected());
}

TEST(Module, BuildNumber) {
    ModuleIdentity id = identity(4, 0x40F5849A);
    id.build = 99528558; // the reply 0x49 0xFF 0x05 0xEE 0xAF 0x6E
    ConnectedModule m(id);
    ASSERT_EQ(m.connected, aErrNone);
    unsigned int build = 0;
    EXPECT_EQ(m.module.getBuild(nullptr), aErrParam);
    EXPECT_EQ(m.module.getBuild(&build), aErrNone);
    EXPECT_EQ(build, 99528558u);

    m.device.fault("build", ReplyFaultKind::Short);
    build = 7;
    EXPECT_EQ(m.module.getBuild(&build), aErrSize);
    EXPECT_EQ(build, 7u);
    m.device.fault("build", ReplyFaultKind::NoReply);
    EXPECT_EQ(m.module.getBuild(&build), aErrTimeout);

    Module unconnected;
    EXPECT_EQ(unconnected.getBuild(&build), aErrConnection);
}

TEST(Module, InformationRequests) {
    ConnectedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    EXPECT_EQ(m.module.hasUEI(3, 9, 0, 0x40), aErrNone);
    EXPECT_EQ(m.module.hasUEI(3, 9, 0, 0x80), aErrUnimplemented) << "the serial number cannot be set";
    EXPECT_EQ(m.module.hasUEI(30, 1, 0, 0), aErrUnimplemented);

    uint64_t before = m.device.module().packetsReceived();
    EXPECT_EQ(m.module.hasUEI(3, 9, 0, 0xC0), aErrParam);
    EXPECT_EQ(m.module.hasUEI(3, 9, 0, 0x41), aErrParam);
    EXPECT_EQ(m.device.module().packetsReceived(), before) << "nothing sent";

    unsigned char count = 9;
    EXPECT_EQ(m.module.classQuantity(3, &count), aErrNone);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(m.module.classQuantity(30, &count), aErrNone);
    EXPECT_EQ(count, 0);
    count = 9;
    EXPECT_EQ(m.module.subClassQuantity(3, 0, &count), aErrNone);
    EXPECT_EQ(count, 0);
    unsigned char group = 9;
    EXPECT_EQ(m.module.entityGroup(3, 0, &group), aErrNone);
    EXPECT_EQ(group, 0);
}

TEST(Module, InformationFailureRows) {
    ConnectedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    struct Row {
        const char* request;
        ReplyFaultKind kind;
        aErr expected;
    };
    const Row rows[] = {
        {"has-uei", ReplyFaultKind::Corrupt, aErrUnknown},
        {"has-uei", ReplyFaultKind::Short, aErrUnknown},
        {"has-uei", ReplyFaultKind::NoReply, aErrTimeout},
        {"class-quantity", ReplyFaultKind::Corrupt, aErrUnknown},
        {"class-quantity", ReplyFaultKind::ErrorReply, aErrUnknown},
        {"subclass-quantity", ReplyFaultKind::Short, aErrUnknown},
        {"entity-group", ReplyFaultKind::Corrupt, aErrUnknown},
    };
    for (const Row& row : rows) {
        m.device.fault(row.request, row.kind);
        unsigned char value = 9;
        aErr err;
        if (std::string(row.request) == "has-uei")
            err = m.module.hasUEI(3, 9, 0, 0x40);
        else if (std::string(row.request) == "class-quantity")
            err = m.module.classQuantity(3, &value);
        else if (std::string(row.request) == "subclass-quantity")
            err = m.module.subClassQuantity(3, 0, &value);
        else
            err = m.module.entityGroup(3, 0, &value);
        EXPECT_EQ(err, row.expected) << row.request << " fault " << int(row.kind);
        if (std::string(row.request) != "has-uei") {
            EXPECT_EQ(value, 0) << row.request;
        }
    }
}

TEST(Module, EchoTest) {
    ConnectedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    const unsigned char bytes[] = {1, 2, 3, 0xFE};
    EXPECT_EQ(m.module.debug(bytes, sizeof bytes), aErrNone);
    EXPECT_EQ(m.module.debug(nullptr, 0), aErrNone);
    m.device.fault("echo", ReplyFaultKind::Corrupt);
    EXPECT_EQ(m.module.debug(bytes, sizeof bytes), aErrIO);
    m.device.fault("echo", ReplyFaultKind::Short);
    EXPECT_EQ(m.module.debug(bytes, sizeof bytes), aErrIO);
    m.device.fault("echo", ReplyFaultKind::NoReply);
    EXPECT_EQ(m.module.debug(bytes, sizeof bytes), aErrTimeout);
}

} // namespace
