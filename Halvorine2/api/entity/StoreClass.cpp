#include "StoreClass.h"

#include "Link.h"

namespace Veltrano::Halvorine {

aErr StoreClass::loadSlot(unsigned char slot, const unsigned char* data, unsigned short length) {
    Link* l = link();
    if (!l) return aErrResource;
    return l->loadStoreSlot(moduleAddress(), getIndex(), slot, data, length);
}

aErr StoreClass::unloadSlot(unsigned char slot, unsigned int capacity, unsigned char* buffer,
                            unsigned int* length) {
    Link* l = link();
    if (!l) return aErrResource;
    return l->unloadStoreSlot(moduleAddress(), getIndex(), slot, buffer, capacity, length);
}

aErr StoreClass::getSlotSize(unsigned char slot, unsigned int* size) {
    if (!size) return aErrParam;
    Link* l = link();
    if (!l) return aErrResource;
    return l->storeSlotSize(moduleAddress(), getIndex(), slot, size);
}

aErr StoreClass::getSlotCapacity(unsigned char slot, unsigned int* capacity) {
    if (!capacity) return aErrParam;
    Link* l = link();
    if (!l) return aErrResource;
    return l->storeSlotCapacity(moduleAddress(), getIndex(), slot, capacity);
}

} // namespace Veltrano::Halvorine
