#include "StreamedCounters.h"

namespace Veltrano::Sim {

std::vector<StreamSource> streamedCounters() {
    std::vector<StreamSource> sources;
    for (uint8_t index = 0; index < kCounters; ++index) {
        StreamSource source;
        source.command = kCounterCommand;
        source.option = kCounterOption;
        source.index = index;
        source.value = counterStart(index);
        source.step = 1;
        sources.push_back(source);
    }
    return sources;
}

} // namespace Veltrano::Sim
