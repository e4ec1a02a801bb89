// The virtual module on its own: what it answers, what it counts and the faults
// it injects, seen through a captured output.
#include <gtest/gtest.h>

#include <vector>

#include "VirtualModule.h"

using namespace Veltrano::Sim;

namespace {

using Bytes = std::vector<uint8_t>;

struct Captured {
    VirtualModule module;
    Bytes out;
    explicit Captured(ModuleIdentity id = {}) : module(id) {
        module.connect([this](const uint8_t* b, size_t n) { out.insert(out.end(), b, b + n); });
    }
    Bytes exchange(const Bytes& in) {
        out.clear();
        module.receive(in.data(), in.size());
        return out;
    }
};

TEST(VirtualModule, AnswersByArea) {
    const struct {
        const char* name;
        Bytes in;
        Bytes out;
    } cases[] = {
        {"sync", {0xAD, 0x00}, {0x04, 0x00}},
        {"force route", {0xAF, 0x01, 0x01}, {}},
        {"serial number",
         {0x04, 0x03, 0x03, 0x49, 0x20},
         {0x04, 0x07, 0x03, 0x09, 0x00, 0x40, 0xF5, 0x84, 0x9A}},
        {"model", {0x04, 0x03, 0x03, 0x48, 0x20}, {0x04, 0x04, 0x03, 0x08, 0x00, 0x04}},
        {"module address", {0x04, 0x03, 0x03, 0x41, 0x20}, {0x04, 0x04, 0x03, 0x01, 0x00, 0x04}},
        {"version", {0x04, 0x03, 0x03, 0x47, 0x20}, {0x04, 0x07, 0x03, 0x07, 0x00, 0x2F, 0x02, 0x0F, 0x03}},
        {"unknown entity option", {0x04, 0x03, 0x03, 0x4C, 0x20}, {0x04, 0x04, 0x03, 0x0C, 0x80, 21}},
        {"set of an unknown option",
         {0x04, 0x04, 0x03, 0x85, 0x20, 0x01},
         {0x04, 0x04, 0x03, 0xC5, 0x80, 21}},
        {"plain command: no entity error", {0x04, 0x03, 0x08, 0x00, 0x20}, {}},
        {"another module's address", {0x06, 0x03, 0x03, 0x49, 0x20}, {}},
        {"oversized frame is skipped", {0x04, 0x1D, 0xAD, 0x00}, {0x04, 0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Captured captured;
        EXPECT_EQ(captured.exchange(c.in), c.out);
    }
}

TEST(VirtualModule, ForceRouteFollowsTheHost) {
    Captured c;
    c.exchange({0xAF, 0x01, 0x01});
    EXPECT_TRUE(c.module.linkControl().routeForced());
    c.exchange({0xAF, 0x01, 0x00});
    EXPECT_FALSE(c.module.linkControl().routeForced());
    EXPECT_EQ(c.module.linkControl().routeRequests(), 2u);
}

TEST(VirtualModule, HeartbeatsAlternateAndAnswersAreChecked) {
    ModuleIdentity id;
    id.heartbeatIntervalMs = 10;
    Captured c(id);
    c.module.tick(1000);
    EXPECT_TRUE(c.out.empty()) << "no heartbeat before the host has spoken";
    c.exchange({0xAF, 0x01, 0x01});
    c.module.tick(1000);
    EXPECT_EQ(c.module.dueMs(), 1010u);
    c.module.tick(1010);
    EXPECT_EQ(c.out, (Bytes{0x04, 0x02, 0x00, 0x00}));
    c.exchange({0x04, 0x02, 0x00, 0x02}); // right answer to "up"
    c.out.clear();
    c.module.tick(1020);
    EXPECT_EQ(c.out, (Bytes{0x04, 0x02, 0x00, 0x01}));
    c.exchange({0x04, 0x02, 0x00, 0x02}); // wrong: "down" wants 3
    c.module.tick(1030);                  // still unanswered: missed
    HeartbeatCounts counts = c.module.heartbeat().counts();
    EXPECT_EQ(counts.sent, 3u);
    EXPECT_EQ(counts.answered, 1u);
    EXPECT_EQ(counts.wrong, 1u);
    EXPECT_EQ(counts.missed, 1u);
}

TEST(VirtualModule, FaultsShapeTheOutput) {
    Captured c;
    ModuleFaults faults;
    faults.dropBytes = {1};
    faults.garbleBytes = {2};
    c.module.setFaults(faults);
    c.exchange({0xAD, 0x00});
    EXPECT_EQ(c.out, (Bytes{0x04}));
    EXPECT_EQ(c.exchange({0xAD, 0x00}), (Bytes{0xFB, 0x00}));

    faults = {};
    faults.silentAfterPackets = 1;
    c.module.setFaults(faults);
    c.module.connect([&c](const uint8_t* b, size_t n) { c.out.insert(c.out.end(), b, b + n); });
    EXPECT_EQ(c.exchange({0xAD, 0x00}), (Bytes{0x04, 0x00}));
    EXPECT_TRUE(c.exchange({0xAD, 0x00}).empty());

    faults = {};
    faults.closeAfterPackets = 2;
    c.module.setFaults(faults);
    c.module.connect([&c](const uint8_t* b, size_t n) { c.out.insert(c.out.end(), b, b + n); });
    c.exchange({0xAD, 0x00});
    EXPECT_FALSE(c.module.wantsClose());
    EXPECT_EQ(c.exchange({0xAD, 0x00}), (Bytes{0x04, 0x00})) << "the last packet is still answered";
    EXPECT_TRUE(c.module.wantsClose());
}

} // namespace
