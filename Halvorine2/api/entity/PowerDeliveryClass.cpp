#include "PowerDeliveryClass.h"

namespace Veltrano::Halvorine {

namespace {
constexpr unsigned char kRoleTwo = 0x80;
constexpr unsigned char kPartnerBit = 0x40;
constexpr unsigned char kIndexBits = 0x3F;
constexpr unsigned char kRequestObject = 0x80;
} // namespace

aErr PowerDeliveryClass::packDataObjectAttributes(unsigned char* byte, unsigned char partner,
                                                  unsigned char role, unsigned char index) {
    if (!byte || partner > 1 || (role != 1 && role != 2) || index > kIndexBits) return aErrParam;
    *byte = static_cast<unsigned char>((role == 2 ? kRoleTwo : 0) | (partner ? kPartnerBit : 0) | index);
    return aErrNone;
}

aErr PowerDeliveryClass::unpackDataObjectAttributes(unsigned char byte, unsigned char* partner,
                                                    unsigned char* role, unsigned char* index) {
    if (!partner || !role || !index) return aErrParam;
    *partner = (byte & kPartnerBit) ? 1 : 0;
    *role = (byte & kRoleTwo) ? 2 : 1;
    *index = byte & kIndexBits;
    return aErrNone;
}

aErr PowerDeliveryClass::getPowerDataObject(unsigned char partner, unsigned char role, unsigned char index,
                                            unsigned int* value) {
    unsigned char byte = 0;
    if (!value) return aErrParam;
    aErr err = packDataObjectAttributes(&byte, partner, role, index);
    return err != aErrNone ? err : get<kPowerDataObject>(byte, value);
}

aErr PowerDeliveryClass::setPowerDataObject(unsigned char role, unsigned char index, unsigned int value) {
    unsigned char byte = 0;
    aErr err = packDataObjectAttributes(&byte, 0, role, index);
    return err != aErrNone ? err : set<kPowerDataObject>(byte, value);
}

aErr PowerDeliveryClass::getPowerDataObjectEnabled(unsigned char partner, unsigned char role,
                                                   unsigned char index, unsigned char* enabled) {
    unsigned char byte = 0;
    if (!enabled) return aErrParam;
    aErr err = packDataObjectAttributes(&byte, partner, role, index);
    return err != aErrNone ? err : get<kPowerDataObjectEnabled>(byte, enabled);
}

aErr PowerDeliveryClass::setPowerDataObjectEnabled(unsigned char role, unsigned char index,
                                                   unsigned char enabled) {
    unsigned char byte = 0;
    aErr err = packDataObjectAttributes(&byte, 0, role, index);
    return err != aErrNone ? err : set<kPowerDataObjectEnabled>(byte, enabled);
}

aErr PowerDeliveryClass::getPowerDataObjectEnabledList(unsigned char partner, unsigned char* list) {
    return get<kPowerDataObjectEnabledList>(partner, list);
}

aErr PowerDeliveryClass::getNumberOfPowerDataObjects(unsigned char partner, unsigned char role,
                                                     unsigned char* count) {
    unsigned char byte = 0;
    if (!count) return aErrParam;
    aErr err = packDataObjectAttributes(&byte, partner, role, 0);
    return err != aErrNone ? err : get<kNumberOfPowerDataObjects>(byte, count);
}

aErr PowerDeliveryClass::getRequestDataObject(unsigned char partner, unsigned int* value) {
    if (!value) return aErrParam;
    if (partner > 1) return aErrParam;
    return get<kRequestDataObject>(static_cast<unsigned char>(kRequestObject | (partner ? kPartnerBit : 0)),
                                   value);
}

aErr PowerDeliveryClass::setRequestDataObject(unsigned int value) {
    return set<kRequestDataObject>(kRequestObject, value);
}

aErr PowerDeliveryClass::resetPowerDataObjectToDefault(unsigned char role, unsigned char index) {
    unsigned char byte = 0;
    aErr err = packDataObjectAttributes(&byte, 0, role, index);
    return err != aErrNone ? err : set<kResetPowerDataObjectToDefault>(byte);
}

} // namespace Veltrano::Halvorine
