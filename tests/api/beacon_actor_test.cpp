// Our own beacon against czmq's zbeacon: on one interface each hears the other and
// neither reports its own beacon; and the choice of which of them serves a setting.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "Testbed.h"
#include "aBeacon.h"
#include "zBeaconInterface.h"
#include "Required.h"

namespace {

using namespace ApiTest;

struct Heard {
    int fromPeer = 0;
    int own = 0;
    std::string sender;
};

// Beacons an actor reports for about a second.
Heard listen(zactor_t* beacon, const std::string& own, const std::string& peer) {
    Heard heard;
    zsock_set_rcvtimeo(beacon, 100);
    for (int i = 0; i < 10; i++) {
        zmsg_t* message = zmsg_recv(beacon);
        if (!message) continue;
        char* sender = zmsg_popstr(message);
        zframe_t* payload = zmsg_pop(message);
        std::string data(reinterpret_cast<const char*>(zframe_data(payload)), zframe_size(payload));
        if (data == own) heard.own++;
        if (data == peer) heard.fromPeer++;
        heard.sender = sender ? sender : "";
        zstr_free(&sender);
        zframe_destroy(&payload);
        zmsg_destroy(&message);
    }
    return heard;
}

std::string configure(zactor_t* beacon) {
    zsock_send(beacon, "si", "CONFIGURE", 8585);
    zsock_set_rcvtimeo(beacon, 2000);
    char* host = zstr_recv(beacon);
    std::string text = host ? host : "(none)";
    zstr_free(&host);
    return text;
}

TEST(BeaconActor, OursAndZbeaconHearEachOtherOnOneInterface) {
    VELTRANO_REQUIRE(Testbed::unavailableReason());
    Testbed testbed;
    VethLink link = testbed.addLink();
    EXPECT_TRUE(aBeacon_ZbeaconServes(link.nearAddress.c_str()));
    EXPECT_TRUE(aBeacon_ZbeaconServes(""));

    ASSERT_TRUE(zBeaconInterface_backupSetAndLock(link.nearAddress.c_str()));
    zactor_t* ours = zactor_new(aBeacon_Actor, strdup(link.nearAddress.c_str()));
    zactor_t* theirs = zactor_new(zbeacon, nullptr);
    if (!ours || !theirs) {
        zactor_destroy(&ours);
        zactor_destroy(&theirs);
        zBeaconInterface_restoreAndUnlock();
        FAIL() << "cannot start the beacons";
    }
    EXPECT_EQ(configure(ours), link.nearAddress);
    EXPECT_EQ(configure(theirs), link.nearAddress);

    const std::string ourBeacon = "VT-beacon-ours", theirBeacon = "VT-beacon-zbeacon";
    for (zactor_t* beacon : {ours, theirs})
        zsock_send(beacon, "sb", "SUBSCRIBE", "VT-", size_t(3));
    zsock_send(ours, "sbi", "PUBLISH", ourBeacon.data(), ourBeacon.size(), 50);
    zsock_send(theirs, "sbi", "PUBLISH", theirBeacon.data(), theirBeacon.size(), 50);

    Heard byOurs = listen(ours, ourBeacon, theirBeacon);
    EXPECT_GT(byOurs.fromPeer, 0);
    EXPECT_EQ(byOurs.own, 0);
    EXPECT_EQ(byOurs.sender, link.nearAddress);
    Heard byTheirs = listen(theirs, theirBeacon, ourBeacon);
    EXPECT_GT(byTheirs.fromPeer, 0);
    EXPECT_EQ(byTheirs.own, 0);

    // After UNSUBSCRIBE and SILENCE nothing more is reported either way.
    zstr_sendx(ours, "UNSUBSCRIBE", nullptr);
    zstr_sendx(theirs, "SILENCE", nullptr);
    zstr_sendx(ours, "SILENCE", nullptr);
    listen(theirs, "", "");
    Heard quiet = listen(ours, ourBeacon, theirBeacon);
    EXPECT_EQ(quiet.fromPeer + quiet.own, 0);
    zactor_destroy(&ours);
    zactor_destroy(&theirs);
    // As discovery does: the setting goes back only once no beacon can read it.
    zBeaconInterface_restoreAndUnlock();
}

TEST(BeaconActor, LoopbackIsOursAndAnUnknownInterfaceLeavesItDeaf) {
    // The test's namespace has loopback only: zbeacon can serve nothing here.
    for (const char* setting : {"127.0.0.1", "", "*", "198.51.100.1"})
        EXPECT_FALSE(aBeacon_ZbeaconServes(setting)) << setting;

    zactor_t* loopback = zactor_new(aBeacon_Actor, strdup("127.0.0.1"));
    EXPECT_EQ(configure(loopback), "127.0.0.1");
    zactor_destroy(&loopback);
    zactor_t* nowhere = zactor_new(aBeacon_Actor, strdup("198.51.100.1"));
    EXPECT_EQ(configure(nowhere), "");
    zactor_destroy(&nowhere);
}

// A program using the library still stops on Ctrl+C and a plain kill: making a
// beacon (czmq's start) leaves SIGINT and SIGTERM as the program had them.
TEST(BeaconActor, LeavesTheProgramsSignalsAlone) {
    zactor_t* beacon = aBeacon_New();
    ASSERT_NE(beacon, nullptr);
    zactor_destroy(&beacon);
    for (int signal : {SIGINT, SIGTERM}) {
        struct sigaction action {};
        ASSERT_EQ(sigaction(signal, nullptr, &action), 0);
        EXPECT_TRUE(action.sa_handler == SIG_DFL || action.sa_handler == SIG_IGN) << signal;
    }
}

} // namespace
