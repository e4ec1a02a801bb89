// Entities: the system entity's values through the UEI exchanges, streamed
// values, the I2C bus entity, and their failure rows.
#include <gtest/gtest.h>

#include "ApiFixtures.h"
#include "I2CClass.h"
#include "SystemClass.h"
#include "UeiMessage.h"

using namespace ApiTest;

namespace {

struct SystemFixture : ::testing::Test {
    SystemFixture() : m(identity(4, 0x40F5849A)) { system.init(&m.module, 0); }
    ConnectedModule m;
    SystemClass system;
};

TEST_F(SystemFixture, ValuesTheUpdateToolReads) {
    ASSERT_EQ(m.connected, aErrNone);
    unsigned int serial = 0, version = 0, features = 0, build = 0;
    unsigned char model = 0, address = 0, router = 9;
    EXPECT_EQ(system.getSerialNumber(&serial), aErrNone);
    EXPECT_EQ(serial, 0x40F5849Au);
    EXPECT_EQ(system.getVersion(&version), aErrNone);
    EXPECT_EQ(version, m.device.module().identity().version);
    EXPECT_EQ(system.getModel(&model), aErrNone);
    EXPECT_EQ(model, m.device.module().identity().model);
    EXPECT_EQ(system.getModule(&address), aErrNone);
    EXPECT_EQ(address, 4);
    EXPECT_EQ(system.getRouter(&router), aErrNone);
    EXPECT_EQ(router, 0);
    EXPECT_EQ(system.setRouter(6), aErrNone);
    EXPECT_EQ(system.getRouter(&router), aErrNone);
    EXPECT_EQ(router, 6);
    EXPECT_EQ(system.getProtocolFeatures(&features), aErrNone);
    EXPECT_EQ(features, 0x80000000u);
    EXPECT_EQ(system.getBuild(&build), aErrNone);
    EXPECT_EQ(build, m.device.module().identity().build);
    EXPECT_EQ(system.reset(), aErrNone);
    EXPECT_EQ(m.device.module().system().resets(), 1u);
    EXPECT_EQ(system.routeToMe(1), aErrNone);
    EXPECT_TRUE(m.device.module().system().routing());
    EXPECT_EQ(system.routeToMe(0), aErrNone);
    EXPECT_FALSE(m.device.module().system().routing());
}

TEST_F(SystemFixture, FailureRows) {
    ASSERT_EQ(m.connected, aErrNone);
    unsigned int serial = 0x1234;
    m.device.fault("system.get", ReplyFaultKind::ErrorReply, 0, -1, aErrUnimplemented);
    EXPECT_EQ(system.getSerialNumber(&serial), aErrUnimplemented);
    // A reply one byte short fits no 32-bit value: refused, the output untouched.
    m.device.fault("system.get", ReplyFaultKind::Short);
    EXPECT_EQ(system.getSerialNumber(&serial), aErrSize);
    EXPECT_EQ(serial, 0x1234u);
    unsigned char model = 0x55;
    EXPECT_EQ(system.getModel(&model), aErrSize) << "a reply without its value";
    EXPECT_EQ(model, 0x55);
    m.device.fault("system.get", ReplyFaultKind::NoReply);
    EXPECT_EQ(system.getSerialNumber(&serial), aErrTimeout);
    m.device.fault("system.set", ReplyFaultKind::ErrorReply, 0, -1, aErrPermission);
    EXPECT_EQ(system.reset(), aErrPermission);
    m.device.clearFaults();
    unsigned int word = 0;
    EXPECT_EQ(system.getUEI32(39, 2, &word), aErrUnimplemented) << "an option this module lacks";
    EXPECT_EQ(system.getSerialNumber(nullptr), aErrParam);
}

TEST(Entity, WithoutModuleOrLink) {
    SystemClass system;
    unsigned int serial = 0;
    EXPECT_EQ(system.getSerialNumber(nullptr), aErrParam) << "checked before anything else";
    EXPECT_EQ(system.getSerialNumber(&serial), aErrResource);
    EXPECT_EQ(system.reset(), aErrResource);
    Module module;
    system.init(&module, 0);
    EXPECT_EQ(system.reset(), aErrConnection) << "a module that is not connected";

    SystemClass copy(system);
    copy.init(nullptr, 3, 2);
    EXPECT_EQ(system.getIndex(), 2) << "copies share one record";

    unsigned int count = 10;
    EXPECT_EQ(EntityClass::getUEIBytesCheck(&count, 4), aErrMemory);
    EXPECT_EQ(count, 10u);
    count = 12;
    EXPECT_EQ(EntityClass::getUEIBytesCheck(&count, 4), aErrNone);
    EXPECT_EQ(count, 3u);
}

Bytes text(size_t length, uint8_t first) {
    Bytes bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

TEST_F(SystemFixture, StreamedValues) {
    ASSERT_EQ(m.connected, aErrNone);
    for (size_t length : {0u, 2u, 24u, 48u, 50u}) {
        Bytes name = text(length, 'a');
        ASSERT_EQ(system.setName(name.data(), static_cast<unsigned>(name.size())), aErrNone) << length;
        EXPECT_EQ(m.device.module().system().name(), name) << length;
        unsigned char buffer[64];
        unsigned int got = 0;
        ASSERT_EQ(system.getName(buffer, length ? static_cast<unsigned>(length) : 1, &got), aErrNone)
            << length;
        EXPECT_EQ(Bytes(buffer, buffer + got), name);
    }

    // A 72-byte value into 30 bytes: the second chunk overflows; the third is
    // left queued. The next get must not take it for its own.
    Bytes old = text(72, 'A');
    m.device.module().system().setName(old);
    unsigned char small[30];
    unsigned int got = 0;
    EXPECT_EQ(system.getName(small, sizeof small, &got), aErrMemory);
    EXPECT_EQ(got, 24u);
    aTime_MSSleep(50); // the third chunk arrives meanwhile
    Bytes fresh = text(72, '0');
    m.device.module().system().setName(fresh);
    unsigned char buffer[100];
    ASSERT_EQ(system.getName(buffer, sizeof buffer, &got), aErrNone);
    EXPECT_EQ(Bytes(buffer, buffer + got), fresh);

    m.device.fault("system.get", ReplyFaultKind::NoReply, 1);
    EXPECT_EQ(system.getName(buffer, sizeof buffer, &got), aErrTimeout);
    EXPECT_EQ(got, 24u) << "the bytes taken before the silence";
}

// An array whose byte count does not fit 32 bits is refused, not cut down to
// its low bits and sent.
TEST_F(SystemFixture, ArraysTooLargeToCountInBytes) {
    ASSERT_EQ(m.connected, aErrNone);
    unsigned int values[2] = {1, 2};
    unsigned int received = 0;
    uint64_t before = m.device.module().packetsReceived();
    EXPECT_EQ(system.setInputPowerBehaviorConfig(values, 0x40000001), aErrParam);
    EXPECT_EQ(system.getInputPowerBehaviorConfig(values, 0x40000001, &received), aErrParam);
    EXPECT_EQ(m.device.module().packetsReceived(), before) << "nothing sent";
}

// A module whose streamed values (class 30, option 1) come as empty chunks
// that each announce another: 200 of them, then silence.
class EndlessStream : public Veltrano::Sim::ModuleArea {
  public:
    bool handle(VirtualModule& module, const Veltrano::Sim::ModuleFrame& frame) override {
        std::optional<Veltrano::Sim::UeiRequest> request = Veltrano::Sim::UeiRequest::parse(frame);
        if (!request || request->command != 30 || request->option != 1 || !request->get) return false;
        for (uint8_t sequence = 0; sequence < 200; ++sequence) {
            Veltrano::Sim::ModuleFrame chunk = Veltrano::Sim::ueiReplyEmpty(frame.address, *request);
            chunk.data.push_back(static_cast<uint8_t>(0x80 | (sequence & 0x7F)));
            module.send(chunk);
        }
        return true;
    }
};

// Such a stream would keep a get going for as long as the module likes: a
// chunk that carries nothing is only ever the whole of an empty value.
TEST(Entity, EmptyChunkAnnouncingMoreEndsTheGet) {
    ConnectedModule m;
    ASSERT_EQ(m.connected, aErrNone);
    m.device.module().addFirstArea(std::make_unique<EndlessStream>());
    struct Analog : EntityClassOf<30> {
        using EntityClass::getUEIBytes;
    } analog;
    analog.init(&m.module, 0);
    unsigned char buffer[8];
    unsigned int length = 9;
    EXPECT_EQ(analog.getUEIBytes(1, buffer, sizeof buffer, &length), aErrSize);
    EXPECT_EQ(length, 0u);
}

struct I2CFixture : ::testing::Test {
    I2CFixture() : behind(identity(0x10, 0x10101010)), router(identity(4, 0x40F5849A)) {
        router.device.module().attachToBus(behind);
        bus.init(&router.module, 0);
    }
    VirtualModule behind; // outlives the router that drives it
    ConnectedModule router;
    I2CClass bus;
};

TEST_F(I2CFixture, WritesReadsAndSpeed) {
    ASSERT_EQ(router.connected, aErrNone);
    unsigned char speed = 9;
    EXPECT_EQ(bus.getSpeed(&speed), aErrNone);
    EXPECT_EQ(speed, 0);
    EXPECT_EQ(bus.setSpeed(4), aErrParam);
    EXPECT_EQ(bus.setSpeed(3), aErrNone);
    const unsigned char zeros[] = {0, 0};
    EXPECT_EQ(bus.write(0x10, 2, zeros), aErrNone) << "a module sits there";
    EXPECT_EQ(router.device.module().i2c().lastSpeed(), 3);
    EXPECT_EQ(bus.write(0x12, 2, zeros), aErrTimeout) << "nobody there";

    const unsigned char bytes[] = {0xA1, 0xB2, 0xC3};
    ASSERT_EQ(bus.write(0x10, 3, bytes), aErrNone);
    unsigned char back[4] = {0, 0, 0, 0xEE};
    EXPECT_EQ(bus.read(0x10, 3, back), aErrNone);
    EXPECT_EQ(Bytes(back, back + 4), (Bytes{0xA1, 0xB2, 0xC3, 0xEE}));

    uint64_t writes = router.device.module().i2c().writes();
    unsigned char big[24] = {};
    EXPECT_EQ(bus.write(0x10, 24, big), aErrSize);
    EXPECT_EQ(bus.read(0x10, 24, big), aErrSize);
    EXPECT_EQ(router.device.module().i2c().writes(), writes) << "nothing sent";

    EXPECT_EQ(bus.setPullup(true), aErrNone);
    EXPECT_TRUE(router.device.module().i2c().pullup());

    I2CClass copy(bus);
    EXPECT_EQ(copy.getSpeed(&speed), aErrNone);
    EXPECT_EQ(speed, 3) << "a copy keeps the speed";
}

TEST_F(I2CFixture, FailureRows) {
    ASSERT_EQ(router.connected, aErrNone);
    const unsigned char zeros[] = {0, 0};
    router.device.fault("i2c.write", ReplyFaultKind::Short);
    EXPECT_EQ(bus.write(0x10, 2, zeros), aErrPacket);
    router.device.fault("i2c.write", ReplyFaultKind::ErrorReply, 0, -1, aErrBusy);
    EXPECT_EQ(bus.write(0x10, 2, zeros), aErrBusy);
    router.device.fault("i2c.write", ReplyFaultKind::ErrorReply, 0, -1, aErrNone);
    EXPECT_EQ(bus.write(0x10, 2, zeros), aErrUnknown) << "an error status without its code is no success";
    router.device.fault("i2c.write", ReplyFaultKind::NoReply);
    EXPECT_EQ(bus.write(0x10, 2, zeros), aErrTimeout);
    router.device.clearFaults();
    ASSERT_EQ(bus.write(0x10, 2, zeros), aErrNone);

    // A read whose count claims more than the reply carries copies only what
    // is there, and never beyond the caller's length.
    router.device.fault("i2c.read", ReplyFaultKind::Corrupt);
    unsigned char back[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(bus.read(0x10, 2, back), aErrPacket);
    EXPECT_EQ(Bytes(back, back + 4), (Bytes{0, 0, 0xEE, 0xEE}));
    router.device.fault("i2c.pullup", ReplyFaultKind::ErrorReply, 0, -1, aErrIO);
    EXPECT_EQ(bus.setPullup(false), aErrIO);
}

// A second bus whose reads answer all 23 bytes it holds, however few were
// asked for.
class GenerousBus : public Veltrano::Sim::ModuleArea {
  public:
    bool handle(VirtualModule& module, const Veltrano::Sim::ModuleFrame& frame) override {
        const Bytes& d = frame.data;
        if (d.size() != 5 || d[0] != 8 || d[1] != 1 || !(d[2] & 1)) return false;
        Veltrano::Sim::ModuleFrame reply{frame.address, {8, 1, d[2], 23, 0}};
        for (uint8_t i = 0; i < 23; ++i)
            reply.data.push_back(static_cast<uint8_t>(0xA0 + i));
        module.send(reply);
        return true;
    }
};

TEST_F(I2CFixture, ReadCopiesNoMoreThanAskedFor) {
    ASSERT_EQ(router.connected, aErrNone);
    router.device.module().addArea(std::make_unique<GenerousBus>());
    I2CClass second;
    second.init(&router.module, 1);
    unsigned char back[6] = {0, 0, 0, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(second.read(0x10, 3, back), aErrNone);
    EXPECT_EQ(Bytes(back, back + 6), (Bytes{0xA0, 0xA1, 0xA2, 0xEE, 0xEE, 0xEE}));
}

} // namespace
