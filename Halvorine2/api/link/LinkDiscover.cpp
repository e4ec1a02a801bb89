// Link: the pieces that stand on discovery.
#include "LinkState.h"
#include "aDiscovery.h"

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

aErr Link::sDiscover(linkType type, std::list<linkSpec>* specs, unsigned int networkInterface) {
    if (!specs) return aErrParam;
    return sDiscover(type, sFindAll, specs, networkInterface);
}

} // namespace Veltrano::Halvorine
