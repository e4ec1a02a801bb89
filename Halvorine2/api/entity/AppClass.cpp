#include "AppClass.h"

namespace Veltrano::Halvorine {

aErr AppClass::execute(unsigned int parameter, unsigned int* result, unsigned int unused) {
    if (!result) return aErrParam;
    aErr err = drainUEI(kResult.option);
    if (err == aErrNone) err = execute(parameter);
    if (err == aErrNone) err = awaitUEI32Val(kResult.option, result, unused);
    return err;
}

} // namespace Veltrano::Halvorine
