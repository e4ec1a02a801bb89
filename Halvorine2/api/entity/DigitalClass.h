// DigitalClass (class 31): a digital pin: its configuration and state, and the state of
// all pins at once.
#ifndef HALVORINE_DIGITALCLASS_H
#define HALVORINE_DIGITALCLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class DigitalClass : public EntityTableClass<31> {
  public:
    static constexpr EntityOption kConfiguration{1, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kState{2, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kStateAll{3, EntityWidth::U32, kEntityGetSet, false};
    static constexpr EntityOption kOptions[] = {kConfiguration, kState, kStateAll};

    aErr getConfiguration(unsigned char* value) { return get<kConfiguration>(value); }
    aErr setConfiguration(unsigned char value) { return set<kConfiguration>(value); }
    aErr getState(unsigned char* value) { return get<kState>(value); }
    aErr setState(unsigned char value) { return set<kState>(value); }
    aErr getStateAll(unsigned int* value) { return get<kStateAll>(value); }
    aErr setStateAll(unsigned int value) { return set<kStateAll>(value); }
};

} // namespace Veltrano::Halvorine

#endif
