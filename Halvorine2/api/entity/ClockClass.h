// ClockClass (class 83): the module's real-time clock, one field per option.
#ifndef HALVORINE_CLOCKCLASS_H
#define HALVORINE_CLOCKCLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class ClockClass : public EntityTableClass<83> {
  public:
    static constexpr EntityOption kYear{1, EntityWidth::U16, kEntityGetSet, false};
    static constexpr EntityOption kMonth{2, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kDay{3, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kHour{4, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kMinute{5, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kSecond{6, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kOptions[] = {kYear, kMonth, kDay, kHour, kMinute, kSecond};

    aErr getYear(unsigned short* value) { return get<kYear>(value); }
    aErr setYear(unsigned short value) { return set<kYear>(value); }
    aErr getMonth(unsigned char* value) { return get<kMonth>(value); }
    aErr setMonth(unsigned char value) { return set<kMonth>(value); }
    aErr getDay(unsigned char* value) { return get<kDay>(value); }
    aErr setDay(unsigned char value) { return set<kDay>(value); }
    aErr getHour(unsigned char* value) { return get<kHour>(value); }
    aErr setHour(unsigned char value) { return set<kHour>(value); }
    aErr getMinute(unsigned char* value) { return get<kMinute>(value); }
    aErr setMinute(unsigned char value) { return set<kMinute>(value); }
    aErr getSecond(unsigned char* value) { return get<kSecond>(value); }
    aErr setSecond(unsigned char value) { return set<kSecond>(value); }
};

} // namespace Veltrano::Halvorine

#endif
