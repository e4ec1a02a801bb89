// TimerClass (class 79): a timer: its expiration and mode.
#ifndef HALVORINE_TIMERCLASS_H
#define HALVORINE_TIMERCLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class TimerClass : public EntityTableClass<79> {
  public:
    static constexpr EntityOption kExpiration{1, EntityWidth::U32, kEntityGetSet, false};
    static constexpr EntityOption kMode{2, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kOptions[] = {kExpiration, kMode};

    aErr getExpiration(unsigned int* value) { return get<kExpiration>(value); }
    aErr setExpiration(unsigned int value) { return set<kExpiration>(value); }
    aErr getMode(unsigned char* value) { return get<kMode>(value); }
    aErr setMode(unsigned char value) { return set<kMode>(value); }
};

} // namespace Veltrano::Halvorine

#endif
