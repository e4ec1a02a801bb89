// EntityOption: one row of an entity class's table of options: the option code,
// the width of its value, which way it goes and whether a subindex byte names
// one of several values. Every class of the entity family publishes its rows
// as kOptions (the system and I2C classes excepted: theirs are written by
// hand); each member is bound to one row, and the compiler checks that
// the member's value type and direction agree with it.
#ifndef HALVORINE_ENTITYOPTION_H
#define HALVORINE_ENTITYOPTION_H

#include <cstddef>
#include <type_traits>

namespace Veltrano::Halvorine {

enum class EntityWidth : unsigned char {
    None,    // a call: a set without value
    U8,      // unsigned 8-bit
    U16,     // unsigned 16-bit
    U32,     // unsigned 32-bit
    I32,     // signed 32-bit
    Bytes,   // streamed bytes
    Array32, // an array of unsigned 32-bit values as streamed bytes
};

enum EntityAccess : unsigned char {
    kEntityGet = 1,
    kEntitySet = 2,
    kEntityGetSet = kEntityGet | kEntitySet,
};

struct EntityOption {
    unsigned char option;
    EntityWidth width;
    unsigned char access; // EntityAccess bits
    bool subindexed;

    constexpr bool gets() const { return (access & kEntityGet) != 0; }
    constexpr bool sets() const { return (access & kEntitySet) != 0; }
    constexpr bool streamed() const { return width == EntityWidth::Bytes || width == EntityWidth::Array32; }
};

// Bytes a scalar value of the width takes on the wire (0 for calls and
// streamed values).
constexpr unsigned int EntityWidth_bytes(EntityWidth width) {
    return width == EntityWidth::U8                                 ? 1
           : width == EntityWidth::U16                              ? 2
           : width == EntityWidth::U32 || width == EntityWidth::I32 ? 4
                                                                    : 0;
}

// The width a member's value type stands for.
template <class T> constexpr EntityWidth EntityWidth_of() {
    static_assert(std::is_integral<T>::value, "entity values are integers");
    return sizeof(T) == 1 && std::is_unsigned<T>::value   ? EntityWidth::U8
           : sizeof(T) == 2 && std::is_unsigned<T>::value ? EntityWidth::U16
           : sizeof(T) == 4 && std::is_unsigned<T>::value ? EntityWidth::U32
           : sizeof(T) == 4                               ? EntityWidth::I32
                                                          : EntityWidth::None;
}

// A class of the family: its number, its name and its rows.
struct EntityOptionTable {
    unsigned char classNumber;
    const char* name;
    const EntityOption* options;
    std::size_t count;

    // The row of the option, or NULL when the class has none.
    const EntityOption* find(unsigned char option) const;
};

// Every class of the family described by a table, in class-number order.
// *count receives the number of tables.
const EntityOptionTable* EntityOptionTables(std::size_t* count);
// The table of the class number, or NULL.
const EntityOptionTable* EntityOptionTable_find(unsigned char classNumber);

} // namespace Veltrano::Halvorine

#endif
