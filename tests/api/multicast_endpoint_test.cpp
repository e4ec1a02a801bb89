// The multicast endpoint, on the loopback interface of the test's own namespace.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <string>

#include "Testbed.h"
#include "aMulticast.h"

namespace {

uint32 address(const char* dotted) {
    in_addr a;
    inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

const uint16 kPort = 9890;

class MulticastEndpoint : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ApiTest::loopbackMulticastOn()) << "cannot set the loopback MULTICAST flag";
    }
};

TEST_F(MulticastEndpoint, SenderReachesReceiverThroughTheGroup) {
    // Interface 0 stands for loopback.
    aMulticast* receiver = aMulticast_Create(0, address("232.2.2.3"), kPort, false);
    aMulticast* sender = aMulticast_Create(address("127.0.0.1"), address("232.2.2.3"), kPort, true);
    ASSERT_NE(receiver, nullptr);
    ASSERT_NE(sender, nullptr);
    EXPECT_EQ(aMulticast_Send(sender, "veltrano", 8), 8);
    char buffer[32] = {};
    EXPECT_EQ(aMulticast_Receive(receiver, buffer, sizeof buffer), 8);
    EXPECT_EQ(std::string(buffer, 8), "veltrano");

    // Each is only what it was made as.
    EXPECT_EQ(aMulticast_Send(receiver, "x", 1), aMULTICAST_WRONG_WAY);
    EXPECT_EQ(aMulticast_Receive(sender, buffer, sizeof buffer), aMULTICAST_WRONG_WAY);

    // Nothing more arrives: the receive gives up after about a second.
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(aMulticast_Receive(receiver, buffer, sizeof buffer), aMULTICAST_ERROR);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::milliseconds(5000));

    EXPECT_EQ(aMulticast_Destroy(&receiver), 0);
    EXPECT_EQ(receiver, nullptr);
    EXPECT_EQ(aMulticast_Destroy(&receiver), aMULTICAST_NULL);
    EXPECT_EQ(aMulticast_Destroy(&sender), 0);
}

TEST_F(MulticastEndpoint, NullEndpointsAndUnusableAddressesAreRefused) {
    char buffer[4];
    EXPECT_EQ(aMulticast_Send(nullptr, "x", 1), aMULTICAST_NULL);
    EXPECT_EQ(aMulticast_Receive(nullptr, buffer, sizeof buffer), aMULTICAST_NULL);
    EXPECT_EQ(aMulticast_Destroy(nullptr), aMULTICAST_NULL);
    // Not a group, and an interface this machine does not have.
    EXPECT_EQ(aMulticast_Create(0, address("198.51.100.9"), kPort, false), nullptr);
    EXPECT_EQ(aMulticast_Create(address("198.51.100.9"), address("232.2.2.3"), kPort, true), nullptr);
}

} // namespace
