// Which sharing client holds which streamed value: what the server lets through to
// the module, what it confirms itself, and who gets the sample batches.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "aShareSubscriptions.h"

namespace {

constexpr uint8_t kModule = 6;

struct Step {
    const char* what;
    std::string client;
    std::vector<uint8_t> data; // the request's data bytes
    bool confirmedHere;        // kept from the module, confirmed by the server
    bool holdsAfter;
    bool moduleConfirms = true; // for an enable: the module's answer
};

std::vector<uint8_t> control(uint8_t which, uint8_t option, uint8_t index = 0) {
    return {0x5D, which, 0x20, kModule, 18, option, index};
}
const uint8_t kOn = 0x81, kOff = 0x82;

TEST(ShareHolders, AValueLeavesTheModuleOnlyWithItsLastHolder) {
    const Step steps[] = {
        {"C subscribes, the module refuses", "C", control(kOn, 5), false, false, false},
        {"A subscribes to option 5", "A", control(kOn, 5), false, true},
        {"B subscribes to option 5 too", "B", control(kOn, 5), false, true},
        {"B subscribes to option 6", "B", control(kOn, 6), false, true},
        {"A leaves 5, B holds it", "A", control(kOff, 5), true, false},
        {"A leaves 5 again, B still holds it", "A", control(kOff, 5), true, false},
        {"B leaves 6, held by nobody else", "B", control(kOff, 6), false, true},
        {"B leaves 5, its last", "B", control(kOff, 5), false, false},
        {"a get of the streaming state is no control", "A", {0x5D, 0x01, 0x00}, false, false},
        {"an echo", "A", {23, 1, 2}, false, false},
        {"a control of another length", "A", {0x5D, kOn, 0x20, kModule, 18, 5}, false, false},
    };
    aShareSubscriptions* holders = aShareSubscriptions_Create();
    ASSERT_NE(holders, nullptr);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        aPacket* request = aPacket_CreateWithData(kModule, uint8_t(step.data.size()), step.data.data());
        const uint8* id = reinterpret_cast<const uint8*>(step.client.data());
        uint8 confirmation[aSHARE_STREAM_CONFIRMATION_SIZE] = {0};
        EXPECT_EQ(aShareSubscriptions_Offer(holders, id, step.client.size(), request, confirmation),
                  step.confirmedHere);
        uint32 word = 0;
        const bool enable = aShareSubscriptions_EnableWord(request, &word);
        if (enable) {
            aShareSubscriptions_Expect(holders, id, step.client.size(), word);
            EXPECT_TRUE(aShareSubscriptions_Holds(holders, id, step.client.size()))
                << "it waits for the module";
            aShareSubscriptions_Answered(holders, id, step.client.size(), word, step.moduleConfirms);
        }
        if (step.confirmedHere) {
            const uint8 expected[] = {kModule, 3, 0x5D, 0xC2, 0}; // what the module itself answers
            EXPECT_EQ(std::vector<uint8>(confirmation, confirmation + sizeof confirmation),
                      std::vector<uint8>(expected, expected + sizeof expected));
        }
        EXPECT_EQ(aShareSubscriptions_Holds(holders, id, step.client.size()), step.holdsAfter);
        aPacket_Destroy(&request);
    }
    aShareSubscriptions_Destroy(&holders);
    EXPECT_EQ(holders, nullptr);
}

void sCollect(uint32 word, void* ref) {
    static_cast<std::vector<uint32>*>(ref)->push_back(word);
}

