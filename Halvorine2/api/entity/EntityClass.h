// EntityClass: the base of every entity class. An entity is one instance
// (index 0-31) of a class of module functions (system, store, I2C bus, ...),
// named by its class number, the command byte of its UEI exchanges. Almost
// every member of an entity class is one exchange with a fixed option and value
// width, so a class is little more than its number and its table of options:
//
//   class ClockClass : public EntityClassOf<83> {
//     public:
//       aErr getYear(unsigned short* year) { return getValue(1, year); }
//       aErr setYear(unsigned short year) { return setValue(1, year); }
//   };
//
// Every exchange goes through the entity's Module and its Link and answers an
// aErr: aErrResource before init or when the module has no link, aErrParam for
// a NULL output (before anything else), aErrTimeout when no reply comes within
// 1000 ms, a module's error reply as its code, and aErrSize for a reply whose
// length does not fit the value asked for (the output is then left alone).
//
// Copies share one private record (reference counted): init on a copy changes
// the entity both name. The Module is not owned and must outlive its entities.
//
// Threads: exchanges are not serialised; two threads running the same exchange
// on one entity at once may take each other's replies.
#ifndef HALVORINE_ENTITYCLASS_H
#define HALVORINE_ENTITYCLASS_H

#include <memory>
#include <type_traits>

#include "Module.h"

namespace Veltrano::Halvorine {

struct EntityState;

class EntityClass {
  public:
    EntityClass();
    EntityClass(const EntityClass& other);
    EntityClass& operator=(const EntityClass& other);
    virtual ~EntityClass();

    void init(Module* module, unsigned char command, unsigned char index);
    unsigned char getIndex() const;

    aErr getUEI8(unsigned char option, unsigned char* value);
    aErr getUEI16(unsigned char option, unsigned short* value);
    aErr getUEI32(unsigned char option, unsigned int* value);
    aErr getUEI8(unsigned char option, unsigned char subindex, unsigned char* value);
    aErr getUEI16(unsigned char option, unsigned char subindex, unsigned short* value);
    aErr getUEI32(unsigned char option, unsigned char subindex, unsigned int* value);
    aErr setUEI8(unsigned char option, unsigned char value);
    aErr setUEI16(unsigned char option, unsigned short value);
    aErr setUEI32(unsigned char option, unsigned int value);
    aErr setUEI8(unsigned char option, unsigned char subindex, unsigned char value);
    aErr setUEI16(unsigned char option, unsigned char subindex, unsigned short value);
    aErr setUEI32(unsigned char option, unsigned char subindex, unsigned int value);
    // A set with no value: resets, saves and other calls.
    aErr callUEI(unsigned char option);

    // Streamed values: sent in chunks of 24 bytes, answered by one reply.
    aErr setUEIBytes(unsigned char option, const unsigned char* data, unsigned int length);
    // Fills buffer with the chunks of a streamed value; *length counts the
    // bytes taken (also on failure). aErrMemory when the value does not fit
    // (filling the buffer exactly is fine); aErrSize for a chunk without bytes
    // that announces more. Chunks left over from an earlier get of the option
    // are dropped before the request.
    aErr getUEIBytes(unsigned char option, unsigned char* buffer, unsigned int capacity,
                     unsigned int* length);
    // Divides *count by unit when it is a multiple of it; otherwise aErrMemory
    // and *count is left. aErrParam for NULL or a unit of 0.
    static aErr getUEIBytesCheck(unsigned int* count, unsigned int unit);
    // Drops received replies to gets of this option of this entity.
    aErr drainUEI(unsigned char option);

    // The filter of a streamed get: the chunk with the sequence number the
    // record expects next, or an error reply.
    static bool sUEIBytesFilter(const aPacket* packet, const void* record);
    // Bits 0-6 and bit 7 of the packet's last data byte; 0 and false for NULL.
    static unsigned char getUEIBytesSequence(const aPacket* packet);
    static bool getUEIBytesContinue(const aPacket* packet);

