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
};

std::vector<uint8_t> control(uint8_t which, uint8_t option, uint8_t index = 0) {
    return {0x5D, which, 0x20, kModule, 18, option, index};
}
const uint8_t kOn = 0x81, kOff = 0x82;

TEST(ShareHolders, AValueLeavesTheModuleOnlyWithItsLastHolder) {
    const Step steps[] = {
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

TEST(ShareHolders, AGoneClientHoldsNothing) {
    aShareSubscriptions* holders = aShareSubscriptions_Create();
    ASSERT_NE(holders, nullptr);
    std::vector<uint8_t> on = control(kOn, 5), off = control(kOff, 5);
    aPacket* subscribe = aPacket_CreateWithData(kModule, uint8_t(on.size()), on.data());
    aPacket* unsubscribe = aPacket_CreateWithData(kModule, uint8_t(off.size()), off.data());
    const uint8 a[] = {'A'}, b[] = {'B'};
    uint8 confirmation[aSHARE_STREAM_CONFIRMATION_SIZE];
    aShareSubscriptions_Offer(holders, a, 1, subscribe, confirmation);
    aShareSubscriptions_Offer(holders, b, 1, subscribe, confirmation);
    aShareSubscriptions_Forget(holders, a, 1);
    EXPECT_FALSE(aShareSubscriptions_Holds(holders, a, 1));
    EXPECT_FALSE(aShareSubscriptions_Offer(holders, b, 1, unsubscribe, confirmation))
        << "the gone client no longer keeps the value from the module";
    aPacket_Destroy(&subscribe);
    aPacket_Destroy(&unsubscribe);
    aShareSubscriptions_Destroy(&holders);
}

} // namespace
