// RCServoClass (class 13): a hobby servo output: enable, position and direction.
#ifndef HALVORINE_RCSERVOCLASS_H
#define HALVORINE_RCSERVOCLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class RCServoClass : public EntityTableClass<13> {
  public:
    static constexpr EntityOption kEnable{1, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kPosition{2, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kReverse{3, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kOptions[] = {kEnable, kPosition, kReverse};

    aErr getEnable(unsigned char* value) { return get<kEnable>(value); }
    aErr setEnable(unsigned char value) { return set<kEnable>(value); }
    aErr getPosition(unsigned char* value) { return get<kPosition>(value); }
    aErr setPosition(unsigned char value) { return set<kPosition>(value); }
    aErr getReverse(unsigned char* value) { return get<kReverse>(value); }
    aErr setReverse(unsigned char value) { return set<kReverse>(value); }
};

} // namespace Veltrano::Halvorine

#endif
