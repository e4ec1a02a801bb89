// AppClass (class 5): an application slot of the module. Executing it sets
// option 1 with a 32-bit parameter; the application's 32-bit result comes
// later, unasked, as a reply of option 2.
#ifndef HALVORINE_APPCLASS_H
#define HALVORINE_APPCLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class AppClass : public EntityTableClass<5> {
  public:
    static constexpr EntityOption kExecute{1, EntityWidth::U32, kEntitySet, false};
    static constexpr EntityOption kResult{2, EntityWidth::U32, kEntityGet, false};
    static constexpr EntityOption kOptions[] = {kExecute, kResult};

    aErr execute(unsigned int parameter) { return set<kExecute>(parameter); }
    // Executes and waits up to 1000 ms after the set's reply for the result.
    // Results left over from earlier runs are dropped first. The last argument
    // is not used.
    aErr execute(unsigned int parameter, unsigned int* result, unsigned int unused);
};

} // namespace Veltrano::Halvorine

#endif
