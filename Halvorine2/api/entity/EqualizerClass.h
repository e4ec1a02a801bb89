// EqualizerClass (class 15): a signal equalizer of a high-speed line: receiver settings
// per channel, and the transmitter's.
#ifndef HALVORINE_EQUALIZERCLASS_H
#define HALVORINE_EQUALIZERCLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class EqualizerClass : public EntityTableClass<15> {
  public:
    static constexpr EntityOption kReceiverConfig{1, EntityWidth::U8, kEntityGetSet, true};
    static constexpr EntityOption kTransmitterConfig{2, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kOptions[] = {kReceiverConfig, kTransmitterConfig};

    aErr getReceiverConfig(unsigned char subindex, unsigned char* value) {
        return get<kReceiverConfig>(subindex, value);
    }
    aErr setReceiverConfig(unsigned char subindex, unsigned char value) {
        return set<kReceiverConfig>(subindex, value);
    }
    aErr getTransmitterConfig(unsigned char* value) { return get<kTransmitterConfig>(value); }
    aErr setTransmitterConfig(unsigned char value) { return set<kTransmitterConfig>(value); }
};

} // namespace Veltrano::Halvorine

#endif
