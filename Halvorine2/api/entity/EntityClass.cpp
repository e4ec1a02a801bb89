// EntityClass: the UEI exchanges every entity class is made of.
#include "EntityClass.h"

#include <cstdint>

namespace Veltrano::Halvorine {

struct EntityState {
    Module* module = nullptr;
    unsigned char command = 0;
    unsigned char index = 0;
};

EntityClass::EntityClass() : state_(std::make_shared<EntityState>()) {}
EntityClass::EntityClass(const EntityClass& other) = default;
EntityClass& EntityClass::operator=(const EntityClass& other) = default;
EntityClass::~EntityClass() = default;

void EntityClass::init(Module* module, unsigned char command, unsigned char index) {
    state_->module = module;
    state_->command = command;
    state_->index = index;
}

unsigned char EntityClass::getIndex() const {
    return state_->index;
}

Link* EntityClass::link() const {
    return state_->module ? state_->module->getLink() : nullptr;
}

unsigned char EntityClass::moduleAddress() const {
    return state_->module ? state_->module->getModuleAddress() : 0;
}

unsigned char EntityClass::command() const {
    return state_->command;
}

void EntityClass::address(uei* record, unsigned char option) const {
    record->module = moduleAddress();
    record->command = state_->command;
    record->option = option;
    record->specifier = static_cast<uint8>((state_->index & kUEIIndexMask) | kUEIRequest);
}

aErr EntityClass::getUEI(unsigned char option, uei* record) {
    Link* l = link();
    if (!l) return aErrResource;
    if (!record) return aErrParam;
    uint8 subindex = record->type == ueiByte ? record->value.uchVal : 0;
    uint32 cached = 0;
    aErr err = streamedValue(option, subindex, &cached);
    if (err != aErrNotFound) {
        record->value.uiVal = cached;
        return err;
    }
    address(record, static_cast<uint8>(option | kUEIGet));
    err = l->sendUEI(*record);
    if (err != aErrNone) return err;
    return l->receiveUEI(record->module, record->command, option, state_->index, record);
}

aErr EntityClass::streamedValue(unsigned char option, unsigned char subindex, uint32* value) const {
    Link* l = link();
    if (!l) return aErrNotFound;
    return l->getStreamValue(moduleAddress(), state_->command, option, state_->index, subindex, value);
}

aErr EntityClass::registerOptionCallback(unsigned char option, bool enable, streamCallback callback,
                                         void* reference) {
    Link* l = link();
    if (!l) return aErrResource;
    return l->registerStreamCallback(moduleAddress(), state_->command, option, state_->index, enable,
                                     std::move(callback), reference);
}

aErr EntityClass::setStreamEnabled(unsigned char enable) {
    return registerOptionCallback(Link::STREAM_WILDCARD, enable != 0, streamCallback(), nullptr);
}

aErr EntityClass::getStreamStatus(StreamStatusEntry* entries, unsigned int capacity, unsigned int* count) {
    Link* l = link();
    if (!l) return aErrResource;
    return l->getStreamStatus(moduleAddress(), state_->command, Link::STREAM_WILDCARD, state_->index,
                              Link::STREAM_WILDCARD, entries, capacity, count);
}

aErr EntityClass::exchangeSet(unsigned char option, bool hasSubindex, unsigned char subindex, uei* record) {
    Link* l = link();
    if (!l) return aErrResource;
    if (!record) return aErrParam;
    address(record, static_cast<uint8>(option | kUEISet));
    aErr err = hasSubindex ? l->sendUEI(*record, subindex) : l->sendUEI(*record);
    if (err != aErrNone) return err;
    return l->receiveUEI(record->module, record->command, static_cast<uint8>(option | kUEISetReply),
                         state_->index, record);
}

aErr EntityClass::setUEI(unsigned char option, uei* record) {
    return exchangeSet(option, false, 0, record);
}

aErr EntityClass::setUEI(unsigned char option, unsigned char subindex, uei* record) {
    return exchangeSet(option, true, subindex, record);
}

aErr EntityClass::getScalar(unsigned char option, bool hasSubindex, unsigned char subindex, ueiType type,
                            uint32* value) {
    uei record{};
    record.type = hasSubindex ? ueiByte : ueiNone;
    record.value.uiVal = subindex;
    // A streamed value carries no width of its own: it is taken as asked.
    aErr err = streamedValue(option, subindex, value);
    if (err != aErrNotFound) return err;
    err = getUEI(option, &record);
    if (err != aErrNone && err != aErrStreamStale) return err;
    if (record.type != type) return aErrSize;
    *value = record.value.uiVal;
    return err;
}

aErr EntityClass::setScalar(unsigned char option, bool hasSubindex, unsigned char subindex, ueiType type,
                            uint32 value) {
    uei record{};
    record.type = type;
    record.value.uiVal = value;
    return exchangeSet(option, hasSubindex, subindex, &record);
}

aErr EntityClass::getUEI8(unsigned char option, unsigned char* value) {
    return getValue(option, value);
}
aErr EntityClass::getUEI16(unsigned char option, unsigned short* value) {
    return getValue(option, value);
}
aErr EntityClass::getUEI32(unsigned char option, unsigned int* value) {
    return getValue(option, value);
}
aErr EntityClass::getUEI8(unsigned char option, unsigned char subindex, unsigned char* value) {
    return getValue(option, subindex, value);
}
aErr EntityClass::getUEI16(unsigned char option, unsigned char subindex, unsigned short* value) {
    return getValue(option, subindex, value);
}
aErr EntityClass::getUEI32(unsigned char option, unsigned char subindex, unsigned int* value) {
    return getValue(option, subindex, value);
}
aErr EntityClass::setUEI8(unsigned char option, unsigned char value) {
    return setValue(option, value);
}
aErr EntityClass::setUEI16(unsigned char option, unsigned short value) {
    return setValue(option, value);
}
aErr EntityClass::setUEI32(unsigned char option, unsigned int value) {
    return setValue(option, value);
}
aErr EntityClass::setUEI8(unsigned char option, unsigned char subindex, unsigned char value) {
    return setValue(option, subindex, value);
}
aErr EntityClass::setUEI16(unsigned char option, unsigned char subindex, unsigned short value) {
    return setValue(option, subindex, value);
}
aErr EntityClass::setUEI32(unsigned char option, unsigned char subindex, unsigned int value) {
    return setValue(option, subindex, value);
}

aErr EntityClass::callUEI(unsigned char option) {
    return setScalar(option, false, 0, ueiNone, 0);
}

aErr EntityClass::setUEIBytes(unsigned char option, const unsigned char* data, unsigned int length) {
    if (length > 0 && !data) return aErrParam;
    uei record{};
    record.type = ueiBytes;
    record.value.bytes.data = const_cast<uint8*>(data); // only read by a set
    record.value.bytes.length = length;
    return setUEI(option, &record);
}

aErr EntityClass::getUEIBytes(unsigned char option, unsigned char* buffer, unsigned int capacity,
                              unsigned int* length) {
    if (!buffer || !length || capacity == 0) return aErrParam;
    *length = 0;
    Link* l = link();
    if (!l) return aErrResource;
    drainUEI(option);
    uei record{};
    record.type = ueiNone;
    address(&record, static_cast<uint8>(option | kUEIGet));
    aErr err = l->sendUEI(record);
    if (err != aErrNone) return err;
    record.type = ueiBytes;
    record.value.bytes = ueiBytesValue{buffer, 0, false, capacity, length};
    do {
        err = l->receiveUEI(record.module, record.command, option, state_->index, &record, sUEIBytesFilter);
    } while (err == aErrNone && record.value.bytes.more);
    return err;
}

aErr EntityClass::getUEIBytesCheck(unsigned int* count, unsigned int unit) {
    if (!count || unit == 0) return aErrParam;
    if (*count % unit != 0) return aErrMemory;
    *count /= unit;
    return aErrNone;
}

namespace {
// The byte count of an array of 32-bit values; false when it does not fit 32 bits.
bool sArrayBytes(unsigned int count, unsigned int* bytes) {
    if (count > UINT32_MAX / sizeof(uint32)) return false;
    *bytes = count * static_cast<unsigned int>(sizeof(uint32));
    return true;
}
} // namespace

aErr EntityClass::getValues(unsigned char option, unsigned int* values, unsigned int count,
                            unsigned int* received) {
    unsigned int bytes = 0;
    if (!values || !received || !sArrayBytes(count, &bytes)) return aErrParam;
    aErr err = getUEIBytes(option, reinterpret_cast<uint8*>(values), bytes, received);
    if (err == aErrNone) getUEIBytesCheck(received, sizeof *values);
    return err;
}

aErr EntityClass::setValues(unsigned char option, const unsigned int* values, unsigned int count) {
    unsigned int bytes = 0;
    if (!sArrayBytes(count, &bytes)) return aErrParam;
    return setUEIBytes(option, reinterpret_cast<const uint8*>(values), bytes);
}

aErr EntityClass::drainUEI(unsigned char option) {
    Link* l = link();
    if (!l) return aErrResource;
    return l->dropMatchingUEIPackets(moduleAddress(), state_->command, option, state_->index);
}

aErr EntityClass::awaitUEI32Val(unsigned int option, unsigned int* value, unsigned int) {
    if (!value) return aErrParam;
    Link* l = link();
    if (!l) return aErrResource;
    uei record{};
    aErr err =
        l->receiveUEI(moduleAddress(), state_->command, static_cast<uint8>(option), state_->index, &record);
    if (err != aErrNone) return err;
    if (record.type != ueiInt) return aErrSize;
    *value = record.value.uiVal;
    return aErrNone;
}

aErr EntityClass::sendPacket(unsigned char command, unsigned char length, const unsigned char* data) {
    Link* l = link();
    if (!l) return aErrResource;
    return l->sendPacket(moduleAddress(), command, length, data);
}

aErr EntityClass::receivePacket(const unsigned char* match, unsigned char* length, unsigned char* data) {
    Link* l = link();
    if (!l) return aErrResource;
    return l->receivePacket(moduleAddress(), match, length, data);
}

unsigned char EntityClass::getUEIBytesSequence(const aPacket* packet) {
    if (!aVALIDPACKET(packet) || packet->dataSize == 0) return 0;
    return packet->data[packet->dataSize - 1] & 0x7F;
}

bool EntityClass::getUEIBytesContinue(const aPacket* packet) {
    if (!aVALIDPACKET(packet) || packet->dataSize == 0) return false;
    return (packet->data[packet->dataSize - 1] & kUEIMoreChunks) != 0;
}

bool EntityClass::sUEIBytesFilter(const aPacket* packet, const void* record) {
    const uei* r = static_cast<const uei*>(record);
    if (!Link::sUEIReplyFilter(packet, r)) return false;
    // Error replies end the get whatever their last byte; a chunk too short to
    // carry a sequence byte is taken and refused.
    if ((packet->data[2] & kUEIError) || packet->dataSize < 4) return true;
    return getUEIBytesSequence(packet) == r->value.bytes.sequence;
}

} // namespace Veltrano::Halvorine
