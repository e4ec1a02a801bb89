// UpdaterEntity against a loader that answers as each test scripts it: replies
// that come late or twice, replies that leave fields out, counts that never fit,
// a module that never reboots, and blocks too short to hold their address.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>

#include "TransferFixtures.h"
#include "UpdaterEntity.h"
#include "aTime.h"

using namespace TransferTest;

namespace {

constexpr uint8_t kPrepare = UpdaterEntity::val_UPGRADE_PREPARE;
constexpr uint8_t kData = UpdaterEntity::val_UPGRADE_DATA;
constexpr uint8_t kSum = UpdaterEntity::val_UPGRADE_SUM;
constexpr uint8_t kWrite = UpdaterEntity::val_UPGRADE_WRITE;
constexpr uint8_t kInit = UpdaterEntity::val_UPGRADE_INIT;
constexpr unsigned int kShortReplyMs = 150;

// Every request of a step answered with the same replies.
ScriptedLoader::Responder fixedReplies(std::map<uint8_t, std::vector<Bytes>> replies) {
    return [replies](const Bytes& request) {
        auto it = request.size() > 1 ? replies.find(request[1]) : replies.end();
        return it == replies.end() ? std::vector<Bytes>{} : it->second;
    };
}

size_t requestsOf(const ScriptedLoader& loader, uint8_t step) {
    size_t count = 0;
    for (const Bytes& request : loader.requests())
        count += request.size() > 1 && request[1] == step;
    return count;
}

} // namespace

TEST(EntityScripted, StatusReplyLeftOverFromPrepareIsNotTakenForWrite) {
    // The module answers PREPARE twice, the second time refusing: a reply that
    // would pass for WRITE's own if it were still queued.
    ScriptedModule m(
        fixedReplies({{kPrepare, {{0x5F, 7, 0, 0, 26}, {0x5F, 7, 5}}}, {kWrite, {{0x5F, 7, 0}}}}));
    ASSERT_EQ(m.served->connected, aErrNone);
    UpdaterEntity entity(&m.module(), 0, true, false);
    entity.setReplyTimeoutMs(kShortReplyMs);
    const Bytes block = payload(0x2000, image(26));
    unsigned short blockSize = 0;
    ASSERT_EQ(entity.TransferPrepare(block.data(), block.size(), 0, &blockSize), aErrNone);
    EXPECT_EQ(blockSize, 26);
    aTime_MSSleep(100); // the stray reply is in the queue by now
    EXPECT_EQ(entity.FirmwareWrite(26), aErrNone);
}