    // Streaming (see Link): subscriptions to this entity's values. Each
    // answers aErrResource when the module has no Link.
    // Subscribes to option (0xFF: every option) of this entity, or unsubscribes.
    aErr registerOptionCallback(unsigned char option, bool enable, streamCallback callback, void* reference);
    // Streams every option without a callback (any non-zero enable), or stops.
    aErr setStreamEnabled(unsigned char enable);
    // The latest streamed values of this entity's options.
    aErr getStreamStatus(StreamStatusEntry* entries, unsigned int capacity, unsigned int* count);

  protected:
    // Waits for a reply of this entity to a get of option, without sending.
    aErr awaitUEI32Val(unsigned int option, unsigned int* value, unsigned int unused);
    // Raw packets to and from the entity's module (command first).
    aErr sendPacket(unsigned char command, unsigned char length, const unsigned char* data);
    aErr receivePacket(const unsigned char* match, unsigned char* length, unsigned char* data);
    // The exchanges. getUEI sends the record's subindex when its type is
    // ueiByte and answers the reply's value and type in the record. A value
    // the Link keeps from streaming answers without asking the module: the
    // value only, aErrNone when fresh and aErrStreamStale when read before.
    aErr getUEI(unsigned char option, uei* record);
    aErr setUEI(unsigned char option, uei* record);
    aErr setUEI(unsigned char option, unsigned char subindex, uei* record);

    // Typed members for the classes' tables: the width comes from T (8, 16 or
    // 32 bits, signed or not).
    template <class T> aErr getValue(unsigned char option, T* value) {
        return getTyped(option, false, 0, value);
    }
    template <class T> aErr getValue(unsigned char option, unsigned char subindex, T* value) {
        return getTyped(option, true, subindex, value);
    }
    template <class T> aErr setValue(unsigned char option, T value) {
        return setScalar(option, false, 0, sTypeOf<T>(), static_cast<uint32>(value));
    }
    template <class T> aErr setValue(unsigned char option, unsigned char subindex, T value) {
        return setScalar(option, true, subindex, sTypeOf<T>(), static_cast<uint32>(value));
    }
    // Arrays of 32-bit values as streamed bytes, in memory order. A get
    // replaces *received by the number of values when the bytes make whole ones.
    // aErrParam for a count whose bytes do not fit 32 bits.
    aErr getValues(unsigned char option, unsigned int* values, unsigned int count, unsigned int* received);
    aErr setValues(unsigned char option, const unsigned int* values, unsigned int count);

    Link* link() const;
    unsigned char moduleAddress() const;
    unsigned char command() const;

  private:
    template <class T> static constexpr ueiType sTypeOf() {
        static_assert(std::is_integral<T>::value && (sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4),
                      "entity values are 8, 16 or 32 bits wide");
        return sizeof(T) == 1 ? ueiByte : sizeof(T) == 2 ? ueiShort : ueiInt;
    }
    template <class T>
    aErr getTyped(unsigned char option, bool hasSubindex, unsigned char subindex, T* value) {
        if (!value) return aErrParam;
        uint32 raw = 0;
        aErr err = getScalar(option, hasSubindex, subindex, sTypeOf<T>(), &raw);
        if (err == aErrNone || err == aErrStreamStale) *value = static_cast<T>(raw);
        return err;
    }
    aErr getScalar(unsigned char option, bool hasSubindex, unsigned char subindex, ueiType type,
                   uint32* value);
    aErr setScalar(unsigned char option, bool hasSubindex, unsigned char subindex, ueiType type,
                   uint32 value);
    aErr exchangeSet(unsigned char option, bool hasSubindex, unsigned char subindex, uei* record);
    void address(uei* record, unsigned char option) const;
    // The Link's latest streamed value of option; aErrNotFound when it keeps none.
    aErr streamedValue(unsigned char option, unsigned char subindex, uint32* value) const;

    std::shared_ptr<EntityState> state_;
};

// An entity class with its class number: init takes the module and index.
template <unsigned char ClassNumber> class EntityClassOf : public EntityClass {
  public:
    static constexpr unsigned char kClassNumber = ClassNumber;
    using EntityClass::init;
    void init(Module* module, unsigned char index) { EntityClass::init(module, ClassNumber, index); }
};

} // namespace Veltrano::Halvorine

#endif
