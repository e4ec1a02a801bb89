// SignalClass (class 14): a signal output: enable, inversion and its two timing values
// (T2, T3).
#ifndef HALVORINE_SIGNALCLASS_H
#define HALVORINE_SIGNALCLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class SignalClass : public EntityTableClass<14> {
  public:
    static constexpr EntityOption kEnable{1, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kInvert{2, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kT3Time{3, EntityWidth::U32, kEntityGetSet, false};
    static constexpr EntityOption kT2Time{4, EntityWidth::U32, kEntityGetSet, false};
    static constexpr EntityOption kOptions[] = {kEnable, kInvert, kT3Time, kT2Time};

    aErr getEnable(unsigned char* value) { return get<kEnable>(value); }
    aErr setEnable(unsigned char value) { return set<kEnable>(value); }
    aErr getInvert(unsigned char* value) { return get<kInvert>(value); }
    aErr setInvert(unsigned char value) { return set<kInvert>(value); }
    aErr getT3Time(unsigned int* value) { return get<kT3Time>(value); }
    aErr setT3Time(unsigned int value) { return set<kT3Time>(value); }
    aErr getT2Time(unsigned int* value) { return get<kT2Time>(value); }
    aErr setT2Time(unsigned int value) { return set<kT2Time>(value); }
};

} // namespace Veltrano::Halvorine

#endif
