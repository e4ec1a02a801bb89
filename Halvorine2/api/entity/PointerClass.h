// PointerClass (class 7): a pointer into memory of the module: reads and writes at its
// offset, and transfers between that memory and a store.
#ifndef HALVORINE_POINTERCLASS_H
#define HALVORINE_POINTERCLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class PointerClass : public EntityTableClass<7> {
  public:
    static constexpr EntityOption kOffset{1, EntityWidth::U16, kEntityGetSet, false};
    static constexpr EntityOption kMode{2, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kTransferStore{3, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kChar{4, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kShort{5, EntityWidth::U16, kEntityGetSet, false};
    static constexpr EntityOption kInt{6, EntityWidth::U32, kEntityGetSet, false};
    static constexpr EntityOption kInitiateTransferToStore{7, EntityWidth::U8, kEntitySet, false};
    static constexpr EntityOption kInitiateTransferFromStore{8, EntityWidth::U8, kEntitySet, false};
    static constexpr EntityOption kOptions[] = {
        kOffset, kMode, kTransferStore,           kChar,
        kShort,  kInt,  kInitiateTransferToStore, kInitiateTransferFromStore};

    aErr getOffset(unsigned short* value) { return get<kOffset>(value); }
    aErr setOffset(unsigned short value) { return set<kOffset>(value); }
    aErr getMode(unsigned char* value) { return get<kMode>(value); }
    aErr setMode(unsigned char value) { return set<kMode>(value); }
    aErr getTransferStore(unsigned char* value) { return get<kTransferStore>(value); }
    aErr setTransferStore(unsigned char value) { return set<kTransferStore>(value); }
    aErr getChar(unsigned char* value) { return get<kChar>(value); }
    aErr setChar(unsigned char value) { return set<kChar>(value); }
    aErr getShort(unsigned short* value) { return get<kShort>(value); }
    aErr setShort(unsigned short value) { return set<kShort>(value); }
    aErr getInt(unsigned int* value) { return get<kInt>(value); }
    aErr setInt(unsigned int value) { return set<kInt>(value); }
    aErr initiateTransferToStore(unsigned char store) { return set<kInitiateTransferToStore>(store); }
    aErr initiateTransferFromStore(unsigned char store) { return set<kInitiateTransferFromStore>(store); }
};

} // namespace Veltrano::Halvorine

#endif
