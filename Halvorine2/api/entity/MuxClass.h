// MuxClass (class 6): a multiplexer: which of its channels is connected, and the voltage
// seen on each.
#ifndef HALVORINE_MUXCLASS_H
#define HALVORINE_MUXCLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class MuxClass : public EntityTableClass<6> {
  public:
    static constexpr EntityOption kEnable{1, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kChannel{2, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kChannelVoltage{3, EntityWidth::I32, kEntityGet, true};
    static constexpr EntityOption kConfiguration{4, EntityWidth::I32, kEntityGetSet, false};
    static constexpr EntityOption kSplitMode{5, EntityWidth::I32, kEntityGetSet, false};
    static constexpr EntityOption kOptions[] = {kEnable, kChannel, kChannelVoltage, kConfiguration,
                                                kSplitMode};

    aErr getEnable(unsigned char* value) { return get<kEnable>(value); }
    aErr setEnable(unsigned char value) { return set<kEnable>(value); }
    aErr getChannel(unsigned char* value) { return get<kChannel>(value); }
    aErr setChannel(unsigned char value) { return set<kChannel>(value); }
    aErr getChannelVoltage(unsigned char subindex, int* value) {
        return get<kChannelVoltage>(subindex, value);
    }
    aErr getConfiguration(int* value) { return get<kConfiguration>(value); }
    aErr setConfiguration(int value) { return set<kConfiguration>(value); }
    aErr getSplitMode(int* value) { return get<kSplitMode>(value); }
    aErr setSplitMode(int value) { return set<kSplitMode>(value); }
};

} // namespace Veltrano::Halvorine

#endif
