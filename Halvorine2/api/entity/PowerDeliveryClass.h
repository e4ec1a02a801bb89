// PowerDeliveryClass (class 36): a USB Power Delivery port: power data objects, cable
// properties and power roles.
#ifndef HALVORINE_POWERDELIVERYCLASS_H
#define HALVORINE_POWERDELIVERYCLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class PowerDeliveryClass : public EntityTableClass<36> {
  public:
    static constexpr EntityOption kPowerDataObject{1, EntityWidth::U32, kEntityGetSet, true};
    static constexpr EntityOption kPowerDataObjectList{2, EntityWidth::Array32, kEntityGet, false};
    static constexpr EntityOption kPowerDataObjectEnabled{3, EntityWidth::U8, kEntityGetSet, true};
    static constexpr EntityOption kPowerDataObjectEnabledList{4, EntityWidth::U8, kEntityGet, true};
    static constexpr EntityOption kNumberOfPowerDataObjects{5, EntityWidth::U8, kEntityGet, true};
    static constexpr EntityOption kRequestDataObject{6, EntityWidth::U32, kEntityGetSet, true};
    static constexpr EntityOption kConnectionState{7, EntityWidth::U8, kEntityGet, false};
    static constexpr EntityOption kResetPowerDataObjectToDefault{15, EntityWidth::U8, kEntitySet, false};
    static constexpr EntityOption kCableVoltageMax{16, EntityWidth::U8, kEntityGet, false};
    static constexpr EntityOption kCableCurrentMax{17, EntityWidth::U8, kEntityGet, false};
    static constexpr EntityOption kCableSpeedMax{18, EntityWidth::U8, kEntityGet, false};
    static constexpr EntityOption kCableType{19, EntityWidth::U8, kEntityGet, false};
    static constexpr EntityOption kCableOrientation{20, EntityWidth::U8, kEntityGet, false};
    static constexpr EntityOption kPowerRole{22, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kPowerRolePreferred{23, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kPeakCurrentConfiguration{24, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kFastRoleSwapCurrent{25, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kOverride{41, EntityWidth::U32, kEntityGetSet, false};
    static constexpr EntityOption kRequest{42, EntityWidth::U8, kEntitySet, false};
    static constexpr EntityOption kRequestStatus{43, EntityWidth::U32, kEntityGet, false};
    static constexpr EntityOption kFlagMode{44, EntityWidth::U8, kEntityGetSet, true};
    static constexpr EntityOption kResetEntityToFactoryDefaults{54, EntityWidth::None, kEntitySet, false};
    static constexpr EntityOption kOptions[] = {kPowerDataObject,
                                                kPowerDataObjectList,
                                                kPowerDataObjectEnabled,
                                                kPowerDataObjectEnabledList,
                                                kNumberOfPowerDataObjects,
                                                kRequestDataObject,
                                                kConnectionState,
                                                kResetPowerDataObjectToDefault,
                                                kCableVoltageMax,
                                                kCableCurrentMax,
                                                kCableSpeedMax,
                                                kCableType,
                                                kCableOrientation,
                                                kPowerRole,
                                                kPowerRolePreferred,
                                                kPeakCurrentConfiguration,
                                                kFastRoleSwapCurrent,
                                                kOverride,
                                                kRequest,
                                                kRequestStatus,
                                                kFlagMode,
                                                kResetEntityToFactoryDefaults};

    aErr getPowerDataObjectList(unsigned int* values, unsigned int count, unsigned int* received) {
        return getArray<kPowerDataObjectList>(values, count, received);
    }
    aErr getConnectionState(unsigned char* value) { return get<kConnectionState>(value); }
    aErr getCableVoltageMax(unsigned char* value) { return get<kCableVoltageMax>(value); }
    aErr getCableCurrentMax(unsigned char* value) { return get<kCableCurrentMax>(value); }
    aErr getCableSpeedMax(unsigned char* value) { return get<kCableSpeedMax>(value); }
    aErr getCableType(unsigned char* value) { return get<kCableType>(value); }
    aErr getCableOrientation(unsigned char* value) { return get<kCableOrientation>(value); }
    aErr getPowerRole(unsigned char* value) { return get<kPowerRole>(value); }
    aErr setPowerRole(unsigned char value) { return set<kPowerRole>(value); }
    aErr getPowerRolePreferred(unsigned char* value) { return get<kPowerRolePreferred>(value); }
    aErr setPowerRolePreferred(unsigned char value) { return set<kPowerRolePreferred>(value); }
    aErr getPeakCurrentConfiguration(unsigned char* value) { return get<kPeakCurrentConfiguration>(value); }
    aErr setPeakCurrentConfiguration(unsigned char value) { return set<kPeakCurrentConfiguration>(value); }
    aErr getFastRoleSwapCurrent(unsigned char* value) { return get<kFastRoleSwapCurrent>(value); }
    aErr setFastRoleSwapCurrent(unsigned char value) { return set<kFastRoleSwapCurrent>(value); }
    aErr getOverride(unsigned int* value) { return get<kOverride>(value); }
    aErr setOverride(unsigned int value) { return set<kOverride>(value); }
    aErr request(unsigned char request) { return set<kRequest>(request); }
    aErr requestStatus(unsigned int* status) { return get<kRequestStatus>(status); }
    aErr getFlagMode(unsigned char subindex, unsigned char* value) { return get<kFlagMode>(subindex, value); }
    aErr setFlagMode(unsigned char subindex, unsigned char value) { return set<kFlagMode>(subindex, value); }
    aErr resetEntityToFactoryDefaults() { return call<kResetEntityToFactoryDefaults>(); }

    // Power data objects are named by one attribute byte: bit 7 set for power
    // role 2 (role 1 leaves it clear), bit 6 the partner (0 or 1), bits 0-5 the
    // object index. A role other than 1 or 2, a partner above 1, an index above
    // 63 or a NULL pointer answers aErrParam, and nothing is sent.
    static aErr packDataObjectAttributes(unsigned char* byte, unsigned char partner, unsigned char role,
                                         unsigned char index);
    static aErr unpackDataObjectAttributes(unsigned char byte, unsigned char* partner, unsigned char* role,
                                           unsigned char* index);

    // Getters name the partner; setters always leave its bit clear.
    aErr getPowerDataObject(unsigned char partner, unsigned char role, unsigned char index,
                            unsigned int* value);
    aErr setPowerDataObject(unsigned char role, unsigned char index, unsigned int value);
    aErr getPowerDataObjectEnabled(unsigned char partner, unsigned char role, unsigned char index,
                                   unsigned char* enabled);
    aErr setPowerDataObjectEnabled(unsigned char role, unsigned char index, unsigned char enabled);
    // The partner goes out as the subindex, unchecked.
    aErr getPowerDataObjectEnabledList(unsigned char partner, unsigned char* list);
    aErr getNumberOfPowerDataObjects(unsigned char partner, unsigned char role, unsigned char* count);
    // The request data object is subindex 0x80 (bit 6: the partner, getter only).
    aErr getRequestDataObject(unsigned char partner, unsigned int* value);
    aErr setRequestDataObject(unsigned int value);
    // The attribute byte (partner clear) is the set's 8-bit value.
    aErr resetPowerDataObjectToDefault(unsigned char role, unsigned char index);
};

} // namespace Veltrano::Halvorine

#endif
