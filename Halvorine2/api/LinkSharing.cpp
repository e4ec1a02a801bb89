// Engine links through a link-sharing server. Link sharing between processes
// is not in this build yet: these answer aErrUnimplemented until it is.
#include "LinkState.h"

namespace Veltrano::Halvorine {

aErr sOpenSharedUSB(const linkSpec&, aSolvanConfig&, uint32* ref) {
    *ref = 0;
    return aErrUnimplemented;
}

aErr sOpenSharingClient(const linkSpec&, uint32, uint32* ref) {
    *ref = 0;
    return aErrUnimplemented;
}

} // namespace Veltrano::Halvorine