// A client that goes gives up what it held; a value nobody holds any more is
// named, so that the server turns it off at the module.
TEST(ShareHolders, AGoneClientHoldsNothingAndItsLastValuesAreNamed) {
    aShareSubscriptions* holders = aShareSubscriptions_Create();
    ASSERT_NE(holders, nullptr);
    const uint32 five = uint32(kModule) << 24 | 18 << 16 | 5 << 8, seven = five + (2 << 8);
    const uint8 a[] = {'A'}, b[] = {'B'};
    aShareSubscriptions_Answered(holders, a, 1, five, true);
    aShareSubscriptions_Answered(holders, a, 1, seven, true);
    aShareSubscriptions_Answered(holders, b, 1, five, true);
    std::vector<uint32> released;
    aShareSubscriptions_Forget(holders, a, 1, sCollect, &released);
    EXPECT_FALSE(aShareSubscriptions_Holds(holders, a, 1));
    EXPECT_EQ(released, std::vector<uint32>{seven}) << "B still holds five";
    std::vector<uint8_t> off = control(kOff, 5);
    aPacket* unsubscribe = aPacket_CreateWithData(kModule, uint8_t(off.size()), off.data());
    uint8 confirmation[aSHARE_STREAM_CONFIRMATION_SIZE];
    EXPECT_FALSE(aShareSubscriptions_Offer(holders, b, 1, unsubscribe, confirmation))
        << "the gone client no longer keeps the value from the module";
    aPacket_Destroy(&unsubscribe);
    aShareSubscriptions_Answered(holders, b, 1, five, true);
    released.clear();
    aShareSubscriptions_Forget(holders, b, 1, sCollect, &released);
    EXPECT_EQ(released, std::vector<uint32>{five});

    aPacket* disable = aShareSubscriptions_DisableRequest(seven);
    ASSERT_NE(disable, nullptr);
    EXPECT_EQ(disable->address, kModule);
    EXPECT_EQ(std::vector<uint8_t>(disable->data, disable->data + disable->dataSize), control(kOff, 7));
    aPacket_Destroy(&disable);
    aShareSubscriptions_Destroy(&holders);
}

TEST(ShareHolders, WhatConfirmsAnEnable) {
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
        bool confirms;
    };
    const Case cases[] = {
        {"the enable's confirmation", {0x5D, 0xC1, 0x00}, true},
        {"an error reply", {0x5D, 0xC1, 0x80, 5}, false},
        {"a disable's confirmation", {0x5D, 0xC2, 0x00}, false},
        {"another command", {0x5C, 0xC1, 0x00}, false},
        {"too short", {0x5D, 0xC1}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        aPacket* reply = aPacket_CreateWithData(kModule, uint8_t(c.data.size()), c.data.data());
        EXPECT_EQ(aShareSubscriptions_Confirms(reply), c.confirms);
        aPacket_Destroy(&reply);
    }
}

// Which samples a client gets: those of the values it holds or waits for, an
// element 0xFF of a held value standing for any.
TEST(ShareHolders, WhichSamplesAClientWants) {
    aShareSubscriptions* holders = aShareSubscriptions_Create();
    const std::string held = "H", waiting = "W", none = "N";
    auto id = [](const std::string& c) { return reinterpret_cast<const uint8_t*>(c.data()); };
    auto word = [](uint8_t command, uint8_t option, uint8_t index) {
        return uint32_t(kModule) << 24 | uint32_t(command) << 16 | uint32_t(option) << 8 | index;
    };
    aShareSubscriptions_Expect(holders, id(held), 1, word(18, 5, 1));
    aShareSubscriptions_Answered(holders, id(held), 1, word(18, 5, 1), true);
    aShareSubscriptions_Expect(holders, id(held), 1, word(18, 0xFF, 2)); // any option of index 2
    aShareSubscriptions_Answered(holders, id(held), 1, word(18, 0xFF, 2), true);
    aShareSubscriptions_Expect(holders, id(waiting), 1, word(18, 5, 3));
    struct Case {
        const char* what;
        std::string client;
        std::vector<uint8_t> wire; // address, size, command, option, index | 0x40, ...
        bool wants;
    } cases[] = {
        {"its value", held, {kModule, 5, 18, 5, 0x41, 1, 0}, true},
        {"another index", held, {kModule, 5, 18, 5, 0x40, 1, 0}, false},
        {"another module", held, {8, 5, 18, 5, 0x41, 1, 0}, false},
        {"a wildcard option", held, {kModule, 5, 18, 9, 0x42, 1, 0}, true},
        {"a value it waits for", waiting, {kModule, 5, 18, 5, 0x43, 1, 0}, true},
        {"a client holding nothing", none, {kModule, 5, 18, 5, 0x41, 1, 0}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(aShareSubscriptions_Wants(holders, id(c.client), 1,
                                            aShareSubscriptions_SampleWord(c.wire.data())),
                  c.wants);
    }
    aShareSubscriptions_Destroy(&holders);
}

} // namespace
