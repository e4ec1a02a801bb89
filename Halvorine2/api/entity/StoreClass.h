// StoreClass (class 77): a numbered store of the module (its index), holding
// numbered slots of bytes. Loading, unloading and the sizes go through the
// link's store-slot transfers; enabling, disabling, state and lock are plain
// exchanges with the slot as value or subindex.
#ifndef HALVORINE_STORECLASS_H
#define HALVORINE_STORECLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class StoreClass : public EntityTableClass<77> {
  public:
    static constexpr EntityOption kSlotEnable{1, EntityWidth::U8, kEntitySet, false};
    static constexpr EntityOption kSlotDisable{2, EntityWidth::U8, kEntitySet, false};
    static constexpr EntityOption kSlotState{3, EntityWidth::U8, kEntityGet, true};
    static constexpr EntityOption kSlotLocked{7, EntityWidth::U8, kEntityGetSet, true};
    static constexpr EntityOption kOptions[] = {kSlotEnable, kSlotDisable, kSlotState, kSlotLocked};

    // Writes the slot's bytes (Link::loadStoreSlot).
    aErr loadSlot(unsigned char slot, const unsigned char* data, unsigned short length);
    // Reads the slot into buffer; *length counts the bytes copied
    // (Link::unloadStoreSlot).
    aErr unloadSlot(unsigned char slot, unsigned int capacity, unsigned char* buffer, unsigned int* length);
    aErr getSlotSize(unsigned char slot, unsigned int* size);
    aErr getSlotCapacity(unsigned char slot, unsigned int* capacity);

    aErr slotEnable(unsigned char slot) { return set<kSlotEnable>(slot); }
    aErr slotDisable(unsigned char slot) { return set<kSlotDisable>(slot); }
    aErr getSlotState(unsigned char slot, unsigned char* state) { return get<kSlotState>(slot, state); }
    aErr getSlotLocked(unsigned char slot, unsigned char* locked) { return get<kSlotLocked>(slot, locked); }
    aErr setSlotLocked(unsigned char slot, unsigned char locked) { return set<kSlotLocked>(slot, locked); }
};

} // namespace Veltrano::Halvorine

#endif
