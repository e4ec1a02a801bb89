// RelayClass (class 34): a relay: whether it is closed, and the voltage across it.
#ifndef HALVORINE_RELAYCLASS_H
#define HALVORINE_RELAYCLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class RelayClass : public EntityTableClass<34> {
  public:
    static constexpr EntityOption kEnable{1, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kVoltage{2, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kOptions[] = {kEnable, kVoltage};

    aErr getEnable(unsigned char* value) { return get<kEnable>(value); }
    aErr setEnable(unsigned char value) { return set<kEnable>(value); }
    aErr getVoltage(int* value) { return get<kVoltage>(value); }
};

} // namespace Veltrano::Halvorine

#endif
