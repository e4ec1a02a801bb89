// The values a sharedmodule streams when asked to: four 32-bit counters of one
// entity (command 18, option 5, indexes 0 to 3), each counting up by one per
// sample from its own start, so that a subscriber can tell a lost or reordered
// sample from the values alone.
#pragma once

#include <cstdint>
#include <vector>

#include "StreamArea.h"

namespace Veltrano::Sim {

constexpr uint8_t kCounterCommand = 18;
constexpr uint8_t kCounterOption = 5;
constexpr uint8_t kCounters = 4;

// The first value counter `index` streams.
constexpr uint32_t counterStart(uint8_t index) {
    return (uint32_t(index) + 1) << 20;
}

std::vector<StreamSource> streamedCounters();

} // namespace Veltrano::Sim
