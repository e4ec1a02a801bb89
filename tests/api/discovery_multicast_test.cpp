// Multicast discovery over veth pairs to a namespace of the test's own, where the
// discovery responder answers for its modules.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <memory>
#include <set>

#include "DiscoveryHarness.h"
#include "DiscoveryResponder.h"
#include "Testbed.h"
#include "Required.h"

namespace {

using namespace ApiTest;
using Veltrano::Sim::DiscoveryModule;
using Veltrano::Sim::DiscoveryResponder;
using Veltrano::Sim::DiscoveryResponderOptions;

DiscoveryModule moduleA() {
    DiscoveryModule m;
    m.serialNumber = 0x40F5849A;
    m.address = 6;
    m.tcpPort = 7978;
    m.model = 0x13;
    return m;
}

DiscoveryModule moduleB() {
    DiscoveryModule m;
    m.serialNumber = 0x0BADCAFE;
    m.address = 2;
    m.tcpPort = 8001;
    m.model = 0x04;
    return m;
}

linkSpec tcpSpec(const DiscoveryModule& m, const std::string& from) {
    linkSpec spec = {};
    spec.type = TCPIP;
    spec.serialNumber = m.serialNumber;
    spec.routerSerialNumber = m.serialNumber;
    spec.moduleAddress = m.address;
    spec.routerAddress = m.address;
    spec.ipPort = m.tcpPort;
    spec.model = m.model;
    spec.ipAddress = ipv4(from.c_str());
    return spec;
}

bool same(const linkSpec& a, const linkSpec& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class MulticastDiscovery : public ::testing::Test {
  protected:
    void SetUp() override {
        VELTRANO_REQUIRE(Testbed::unavailableReason());
        testbed_ = std::make_unique<Testbed>();
    }

    std::unique_ptr<DiscoveryResponder> responder(DiscoveryResponderOptions options) {
        std::unique_ptr<DiscoveryResponder> r;
        testbed_->inFar([&] { r = std::make_unique<DiscoveryResponder>(options); });
        return r;
    }

    std::unique_ptr<Testbed> testbed_;
};

TEST_F(MulticastDiscovery, ModuleAnswersThroughTheInterfaceAndIsFoundAtItsAddress) {
    VethLink link = testbed_->addLink();
    auto far = responder({{link.farAddress}, {moduleA(), moduleB()}, {}});
    DiscoveryRun run = discover(TCPIP);
    EXPECT_EQ(run.count, 2);
    ASSERT_EQ(run.specs.size(), 2u);
    EXPECT_TRUE(same(run.specs[0], tcpSpec(moduleA(), link.farAddress)));
    EXPECT_TRUE(same(run.specs[1], tcpSpec(moduleB(), link.farAddress)));
    EXPECT_EQ(far->requests(), 1u);
    // Discovery listens until replies have stopped for the quiet time.
    EXPECT_GE(run.seconds, 1.9);
    EXPECT_LT(run.seconds, 5.0);
}

TEST_F(MulticastDiscovery, TwoInterfacesToTheSameModuleReportItTwice) {
    VethLink first = testbed_->addLink();
    VethLink second = testbed_->addLink();
    auto far = responder({{first.farAddress, second.farAddress}, {moduleA()}, {}});
    DiscoveryRun run = discover(TCPIP);
    EXPECT_EQ(run.count, 2);
    EXPECT_EQ(far->requests(), 2u);
    std::set<uint32> from;
    for (const linkSpec& spec : run.specs) {
        EXPECT_EQ(spec.serialNumber, moduleA().serialNumber);
        from.insert(spec.ipAddress);
    }
    EXPECT_EQ(from, (std::set<uint32>{ipv4(first.farAddress.c_str()), ipv4(second.farAddress.c_str())}));
}

// Datagrams on the reply port that are not replies are skipped, whatever their length,
// also one too long for the receive buffer; the replies after them still count.
TEST_F(MulticastDiscovery, StrayDatagramsBeforeTheRepliesHideNoModule) {
    VethLink link = testbed_->addLink();
    std::vector<std::string> strays = {std::string(15, '\1'), std::string(17, '\1'), std::string(40, '\1'),
                                       std::string(1400, '\1'), std::string()};
    auto far = responder({{link.farAddress}, {moduleA(), moduleB()}, strays});
    DiscoveryRun run = discover(TCPIP);
    EXPECT_EQ(run.count, 2);
    ASSERT_EQ(run.specs.size(), 2u);
    EXPECT_EQ(run.specs[0].serialNumber, moduleA().serialNumber);
    EXPECT_EQ(run.specs[1].serialNumber, moduleB().serialNumber);
}

TEST_F(MulticastDiscovery, CallbackEndsDiscoveryAndFindPicksOneModule) {
    VethLink link = testbed_->addLink();
    auto far = responder({{link.farAddress}, {moduleA(), moduleB()}, {}});
    DiscoveryRun first = discover(TCPIP, 0, 1);
    EXPECT_EQ(first.count, 1);
    EXPECT_LT(first.seconds, 1.5);

    linkSpec* found = aDiscovery_FindModule(TCPIP, moduleB().serialNumber, 0);
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(same(*found, tcpSpec(moduleB(), link.farAddress)));
    aLinkSpec_Destroy(&found);

    linkSpec* any = aDiscovery_FindFirstModule(TCPIP, 0);
    ASSERT_NE(any, nullptr);
    EXPECT_EQ(any->serialNumber, moduleA().serialNumber);
    aLinkSpec_Destroy(&any);
}

TEST_F(MulticastDiscovery, NoAnswerEndsAfterTheQuietTime) {
    testbed_->addLink();
    DiscoveryRun run = discover(TCPIP);
    EXPECT_EQ(run.count, 0);
    EXPECT_GE(run.seconds, 1.9);
    EXPECT_LT(run.seconds, 4.0);
    std::printf("multicast discovery, no module answering: %.3f s\n", run.seconds);
    RecordProperty("seconds_no_answer", std::to_string(run.seconds));
}

// Traffic on the reply port that is not a reply does not keep discovery listening.
TEST_F(MulticastDiscovery, StrayTrafficDoesNotHoldDiscovery) {
    testbed_->addLink();
    UdpFlooder strays("127.0.0.1", 9889, std::string(40, '\1'), 20);
    DiscoveryRun run = discover(TCPIP);
    EXPECT_EQ(run.count, 0);
    EXPECT_LT(run.seconds, 4.0);
    EXPECT_GT(strays.sent(), 50u);
}

// A host that never stops answering: discovery still ends at its deadline, and the count
// holds at 255 instead of wrapping.
TEST_F(MulticastDiscovery, EndlessRepliesEndAtTheDeadlineWithTheCountHeldAt255) {
    testbed_->addLink();
    UdpFlooder replies("127.0.0.1", 9889, DiscoveryResponder::reply(moduleA()), 3);
    DiscoveryRun run = discover(TCPIP);
    EXPECT_EQ(run.count, 255);
    EXPECT_GT(run.specs.size(), 300u);
    EXPECT_GE(run.seconds, 9.9);
    EXPECT_LT(run.seconds, 13.0);
}

TEST(MulticastDiscoveryAlone, WithoutAnInterfaceBesidesLoopbackNothingIsAsked) {
    DiscoveryRun run = discover(TCPIP);
    EXPECT_EQ(run.count, 0);
    EXPECT_LT(run.seconds, 0.5);
}

TEST_F(MulticastDiscovery, ResponderProgramAnswersFromTheFarNamespace) {
    VethLink link = testbed_->addLink();
    std::vector<std::string> argv = testbed_->farCommand();
    argv.insert(argv.end(), {program("discoveryresponder"), "--interface", link.farAddress, "--serial",
                             "0BADCAFE", "--address", "2", "--port", "8001", "--model", "4"});
    BackgroundProgram responder(argv);
    ASSERT_EQ(responder.firstLine(), "ready\n");
    DiscoveryRun run = discover(TCPIP);
    ASSERT_EQ(run.specs.size(), 1u);
    EXPECT_TRUE(same(run.specs[0], tcpSpec(moduleB(), link.farAddress)));
    EXPECT_EQ(responder.stop(), 0);
}

// vmodule answers discovery for itself, and not while it is away after a reboot.
TEST_F(MulticastDiscovery, VirtualModuleIsNotFoundWhileAway) {
    VethLink link = testbed_->addLink();
    std::vector<std::string> argv = testbed_->farCommand();
    argv.insert(argv.end(), {program("vmodule"), "--tcp", "0", "--bind", link.farAddress, "--discovery",
                             "--serial", "0BADCAFE", "--reboot-away", "4000"});
    BackgroundProgram module(argv);
    std::string line = module.firstLine();
    ASSERT_EQ(line.rfind("tcp " + link.farAddress + ":", 0), 0u) << line;
    uint16_t port = static_cast<uint16_t>(std::stoi(line.substr(line.rfind(':') + 1)));
    DiscoveryRun present = discover(TCPIP);
    ASSERT_EQ(present.specs.size(), 1u);
    EXPECT_EQ(present.specs[0].serialNumber, 0x0BADCAFEu);
    EXPECT_EQ(present.specs[0].ipPort, port);

    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = ipv4(link.farAddress.c_str());
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    timeval bound{3, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    const uint8_t reboot[] = {0x04, 0x02, 0x5F, 0x06};
    ASSERT_EQ(::write(fd, reboot, sizeof reboot), static_cast<ssize_t>(sizeof reboot));
    char byte;
    EXPECT_EQ(::read(fd, &byte, 1), 0) << "the module closes its connection";
    ::close(fd);
    EXPECT_TRUE(discover(TCPIP).specs.empty());
    EXPECT_EQ(module.stop(), 0);
}

} // namespace