TEST(EntityScripted, FieldsAReplyLeavesOutReadAsZero) {
    struct Case {
        const char* what;
        uint8_t step;
        Bytes reply;
        uint8_t flags;
        aErr expected;
        unsigned short blockSize; // PREPARE only
        Bytes data = {1, 2, 3};
    };
    const Case cases[] = {
        {"PREPARE without status, flags 0", kPrepare, {0x5F, 7}, 0, aErrNone, 0},
        {"PREPARE without status keeps the flags", kPrepare, {0x5F, 7}, 0x21, aErrInvalidOption, 0},
        {"PREPARE with half a block size", kPrepare, {0x5F, 7, 0, 2}, 0, aErrNone, 0},
        {"PREPARE whole", kPrepare, {0x5F, 7, 0, 2, 0}, 0, aErrNone, 512},
        {"SUM without status and sum", kSum, {0x5F, 7}, 0, aErrInvalidOption, 0},
        {"SUM with three sum bytes", kSum, {0x5F, 7, 0, 0, 0, 6}, 0, aErrInvalidOption, 0},
        {"SUM without status and sum, all zeros", kSum, {0x5F, 7}, 0, aErrInvalidOption, 0, {0, 0, 0}},
        {"SUM with 3 sum bytes, all zeros", kSum, {0x5F, 7, 0, 0, 0, 0}, 0, aErrInvalidOption, 0, {0, 0, 0}},
        {"SUM whole", kSum, {0x5F, 7, 0, 0, 0, 0, 6}, 0, aErrNone, 0},
        {"WRITE without status fails", kWrite, {0x5F, 7}, 0, aErrInvalidOption, 0},
        {"INIT without the whole base", kInit, {0x5F, 0, 0x10, 0, 0}, 0, aErrPacket, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::map<uint8_t, std::vector<Bytes>> replies = {{c.step, {c.reply}}, {kData, {{0x5F, 1, 3}}}};
        ScriptedModule m(fixedReplies(replies));
        ASSERT_EQ(m.served->connected, aErrNone);
        UpdaterEntity entity(&m.module(), 0, true, false);
        entity.setReplyTimeoutMs(kShortReplyMs);
        const Bytes block = payload(0x2000, c.data);
        unsigned short blockSize = 0xFFFF;
        unsigned int packets = 0;
        switch (c.step) {
        case kPrepare:
            EXPECT_EQ(entity.TransferPrepare(block.data(), block.size(), c.flags, &blockSize), c.expected);
            if (c.expected == aErrNone) {
                EXPECT_EQ(blockSize, c.blockSize);
            }
            break;
        case kSum:
            EXPECT_EQ(entity.BlockTransfer(block.data() + 4, 3, &packets), c.expected);
            break;
        case kWrite:
            EXPECT_EQ(entity.FirmwareWrite(3), c.expected);
            break;
        case kInit:
            EXPECT_EQ(entity.LoaderInit(), c.expected);
            break;
        }
    }
}

TEST(EntityScripted, DataNeverAcceptedGivesUpAfterBoundedResends) {
    // A count of 0 (a reply without one) and a wrong count end alike.
    for (const Bytes& reply : {Bytes{0x5F, 1}, Bytes{0x5F, 1, 25}}) {
        ScriptedModule m(fixedReplies({{kData, {reply}}}));
        ASSERT_EQ(m.served->connected, aErrNone);
        LogCapture log;
        UpdaterEntity entity(&m.module(), 0, true, false);
        const Bytes data = image(60);
        unsigned int packets = 0;
        EXPECT_EQ(entity.BlockTransfer(data.data(), data.size(), &packets), aErrInvalidOption);
        EXPECT_EQ(packets, 0u);
        EXPECT_EQ(requestsOf(*m.loader, kData), UpdaterEntity::kMaxDataResends);
        EXPECT_EQ(requestsOf(*m.loader, kSum), 0u);
        // Written whatever the log categories: the transfer ends here.
        EXPECT_NE(log.text().find("wrong count 8 times in a row"), std::string::npos) << log.text();
    }
}

TEST(EntityScripted, ZeroBlockSizeEndsTheFirmwareTransferWithoutSending) {
    ScriptedModule m(fixedReplies({{kData, {{0x5F, 1, 10}}}}));
    ASSERT_EQ(m.served->connected, aErrNone);
    CountingDisplay display;
    UpdaterEntity entity(&m.module(), 0, true, false);
    const Bytes block = payload(0x3000, image(10));
    EXPECT_EQ(entity.FirmwareTransfer(block.data(), block.size(), 0, &display), aErrInvalidOption);
    EXPECT_TRUE(m.loader->requests().empty());
    // An image without bytes needs no block size.
    const Bytes empty = payload(0x3000, {});
    EXPECT_EQ(entity.FirmwareTransfer(empty.data(), empty.size(), 0, &display), aErrNone);
    EXPECT_TRUE(display.progress.empty());
}

TEST(EntityScripted, BlocksWithoutRoomForTheirAddressAreRefusedUnsent) {
    ScriptedModule m(fixedReplies({}));
    ASSERT_EQ(m.served->connected, aErrNone);
    CountingDisplay display;
    UpdaterEntity entity(&m.module(), 0, true, false);
    const Bytes bytes = {0, 0, 0x20};
    for (unsigned int length = 0; length < 4; ++length) {
        SCOPED_TRACE(length);
        unsigned short blockSize = 64;
        EXPECT_EQ(entity.TransferPrepare(bytes.data(), length, 0, &blockSize), aErrSize);
        EXPECT_EQ(entity.FirmwareTransfer(bytes.data(), length, 64, &display), aErrSize);
        EXPECT_EQ(entity.LoaderTransfer(bytes.data(), length), aErrSize);
    }
    aTime_MSSleep(50);
    EXPECT_TRUE(m.loader->requests().empty());
    EXPECT_TRUE(display.progress.empty());
}

TEST(EntityScripted, RebootWaitEndsWhenTheLinkNeverDrops) {
    ScriptedModule m(fixedReplies({})); // takes REBOOT and goes on running
    ASSERT_EQ(m.served->connected, aErrNone);
    LogCapture log;
    CountingDisplay display;
    UpdaterEntity entity(&m.module(), 0, true, false);
    entity.setRebootDropWaitMs(600);
    const uint32_t start = aTime_GetMSTicks();
    EXPECT_EQ(entity.LoaderReboot(&display), aErrNone);
    const uint32_t took = aTime_GetMSTicks() - start;
    EXPECT_GE(took, 600u);
    EXPECT_LT(took, 3000u);
    EXPECT_GE(display.activityFrames, 2);
    EXPECT_LE(display.activityFrames, 4);
    EXPECT_NE(log.text().find("NETWORK: Link still up 600 ms after the reboot request"), std::string::npos)
        << log.text();
}

TEST(EntityScripted, RebootWaitWithSkipShowsOneFrame) {
    ScriptedModule m(fixedReplies({}));
    ASSERT_EQ(m.served->connected, aErrNone);
    CountingDisplay display;
    UpdaterEntity entity(&m.module(), 0, true, true);
    EXPECT_EQ(entity.LoaderReboot(&display), aErrNone);
    EXPECT_EQ(display.activityFrames, 1);
    ASSERT_TRUE(eventually([&] { return !m.loader->requests().empty(); }));
    EXPECT_EQ(m.loader->requests()[0], (Bytes{0x5F, UpdaterEntity::val_UPGRADE_REBOOT}));
}

TEST(EntityScripted, FailedRebootSendDoesNotWait) {
    ScriptedModule m(fixedReplies({}));
    ASSERT_EQ(m.served->connected, aErrNone);
    // Address 0 is no module's: the link refuses the packet while it stays up.
    m.module().setModuleAddress(0);
    CountingDisplay display;
    UpdaterEntity entity(&m.module(), 0, true, false);
    const uint32_t start = aTime_GetMSTicks();
    EXPECT_EQ(entity.LoaderReboot(&display), aErrPacket);
    EXPECT_LT(aTime_GetMSTicks() - start, 200u);
    EXPECT_EQ(display.activityFrames, 0);
    EXPECT_TRUE(m.module().isConnected());
}

Bytes sumReply(const Bytes& data) {
    uint32_t sum = 0;
    for (uint8_t byte : data)
        sum += byte;
    return {0x5F, 7, 0, uint8_t(sum >> 24), uint8_t(sum >> 16), uint8_t(sum >> 8), uint8_t(sum)};
}

// A status reply that comes late, after its own wait has ended, lands while the
// next request waits for its reply: its length tells it apart, and it is dropped.
TEST(EntityScripted, LateStatusReplyOfAnotherStepIsDroppedWhileWaiting) {
    const Bytes lateSum{0x5F, 7, 0, 0, 0, 0x12, 0x34};
    const Bytes latePrepare{0x5F, 7, 0, 0x04, 0x00};
    const struct {
        const char* name;
        uint8_t step;
        Bytes stale, own;
    } cases[] = {
        {"a SUM reply while PREPARE waits", kPrepare, lateSum, {0x5F, 7, 0, 0, 26}},
        {"a PREPARE reply while SUM waits", kSum, latePrepare, sumReply(image(26))},
        {"a refusing SUM reply while WRITE waits", kWrite, {0x5F, 7, 5, 0, 0, 0, 0}, {0x5F, 7, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The stale reply goes first, after the request; the request's own follows.
        ScriptedModule m(fixedReplies({{c.step, {c.stale, c.own}}, {kData, {{0x5F, 1, 26}}}}));
        ASSERT_EQ(m.served->connected, aErrNone);
        UpdaterEntity entity(&m.module(), 0, true, false);
        entity.setReplyTimeoutMs(kShortReplyMs);
        const Bytes block = payload(0x2000, image(26));
        unsigned short blockSize = 0;
        if (c.step == kPrepare) {
            ASSERT_EQ(entity.TransferPrepare(block.data(), block.size(), 0, &blockSize), aErrNone);
            EXPECT_EQ(blockSize, 26) << "not a size read from a sum";
        } else if (c.step == kSum) {
            const Bytes data = image(26);
            unsigned int packets = 0;
            EXPECT_EQ(entity.BlockTransfer(data.data(), data.size(), &packets), aErrNone);
        } else {
            EXPECT_EQ(entity.FirmwareWrite(26), aErrNone);
        }
    }
}
