// The entity class family: every class's table walked against the virtual
// module (values of each width, subindexes, streamed values, calls, refused
// directions), the class numbers, the bytes of the members that pack their
// arguments, and the store and application classes.
#include <gtest/gtest.h>

#include <functional>
#include <mutex>

#include "AnalogClass.h"
#include "ApiFixtures.h"
#include "AppClass.h"
#include "ClockClass.h"
#include "DigitalClass.h"
#include "EqualizerClass.h"
#include "EthernetClass.h"
#include "HDBaseTClass.h"
#include "I2CClass.h"
#include "MuxClass.h"
#include "POEClass.h"
#include "PointerClass.h"
#include "PortClass.h"
#include "PowerDeliveryClass.h"
#include "RCServoClass.h"
#include "RailClass.h"
#include "RelayClass.h"
#include "SignalClass.h"
#include "StoreClass.h"
#include "SystemClass.h"
#include "TemperatureClass.h"
#include "TimerClass.h"
#include "UARTClass.h"
#include "USBClass.h"
#include "USBSystemClass.h"
#include "UeiMessage.h"

using namespace ApiTest;
using Veltrano::Sim::EntityValueArea;
using Veltrano::Sim::ModuleFrame;

namespace {

constexpr uint8_t kIndex = 2;
constexpr uint8_t kSubindex = 3;

// Any class, any option: the generic exchanges of the tables.
struct AnyEntity : EntityClass {
    using EntityClass::getValue;
    using EntityClass::getValues;
    using EntityClass::setValue;
    using EntityClass::setValues;
};

// Records every frame the module receives, and lets the other areas answer.
class Capture : public Veltrano::Sim::ModuleArea {
  public:
    bool handle(VirtualModule&, const ModuleFrame& frame) override {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.push_back(frame.data);
        return false;
    }
    std::vector<Bytes> frames() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<Bytes> frames_;
};

struct FamilyFixture : ::testing::Test {
    FamilyFixture() {
        auto capture = std::make_unique<Capture>();
        sent = capture.get();
        m.device.module().addFirstArea(std::move(capture));
    }
    EntityValueArea& values() { return m.device.module().entityValues(); }
    // The frames sent since the last call.
    std::vector<Bytes> takeSent() {
        std::vector<Bytes> frames = sent->frames();
        sent->clear();
        return frames;
    }
    ConnectedModule m;
    Capture* sent;
};

// A value that fills the row's width (the top bit set, so a narrowed or
// sign-lost value shows), different for every class and option.
uint32_t sample(const EntityOption& row, uint8_t command) {
    switch (row.width) {
    case EntityWidth::U8:
        return 0x80u | row.option;
    case EntityWidth::U16:
        return 0x8000u | (command << 6) | row.option;
    default:
        return 0x80000000u | (command << 16) | (row.option << 8) | 0x5A;
    }
}

// A get or set in the row's width, or in another one when `width` says so.
aErr getIn(AnyEntity& entity, EntityWidth width, const EntityOption& row, int subindex, uint32_t* value) {
    unsigned char u8 = 0;
    unsigned short u16 = 0;
    unsigned int u32 = 0;
    int i32 = 0;
    aErr err = aErrNone;
    bool sub = subindex >= 0;
    unsigned char s = static_cast<unsigned char>(subindex);
    switch (width) {
    case EntityWidth::U8:
        err = sub ? entity.getValue(row.option, s, &u8) : entity.getValue(row.option, &u8);
        *value = u8;
        break;
    case EntityWidth::U16:
        err = sub ? entity.getValue(row.option, s, &u16) : entity.getValue(row.option, &u16);
        *value = u16;
        break;
    case EntityWidth::I32:
        err = sub ? entity.getValue(row.option, s, &i32) : entity.getValue(row.option, &i32);
        *value = static_cast<uint32_t>(i32);
        break;
    default:
        err = sub ? entity.getValue(row.option, s, &u32) : entity.getValue(row.option, &u32);
        *value = u32;
        break;
    }
    return err;
}

aErr setIn(AnyEntity& entity, EntityWidth width, const EntityOption& row, int subindex, uint32_t value) {
    bool sub = subindex >= 0;
    unsigned char s = static_cast<unsigned char>(subindex);
    switch (width) {
    case EntityWidth::U8: {
        auto v = static_cast<unsigned char>(value);
        return sub ? entity.setValue(row.option, s, v) : entity.setValue(row.option, v);
    }
    case EntityWidth::U16: {
        auto v = static_cast<unsigned short>(value);
        return sub ? entity.setValue(row.option, s, v) : entity.setValue(row.option, v);
    }
    case EntityWidth::I32: {
        auto v = static_cast<int>(value);
        return sub ? entity.setValue(row.option, s, v) : entity.setValue(row.option, v);
    }
    default:
        return sub ? entity.setValue(row.option, s, value) : entity.setValue(row.option, value);
    }
}

// A width the row does not have, for the refusals.
EntityWidth otherWidth(EntityWidth width) {
    return width == EntityWidth::U8 ? EntityWidth::U32 : EntityWidth::U8;
}

Bytes pattern(size_t length, uint8_t first) {
    Bytes bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

void walkScalar(FamilyFixture& f, AnyEntity& entity, uint8_t command, const EntityOption& row) {
    int sub = row.subindexed ? kSubindex : EntityValueArea::kNoSubindex;
    uint32_t want = sample(row, command);
    if (row.sets()) {
        ASSERT_EQ(setIn(entity, row.width, row, sub, want), aErrNone);
        EXPECT_EQ(f.values().value(command, kIndex, row.option, sub), want)
            << "stored at its index and subindex";
        EXPECT_EQ(setIn(entity, otherWidth(row.width), row, sub, want), aErrSize)
            << "a value of another width";
    } else {
        EXPECT_EQ(setIn(entity, row.width, row, sub, want), aErrInvalidOption) << "a value that is only read";
    }
    if (!row.gets()) {
        uint32_t got = 0;
        EXPECT_EQ(getIn(entity, row.width, row, sub, &got), aErrInvalidOption) << "a value that is only set";
        return;
    }
    uint32_t got = 0;
    ASSERT_EQ(getIn(entity, row.width, row, sub, &got), aErrNone);
    EXPECT_EQ(got, want);
    EXPECT_EQ(getIn(entity, otherWidth(row.width), row, sub, &got), aErrSize)
        << "the reply has the row's width";
    if (row.subindexed) {
        EXPECT_EQ(getIn(entity, row.width, row, kSubindex + 1, &got), aErrNone);
        EXPECT_EQ(got, 0u) << "another subindex is another value";
        EXPECT_EQ(getIn(entity, row.width, row, EntityValueArea::kNoSubindex, &got), aErrSize)
            << "the subindex is missing";
    }
}

void walkStreamed(FamilyFixture& f, AnyEntity& entity, uint8_t command, const EntityOption& row) {
    Bytes want = pattern(36, static_cast<uint8_t>(command + row.option)); // two chunks, nine 32-bit values
    if (row.sets()) {
        aErr err = row.width == EntityWidth::Bytes
                       ? entity.setUEIBytes(row.option, want.data(), static_cast<unsigned>(want.size()))
                       : entity.setValues(row.option, reinterpret_cast<const unsigned int*>(want.data()), 9);
        ASSERT_EQ(err, aErrNone);
        EXPECT_EQ(f.values().bytes(command, kIndex, row.option), want);
    } else {
        f.values().setBytes(command, kIndex, row.option, want);
        EXPECT_EQ(entity.setUEIBytes(row.option, want.data(), 4), aErrInvalidOption);
    }
    Bytes got(want.size());
    unsigned int length = 0;
    if (row.width == EntityWidth::Bytes) {
        ASSERT_EQ(entity.getUEIBytes(row.option, got.data(), static_cast<unsigned>(got.size()), &length),
                  aErrNone);
        EXPECT_EQ(length, want.size());
    } else {
        ASSERT_EQ(entity.getValues(row.option, reinterpret_cast<unsigned int*>(got.data()), 9, &length),
                  aErrNone);
        EXPECT_EQ(length, 9u) << "counted in values";
    }
    EXPECT_EQ(got, want);
}

TEST_F(FamilyFixture, EveryTableAgainstTheModule) {
    ASSERT_EQ(m.connected, aErrNone);
    size_t count = 0;
    const EntityOptionTable* tables = EntityOptionTables(&count);
    // Values only read are set up front: an application's result follows its
    // execute unasked and may be what the get of the result takes.
    for (size_t t = 0; t < count; ++t)
        for (size_t r = 0; r < tables[t].count; ++r) {
            const EntityOption& row = tables[t].options[r];
            if (!row.sets() && !row.streamed())
                values().setValue(tables[t].classNumber, kIndex, row.option,
                                  sample(row, tables[t].classNumber),
                                  row.subindexed ? kSubindex : EntityValueArea::kNoSubindex);
        }
    for (size_t t = 0; t < count; ++t) {
        const EntityOptionTable& table = tables[t];
        AnyEntity entity;
        entity.init(&m.module, table.classNumber, kIndex);
        for (size_t r = 0; r < table.count; ++r) {
            const EntityOption& row = table.options[r];
            SCOPED_TRACE(std::string(table.name) + " option " + std::to_string(row.option));
            if (row.width == EntityWidth::None) {
                ASSERT_EQ(entity.callUEI(row.option), aErrNone);
                EXPECT_EQ(values().calls(table.classNumber, kIndex, row.option), 1u);
                EXPECT_EQ(entity.setUEI8(row.option, 1), aErrSize) << "a call takes no value";
            } else if (row.streamed()) {
                walkStreamed(*this, entity, table.classNumber, row);
            } else {
                walkScalar(*this, entity, table.classNumber, row);
            }
        }
        uint32_t got = 0;
        EXPECT_EQ(getIn(entity, EntityWidth::U8, EntityOption{63, EntityWidth::U8, kEntityGet, false},
                        EntityValueArea::kNoSubindex, &got),
                  aErrInvalidOption)
            << table.name << ": an option the class lacks";
    }
}

// The numbers of the classes, as the modules know them.
TEST(EntityFamily, ClassNumbers) {
    const std::vector<std::pair<std::string, unsigned>> expected = {
        {"AppClass", 5},          {"MuxClass", 6},
        {"PointerClass", 7},      {"RCServoClass", 13},
        {"SignalClass", 14},      {"EqualizerClass", 15},
        {"USBClass", 18},         {"AnalogClass", 30},
        {"DigitalClass", 31},     {"RailClass", 32},
        {"TemperatureClass", 33}, {"RelayClass", 34},
        {"UARTClass", 35},        {"PowerDeliveryClass", 36},
        {"PortClass", 37},        {"USBSystemClass", 38},
        {"EthernetClass", 39},    {"POEClass", 40},
        {"HDBaseTClass", 41},     {"StoreClass", 77},
        {"TimerClass", 79},       {"ClockClass", 83},
    };
    size_t count = 0;
    const EntityOptionTable* tables = EntityOptionTables(&count);
    std::vector<std::pair<std::string, unsigned>> listed;
    for (size_t t = 0; t < count; ++t)
        listed.emplace_back(tables[t].name, tables[t].classNumber);
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(EntityOptionTable_find(36), &tables[13]);
    EXPECT_EQ(EntityOptionTable_find(3), nullptr) << "the system class has no table";

    const unsigned numbers[] = {
        SystemClass::kClassNumber,        AppClass::kClassNumber,       MuxClass::kClassNumber,
        PointerClass::kClassNumber,       I2CClass::kClassNumber,       RCServoClass::kClassNumber,
        SignalClass::kClassNumber,        EqualizerClass::kClassNumber, USBClass::kClassNumber,
        AnalogClass::kClassNumber,        DigitalClass::kClassNumber,   RailClass::kClassNumber,
        TemperatureClass::kClassNumber,   RelayClass::kClassNumber,     UARTClass::kClassNumber,
        PowerDeliveryClass::kClassNumber, PortClass::kClassNumber,      USBSystemClass::kClassNumber,
        EthernetClass::kClassNumber,      POEClass::kClassNumber,       HDBaseTClass::kClassNumber,
        StoreClass::kClassNumber,         TimerClass::kClassNumber,     ClockClass::kClassNumber,
    };
    EXPECT_EQ(std::vector<unsigned>(std::begin(numbers), std::end(numbers)),
              (std::vector<unsigned>{3,  5,  6,  7,  8,  13, 14, 15, 18, 30, 31, 32,
                                     33, 34, 35, 36, 37, 38, 39, 40, 41, 77, 79, 83}));
}

// Members on the wire: what goes out for a call of the class's own member.
TEST_F(FamilyFixture, MembersOnTheWire) {
    ASSERT_EQ(m.connected, aErrNone);
    ClockClass clock;
    clock.init(&m.module, kIndex);
    ASSERT_EQ(clock.setYear(2024), aErrNone);
    EXPECT_EQ(takeSent(), (std::vector<Bytes>{{83, 0x81, 0x22, 0x07, 0xE8}}));
    unsigned short year = 0;
    EXPECT_EQ(clock.getYear(&year), aErrNone);
    EXPECT_EQ(year, 2024);
    EXPECT_EQ(clock.getYear(nullptr), aErrParam);

    USBClass usb;
    usb.init(&m.module, kIndex);
    values().setValue(18, kIndex, 8, static_cast<uint32_t>(-5000), 3);
    takeSent();
    int voltage = 0;
    ASSERT_EQ(usb.getPortVoltage(3, &voltage), aErrNone);
    EXPECT_EQ(voltage, -5000);
    EXPECT_EQ(takeSent(), (std::vector<Bytes>{{18, 0x48, 0x22, 3}}));
    ASSERT_EQ(usb.setPortEnable(5), aErrNone);
    EXPECT_EQ(takeSent(), (std::vector<Bytes>{{18, 0x81, 0x22, 5}})) << "the port is the value";

    EthernetClass ethernet;
    ethernet.init(&m.module, kIndex);
    Bytes name = pattern(30, 'a');
    ASSERT_EQ(ethernet.setHostname(name.data(), static_cast<unsigned>(name.size())), aErrNone);
    unsigned char small[20];
    unsigned int length = 0;
    EXPECT_EQ(ethernet.getHostname(small, sizeof small, &length), aErrMemory)
        << "a buffer smaller than the name";
}

TEST_F(FamilyFixture, PowerDataObjectAttributes) {
    ASSERT_EQ(m.connected, aErrNone);
    PowerDeliveryClass pd;
    pd.init(&m.module, kIndex);
    unsigned int object = 0;
    unsigned char flag = 0;
    struct Case {
        const char* what;
        std::function<aErr()> call;
        Bytes request; // empty: refused before sending
    };
    const Case cases[] = {
        {"role 2, partner 1",
         [&] { return pd.getPowerDataObject(1, 2, 5, &object); },
         {36, 0x41, 0x22, 0xC5}},
        {"role 1, partner 0",
         [&] { return pd.getPowerDataObject(0, 1, 63, &object); },
         {36, 0x41, 0x22, 0x3F}},
        {"setter leaves the partner clear",
         [&] { return pd.setPowerDataObject(2, 1, 0x12345678); },
         {36, 0x81, 0x22, 0x81, 0x12, 0x34, 0x56, 0x78}},
        {"enabled", [&] { return pd.getPowerDataObjectEnabled(1, 1, 2, &flag); }, {36, 0x43, 0x22, 0x42}},
        {"set enabled", [&] { return pd.setPowerDataObjectEnabled(2, 2, 1); }, {36, 0x83, 0x22, 0x82, 1}},
        {"enabled list, partner unchecked",
         [&] { return pd.getPowerDataObjectEnabledList(5, &flag); },
         {36, 0x44, 0x22, 5}},
        {"count: index 0",
         [&] { return pd.getNumberOfPowerDataObjects(1, 2, &flag); },
         {36, 0x45, 0x22, 0xC0}},
        {"request object", [&] { return pd.getRequestDataObject(1, &object); }, {36, 0x46, 0x22, 0xC0}},
        {"set request object",
         [&] { return pd.setRequestDataObject(7); },
         {36, 0x86, 0x22, 0x80, 0, 0, 0, 7}},
        {"reset: the byte is the value",
         [&] { return pd.resetPowerDataObjectToDefault(2, 7); },
         {36, 0x8F, 0x22, 0x87}},
        {"role 3", [&] { return pd.getPowerDataObject(0, 3, 5, &object); }, {}},
        {"role 0", [&] { return pd.setPowerDataObject(0, 5, 1); }, {}},
        {"partner 2", [&] { return pd.getPowerDataObjectEnabled(2, 1, 5, &flag); }, {}},
        {"index 64", [&] { return pd.resetPowerDataObjectToDefault(1, 64); }, {}},
        {"request partner 2", [&] { return pd.getRequestDataObject(2, &object); }, {}},
        {"no output", [&] { return pd.getPowerDataObject(0, 1, 5, nullptr); }, {}},
    };
    for (const Case& c : cases) {
        takeSent();
        EXPECT_EQ(c.call(), c.request.empty() ? aErrParam : aErrNone) << c.what;
        std::vector<Bytes> want;
        if (!c.request.empty()) want.push_back(c.request);
        EXPECT_EQ(takeSent(), want) << c.what;
    }

    unsigned char byte = 0, partner = 9, role = 9, index = 99;
    EXPECT_EQ(PowerDeliveryClass::packDataObjectAttributes(&byte, 1, 2, 5), aErrNone);
    EXPECT_EQ(byte, 0xC5);
    EXPECT_EQ(PowerDeliveryClass::unpackDataObjectAttributes(byte, &partner, &role, &index), aErrNone);
    EXPECT_EQ(std::make_tuple(partner, role, index), std::make_tuple(1, 2, 5));
    EXPECT_EQ(PowerDeliveryClass::unpackDataObjectAttributes(0x3F, &partner, &role, &index), aErrNone);
    EXPECT_EQ(std::make_tuple(partner, role, index), std::make_tuple(0, 1, 63));
    EXPECT_EQ(PowerDeliveryClass::packDataObjectAttributes(nullptr, 0, 1, 0), aErrParam);
    EXPECT_EQ(PowerDeliveryClass::unpackDataObjectAttributes(0, nullptr, &role, &index), aErrParam);
}

TEST_F(FamilyFixture, StoreSlotsAndApplications) {
    ASSERT_EQ(m.connected, aErrNone);
    StoreClass store;
    store.init(&m.module, 0);
    Bytes data = pattern(40, 1);
    ASSERT_EQ(store.loadSlot(1, data.data(), static_cast<unsigned short>(data.size())), aErrNone);
    unsigned int size = 0, capacity = 0, length = 0;
    EXPECT_EQ(store.getSlotSize(1, &size), aErrNone);
    EXPECT_EQ(size, 40u);
    EXPECT_EQ(store.getSlotCapacity(1, &capacity), aErrNone);
    EXPECT_EQ(capacity, 1024u);
    Bytes back(64);
    ASSERT_EQ(store.unloadSlot(1, static_cast<unsigned>(back.size()), back.data(), &length), aErrNone);
    EXPECT_EQ(Bytes(back.begin(), back.begin() + length), data);
    EXPECT_EQ(store.getSlotSize(1, nullptr), aErrParam);

    AppClass app;
    app.init(&m.module, kIndex);
    values().setValue(5, kIndex, 2, 0xCAFEF00D);
    unsigned int result = 0;
    ASSERT_EQ(app.execute(7, &result, 0), aErrNone);
    EXPECT_EQ(result, 0xCAFEF00Du);
    EXPECT_EQ(values().value(5, kIndex, 1), 7u);
    // A result left from a plain execute is dropped, not taken for the next one.
    ASSERT_EQ(app.execute(8), aErrNone);
    aTime_MSSleep(20);
    values().setValue(5, kIndex, 2, 42);
    ASSERT_EQ(app.execute(9, &result, 0), aErrNone);
    EXPECT_EQ(result, 42u);
    EXPECT_EQ(app.execute(9, nullptr, 0), aErrParam);

    StoreClass unbound;
    AppClass idle;
    EXPECT_EQ(unbound.getSlotSize(0, &size), aErrResource);
    EXPECT_EQ(unbound.slotEnable(0), aErrResource);
    EXPECT_EQ(idle.execute(1, &result, 0), aErrResource);
}

} // namespace
