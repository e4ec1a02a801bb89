// Link: the pieces that stand on discovery. Discovery is built beside this
// file; until its header is part of the build, nothing is ever found.
#include "LinkState.h"

#if __has_include("aDiscovery.h")
#include "aDiscovery.h"
#define LINK_HAS_DISCOVERY 1
#endif

namespace Veltrano::Halvorine {

namespace {

struct ModelMatch {
    uint8 model;
    linkSpec* found;
};

bool sFirstOfModel(const linkSpec* spec, bool* found, void* ref) {
    ModelMatch* match = static_cast<ModelMatch*>(ref);
    if (match->model != 0 && (spec->model & 0xFF) != match->model) return true;
    *match->found = *spec;
    *found = true;
    return false;
}

} // namespace

bool Link::sFindAll(const linkSpec* spec, bool* found, void* ref) {
    static_cast<std::list<linkSpec>*>(ref)->push_back(*spec);
    *found = true;
    return true;
}

#ifdef LINK_HAS_DISCOVERY

aErr Link::sDiscover(linkType type, DiscoveryCallback callback, void* ref, unsigned int networkInterface) {
    return aDiscovery_EnumerateModules(type, callback, ref, networkInterface) ? aErrNone : aErrNotFound;
}

aErr sFindLinkSpec(linkType type, uint32 serialNumber, uint8 model, uint32 networkInterface,
                   linkSpec* found) {
    if (serialNumber == 0) {
        ModelMatch match{model, found};
        return aDiscovery_EnumerateModules(type, sFirstOfModel, &match, networkInterface) ? aErrNone
                                                                                          : aErrNotFound;
    }
    linkSpec* spec = aDiscovery_FindModule(type, serialNumber, networkInterface);
    if (!spec) return aErrNotFound;
    *found = *spec;
    aLinkSpec_Destroy(&spec);
    return aErrNone;
}

#else

aErr Link::sDiscover(linkType, DiscoveryCallback, void*, unsigned int) {
    return aErrNotFound;
}

aErr sFindLinkSpec(linkType, uint32, uint8, uint32, linkSpec*) {
    (void)sFirstOfModel;
    return aErrNotFound;
}

#endif

aErr Link::sDiscover(linkType type, std::list<linkSpec>* specs, unsigned int networkInterface) {
    if (!specs) return aErrParam;
    return sDiscover(type, sFindAll, specs, networkInterface);
}

} // namespace Veltrano::Halvorine
