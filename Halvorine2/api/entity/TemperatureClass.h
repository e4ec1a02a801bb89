// TemperatureClass (class 33): a temperature sensor: the value and the lowest and highest
// seen since the last reset.
#ifndef HALVORINE_TEMPERATURECLASS_H
#define HALVORINE_TEMPERATURECLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class TemperatureClass : public EntityTableClass<33> {
  public:
    static constexpr EntityOption kValue{1, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kValueMin{2, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kValueMax{3, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kResetEntityToFactoryDefaults{4, EntityWidth::None, kEntitySet, false};
    static constexpr EntityOption kOptions[] = {kValue, kValueMin, kValueMax, kResetEntityToFactoryDefaults};

    aErr getValue(int* value) { return get<kValue>(value); }
    aErr getValueMin(int* value) { return get<kValueMin>(value); }
    aErr getValueMax(int* value) { return get<kValueMax>(value); }
    aErr resetEntityToFactoryDefaults() { return call<kResetEntityToFactoryDefaults>(); }
};

} // namespace Veltrano::Halvorine

#endif
