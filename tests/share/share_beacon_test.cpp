// Finding a link-sharing server by beacon inside network namespaces of the test's
// own: a sharedmodule in one namespace, shareclient processes that discover it and
// use it, or fail to find it from a namespace it is not in.
#include <gtest/gtest.h>

#include "ShareFixtures.h"
#include "Testbed.h"
#include "Required.h"

using namespace ShareTest;
using ApiTest::Testbed;

namespace {

const std::vector<std::string> kHere = {};

TEST(ShareBeacon, ALoopbackServerIsFoundOnlyFromItsOwnNamespace) {
    VELTRANO_REQUIRE(Testbed::unavailableReason());
    Testbed served, other;
    SharedModule server({}, served.farCommand());

    SubprocessResult inside = runDiscoveringClient(served.farCommand(), {"--count", "20"});
    EXPECT_EQ(inside.exitStatus, 0) << inside.out << inside.err;
    EXPECT_EQ(inside.out, "found 127.0.0.1:" + std::to_string(server.port()) + "\nok 20\n");

    const struct {
        const char* name;
        std::vector<std::string> launcher;
    } elsewhere[] = {{"another namespace of the test's", other.farCommand()},
                     {"the test's own namespace", kHere}};
    for (const auto& place : elsewhere) {
        SCOPED_TRACE(place.name);
        SubprocessResult outside = runDiscoveringClient(place.launcher, {"--count", "1"});
        EXPECT_EQ(outside.exitStatus, 6) << outside.out << outside.err;
        EXPECT_EQ(outside.out, "not found\n");
    }
}

TEST(ShareBeacon, AServerOnAnInterfaceIsFoundAndUsedAcrossIt) {
    VELTRANO_REQUIRE(Testbed::unavailableReason());
    Testbed served, other;
    ApiTest::VethLink link = served.addLink();
    // The server side of the pair is another host for the client on this side.
    SharedModule server({"--interface", link.farAddress}, served.farCommand());

    SubprocessResult across = runDiscoveringClient(kHere, {"--interface", link.nearAddress, "--count", "20"});
    EXPECT_EQ(across.exitStatus, 0) << across.out << across.err;
    EXPECT_EQ(across.out, "found " + link.farAddress + ":" + std::to_string(server.port()) + "\nok 20\n");

    SubprocessResult unlinked = runDiscoveringClient(other.farCommand(), {"--count", "1"});
    EXPECT_EQ(unlinked.exitStatus, 6) << unlinked.out << unlinked.err;
}

} // namespace
