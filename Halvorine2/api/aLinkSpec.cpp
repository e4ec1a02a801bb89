#include "aLinkSpec.h"

#include <cstdlib>
#include <cstring>

linkSpec* aLinkSpec_Create(linkType type) {
    linkSpec* spec = static_cast<linkSpec*>(std::calloc(1, sizeof(linkSpec)));
    if (spec) spec->type = type;
    return spec;
}

linkSpec* aLinkSpec_Copy(linkSpec spec) {
    linkSpec* copy = static_cast<linkSpec*>(std::malloc(sizeof(linkSpec)));
    if (copy) std::memcpy(copy, &spec, sizeof spec);
    return copy;
}

aErr aLinkSpec_Destroy(linkSpec** spec) {
    if (!spec || !*spec) return aErrParam;
    std::free(*spec);
    *spec = nullptr;
    return aErrNone;
}
