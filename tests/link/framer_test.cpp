// The reader's framing: packet assembly while in step, and the resynchronisation
// machine that waits for the module's answers [A, 0, A, 0] to a sync burst.
#include <gtest/gtest.h>

#include <vector>

#include "aLinkFramer.h"

namespace {

struct FramerFixture {
    aLinkFramer framer;
    FramerFixture() { framer.packet = aPacket_Create(); }
    ~FramerFixture() { aPacket_Destroy(&framer.packet); }
    // Puts the machine where it is right after a burst was queued.
    void burstSent() {
        aLinkFramer_BeginBurst(&framer);
        aLinkFramer_BurstQueued(&framer);
    }
};

struct ResyncCase {
    const char* name;
    std::vector<uint8> bytes;
    std::vector<aLinkFrameAction> actions;
    int finalState;
};

TEST(LinkFramer, ResynchronisationMachine) {
    const ResyncCase cases[] = {
        {"two empty packets from one module",
         {0x04, 0x00, 0x04, 0x00},
         {kFrameNone, kFrameNone, kFrameNone, kFrameSynced},
         kSyncStateIdle},
        {"second address differs: back to start",
         {0x04, 0x00, 0x06},
         {kFrameNone, kFrameNone, kFrameNone},
         kSyncStateStart},
        {"start state asks for a new burst on any byte",
         {0x04, 0x00, 0x06, 0x04},
         {kFrameNone, kFrameNone, kFrameNone, kFrameResync},
         kSyncStateByte1},
        {"odd first byte", {0x05}, {kFrameResync}, kSyncStateByte1},
        {"zero first byte", {0x00}, {kFrameResync}, kSyncStateByte1},
        {"size byte not zero", {0x04, 0x01}, {kFrameNone, kFrameNone}, kSyncStateStart},
        {"fourth byte not zero",
         {0x04, 0x00, 0x04, 0x02},
         {kFrameNone, kFrameNone, kFrameNone, kFrameNone},
         kSyncStateStart},
    };
    for (const ResyncCase& c : cases) {
        SCOPED_TRACE(c.name);
        FramerFixture f;
        f.burstSent();
        std::vector<aLinkFrameAction> actions;
        for (uint8 byte : c.bytes) {
            aLinkFrameAction action = aLinkFramer_Resync(&f.framer, byte);
            actions.push_back(action);
            if (action == kFrameResync) f.burstSent();
        }
        EXPECT_EQ(actions, c.actions);
        EXPECT_EQ(f.framer.syncState, c.finalState);
    }
}

TEST(LinkFramer, IdleMachineAsksForBurst) {
    FramerFixture f;
    EXPECT_EQ(aLinkFramer_Resync(&f.framer, 0x04), kFrameResync);
}

TEST(LinkFramer, AssemblyCompletesPacketsAndReportsLostFraming) {
    FramerFixture f;
    EXPECT_EQ(aLinkFramer_Assemble(&f.framer, 0x02), kFrameNone);
    EXPECT_EQ(aLinkFramer_Assemble(&f.framer, 0x00), kFramePacket);
    EXPECT_EQ(f.framer.packet->address, 0x02);

    aPacket_Reset(f.framer.packet);
    EXPECT_EQ(aLinkFramer_Assemble(&f.framer, 0x03), kFrameResync);

    aPacket_Reset(f.framer.packet);
    EXPECT_EQ(aLinkFramer_Assemble(&f.framer, 0x04), kFrameNone);
    EXPECT_EQ(aLinkFramer_Assemble(&f.framer, 29), kFrameResync);
}

TEST(LinkFramer, BurstDropsPartialPacket) {
    FramerFixture f;
    aLinkFramer_Assemble(&f.framer, 0x04);
    aLinkFramer_Assemble(&f.framer, 0x03);
    aLinkFramer_BeginBurst(&f.framer);
    EXPECT_EQ(f.framer.packet->curSize, 0);
    EXPECT_EQ(f.framer.syncState, kSyncStateStart);
}

} // namespace
