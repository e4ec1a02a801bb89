// Store slots and factory data through a Link, against the virtual module,
// with the failure rows of both protocols.
#include <gtest/gtest.h>

#include "ApiFixtures.h"
#include "SystemClass.h"

using namespace ApiTest;

namespace {

Bytes pattern(size_t length) {
    Bytes bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    return bytes;
}

struct StoreFixture : ::testing::Test {
    StoreFixture() { link = m.module.getLink(); }
    Veltrano::Sim::StoreSlotArea& slots() { return m.device.module().storeSlots(); }
    ConnectedModule m;
    Link* link;
};

TEST_F(StoreFixture, LoadInChunksOf25AndUnloadItBack) {
    ASSERT_EQ(m.connected, aErrNone);
    Bytes data = pattern(60);
    ASSERT_EQ(link->loadStoreSlot(4, 0, 1, data.data(), 60), aErrNone);
    EXPECT_EQ(slots().writeChunks(), (std::vector<size_t>{25, 25, 10}));
    EXPECT_EQ(slots().slot(0, 1), data);
    EXPECT_EQ(slots().openSlots(), 0u);

    unsigned int size = 0, capacity = 0;
    EXPECT_EQ(link->storeSlotSize(4, 0, 1, &size), aErrNone);
    EXPECT_EQ(size, 60u);
    EXPECT_EQ(link->storeSlotCapacity(4, 0, 1, &capacity), aErrNone);
    EXPECT_EQ(capacity, 1024u);

    unsigned char buffer[100];
    unsigned int length = 0;
    ASSERT_EQ(link->unloadStoreSlot(4, 0, 1, buffer, sizeof buffer, &length), aErrNone);
    EXPECT_EQ(Bytes(buffer, buffer + length), data);

    EXPECT_EQ(link->loadStoreSlot(4, 0, 2, nullptr, 0), aErrNone) << "opens and closes";
    EXPECT_EQ(link->storeSlotSize(4, 0, 2, &size), aErrNone);
    EXPECT_EQ(size, 0u);
}

TEST_F(StoreFixture, WrongChecksumEndsTheLoadAfterClosingTheSlot) {
    ASSERT_EQ(m.connected, aErrNone);
    m.device.fault("store.write", ReplyFaultKind::Corrupt, 1, 1);
    Bytes data = pattern(60);
    EXPECT_EQ(link->loadStoreSlot(4, 0, 1, data.data(), 60), aErrIO);
    EXPECT_EQ(slots().writeChunks(), (std::vector<size_t>{25, 25})) << "stops at the bad chunk";
    EXPECT_EQ(slots().openSlots(), 0u) << "closed all the same";
}

TEST_F(StoreFixture, UnloadIntoASmallerBufferCopiesWhatFits) {
    ASSERT_EQ(m.connected, aErrNone);
    Bytes data = pattern(30);
    slots().setSlot(0, 3, 64, data);
    unsigned char buffer[10];
    unsigned int length = 99;
    EXPECT_EQ(link->unloadStoreSlot(4, 0, 3, buffer, sizeof buffer, &length), aErrOverrun);
    EXPECT_EQ(length, 10u);
    EXPECT_EQ(Bytes(buffer, buffer + 10), Bytes(data.begin(), data.begin() + 10));
    EXPECT_EQ(slots().openSlots(), 0u);
}

TEST_F(StoreFixture, FailureRows) {
    ASSERT_EQ(m.connected, aErrNone);
    Bytes data = pattern(60);
    slots().setSlot(0, 1, 1024, data);
    unsigned char buffer[100];
    unsigned int value = 77, length = 77;

    // No reply is a time-out, never the status of sending the request.
    m.device.fault("store.size", ReplyFaultKind::NoReply);
    EXPECT_EQ(link->storeSlotSize(4, 0, 1, &value), aErrTimeout);
    EXPECT_EQ(value, 77u);
    m.device.fault("store.capacity", ReplyFaultKind::ErrorReply, 0, -1, aErrPermission);
    EXPECT_EQ(link->storeSlotCapacity(4, 0, 1, &value), aErrPermission);
    m.device.fault("store.capacity", ReplyFaultKind::Short);
    EXPECT_EQ(link->storeSlotCapacity(4, 0, 1, &value), aErrUnknown);
    m.device.clearFaults();
    EXPECT_EQ(link->storeSlotSize(4, 9, 9, &value), aErrNotFound) << "the module's error reply";

    // An open reply without its handle opened nothing.
    m.device.fault("store.open", ReplyFaultKind::Short);
    EXPECT_EQ(link->loadStoreSlot(4, 0, 1, data.data(), 60), aErrMedia);
    EXPECT_EQ(link->unloadStoreSlot(4, 0, 1, buffer, sizeof buffer, &length), aErrMedia);
    EXPECT_EQ(length, 0u);
    m.device.fault("store.open", ReplyFaultKind::ErrorReply);
    EXPECT_EQ(link->loadStoreSlot(4, 0, 1, data.data(), 60), aErrMedia);

    m.device.fault("store.write", ReplyFaultKind::ErrorReply, 0, -1, aErrOverrun);
    EXPECT_EQ(link->loadStoreSlot(4, 0, 1, data.data(), 60), aErrOverrun);
    m.device.fault("store.write", ReplyFaultKind::NoReply);
    EXPECT_EQ(link->loadStoreSlot(4, 0, 1, data.data(), 60), aErrTimeout);
    m.device.fault("store.close", ReplyFaultKind::ErrorReply, 0, -1, aErrWrite);
    EXPECT_EQ(link->loadStoreSlot(4, 0, 1, data.data(), 60), aErrWrite);
    m.device.fault("store.close", ReplyFaultKind::NoReply);
    EXPECT_EQ(link->loadStoreSlot(4, 0, 1, data.data(), 60), aErrNone) << "a silent close is accepted";

    // A read that goes silent ends the unload with a time-out; the length
    // counts what was copied before.
    slots().setSlot(0, 1, 1024, data);
    m.device.fault("store.read", ReplyFaultKind::NoReply, 1);
    EXPECT_EQ(link->unloadStoreSlot(4, 0, 1, buffer, sizeof buffer, &length), aErrTimeout);
    EXPECT_EQ(length, 24u);
    m.device.fault("store.read", ReplyFaultKind::ErrorReply, 0, -1, aErrRead);
    EXPECT_EQ(link->unloadStoreSlot(4, 0, 1, buffer, sizeof buffer, &length), aErrRead);
    EXPECT_EQ(length, 0u);
}

TEST_F(StoreFixture, FactoryDataRoundTrip) {
    ASSERT_EQ(m.connected, aErrNone);
    for (size_t size : {0u, 10u, 26u, 60u}) {
        Bytes data = pattern(size);
        ASSERT_EQ(link->setFactoryData(4, 2, data.data(), static_cast<unsigned>(size)), aErrNone) << size;
        EXPECT_EQ(m.device.module().factoryData().record(2), data) << size;
        unsigned char buffer[100];
        unsigned int length = 99;
        ASSERT_EQ(link->getFactoryData(4, 2, buffer, sizeof buffer, &length), aErrNone) << size;
        EXPECT_EQ(Bytes(buffer, buffer + length), data) << size;
    }
    unsigned char buffer[60];
    unsigned int length = 0;
    EXPECT_EQ(link->getFactoryData(4, 2, buffer, sizeof buffer, &length), aErrOverrun)
        << "a record that fills the buffer";
    EXPECT_EQ(link->getFactoryData(4, 16, buffer, sizeof buffer, &length), aErrParam);
}

TEST_F(StoreFixture, FactoryDataFailureRows) {
    ASSERT_EQ(m.connected, aErrNone);
    Bytes data = pattern(40);
    unsigned char buffer[100];
    unsigned int length = 0;
    m.device.module().factoryData().setRecord(1, data);
    struct Row {
        const char* request;
        ReplyFaultKind kind;
        bool set;
        aErr expected;
    };
    const Row rows[] = {
        {"factory.get", ReplyFaultKind::ErrorReply, false, aErrIO},
        {"factory.get", ReplyFaultKind::NoReply, false, aErrTimeout},
        {"factory.end", ReplyFaultKind::ErrorReply, false, aErrIO},
        {"factory.end", ReplyFaultKind::NoReply, true, aErrTimeout},
        {"factory.set", ReplyFaultKind::ErrorReply, true, aErrIO},
        {"factory.set", ReplyFaultKind::Corrupt, true, aErrTimeout}, // the index echo is wrong: no match
    };
    for (const Row& row : rows) {
        m.device.fault(row.request, row.kind);
        aErr err = row.set ? link->setFactoryData(4, 1, data.data(), 40)
                           : link->getFactoryData(4, 1, buffer, sizeof buffer, &length);
        EXPECT_EQ(err, row.expected) << row.request << " fault " << int(row.kind);
    }
}

// On a router's link the modules behind it share one incoming queue: a reply
// from one of them must not answer a request made to another. Here the
// module at 0x22 has an answer queued before the one at 0x10 replies.
TEST(StoreOnRouter, RepliesOfAnotherModuleAreNotTaken) {
    VirtualModule near(identity(0x10, 0x10000010)), far(identity(0x22, 0x20000022));
    ConnectedModule router;
    ASSERT_EQ(router.connected, aErrNone);
    router.device.module().attachToBus(near);
    router.device.module().attachToBus(far);
    SystemClass system;
    system.init(&router.module, 0);
    ASSERT_EQ(system.routeToMe(1), aErrNone);
    Link* link = router.module.getLink();

    near.storeSlots().setSlot(0, 1, 1024, pattern(10));
    far.storeSlots().setSlot(0, 1, 1024, pattern(30));
    const unsigned char sizeOfSlot1[] = {2, 0, 1};
    ASSERT_EQ(link->sendPacket(0x22, 4, sizeof sizeOfSlot1, sizeOfSlot1), aErrNone);
    unsigned int size = 0;
    EXPECT_EQ(link->storeSlotSize(0x10, 0, 1, &size), aErrNone);
    EXPECT_EQ(size, 10u);

    near.factoryData().setRecord(3, pattern(5));
    far.factoryData().setRecord(3, Bytes(20, 0xEE));
    const unsigned char firstOfRecord3[] = {3 | 0x40};
    ASSERT_EQ(link->sendPacket(0x22, 0x5E, sizeof firstOfRecord3, firstOfRecord3), aErrNone);
    unsigned char buffer[64];
    unsigned int length = 0;
    EXPECT_EQ(link->getFactoryData(0x10, 3, buffer, sizeof buffer, &length), aErrNone);
    EXPECT_EQ(Bytes(buffer, buffer + length), pattern(5));
}

} // namespace
