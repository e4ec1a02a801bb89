// EntityTableClass: the base of the entity classes described by a table of
// options (EntityOption). A class declares its rows as static constexpr
// members and binds each member to one row:
//
//   static constexpr EntityOption kYear{1, EntityWidth::U16, kEntityGetSet, false};
//   aErr getYear(unsigned short* year) { return get<kYear>(year); }
//
// The exchange is the generic one of EntityClass; the row fixes its option
// code, and a member whose value type, direction or subindex disagrees with its
// row does not compile.
#ifndef HALVORINE_ENTITYTABLECLASS_H
#define HALVORINE_ENTITYTABLECLASS_H

#include "EntityClass.h"
#include "EntityOption.h"

namespace Veltrano::Halvorine {

template <unsigned char ClassNumber> class EntityTableClass : public EntityClassOf<ClassNumber> {
  protected:
    template <const EntityOption& Row, class T> aErr get(T* value) {
        static_assert(Row.gets() && !Row.subindexed && EntityWidth_of<T>() == Row.width, "row mismatch");
        return this->getValue(Row.option, value);
    }
    template <const EntityOption& Row, class T> aErr get(unsigned char subindex, T* value) {
        static_assert(Row.gets() && Row.subindexed && EntityWidth_of<T>() == Row.width, "row mismatch");
        return this->getValue(Row.option, subindex, value);
    }
    template <const EntityOption& Row, class T> aErr set(T value) {
        static_assert(Row.sets() && !Row.subindexed && EntityWidth_of<T>() == Row.width, "row mismatch");
        return this->setValue(Row.option, value);
    }
    template <const EntityOption& Row, class T> aErr set(unsigned char subindex, T value) {
        static_assert(Row.sets() && Row.subindexed && EntityWidth_of<T>() == Row.width, "row mismatch");
        return this->setValue(Row.option, subindex, value);
    }
    template <const EntityOption& Row> aErr call() {
        static_assert(Row.sets() && Row.width == EntityWidth::None, "row mismatch");
        return this->callUEI(Row.option);
    }
    template <const EntityOption& Row>
    aErr getBytes(unsigned char* buffer, unsigned int capacity, unsigned int* length) {
        static_assert(Row.gets() && Row.width == EntityWidth::Bytes, "row mismatch");
        return this->getUEIBytes(Row.option, buffer, capacity, length);
    }
    template <const EntityOption& Row> aErr setBytes(const unsigned char* data, unsigned int length) {
        static_assert(Row.sets() && Row.width == EntityWidth::Bytes, "row mismatch");
        return this->setUEIBytes(Row.option, data, length);
    }
    template <const EntityOption& Row>
    aErr getArray(unsigned int* values, unsigned int count, unsigned int* received) {
        static_assert(Row.gets() && Row.width == EntityWidth::Array32, "row mismatch");
        return this->getValues(Row.option, values, count, received);
    }
    template <const EntityOption& Row> aErr setArray(const unsigned int* values, unsigned int count) {
        static_assert(Row.sets() && Row.width == EntityWidth::Array32, "row mismatch");
        return this->setValues(Row.option, values, count);
    }
};

} // namespace Veltrano::Halvorine

#endif
