// USBSystemClass (class 38): the USB system of a hub: which upstream port is used,
// enumeration, port lists and the behaviours that choose roles and power.
#ifndef HALVORINE_USBSYSTEMCLASS_H
#define HALVORINE_USBSYSTEMCLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class USBSystemClass : public EntityTableClass<38> {
  public:
    static constexpr EntityOption kUpstream{2, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kEnumerationDelay{3, EntityWidth::U32, kEntityGetSet, false};
    static constexpr EntityOption kDataRoleList{4, EntityWidth::U32, kEntityGet, false};
    static constexpr EntityOption kEnabledList{5, EntityWidth::U32, kEntityGetSet, false};
    static constexpr EntityOption kModeList{6, EntityWidth::Array32, kEntityGetSet, false};
    static constexpr EntityOption kStateList{7, EntityWidth::Array32, kEntityGet, false};
    static constexpr EntityOption kPowerBehavior{8, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kPowerBehaviorConfig{9, EntityWidth::Array32, kEntityGetSet, false};
    static constexpr EntityOption kDataRoleBehavior{10, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kDataRoleBehaviorConfig{11, EntityWidth::Array32, kEntityGetSet, false};
    static constexpr EntityOption kSelectorMode{12, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kResetEntityToFactoryDefaults{13, EntityWidth::None, kEntitySet, false};
    static constexpr EntityOption kOverride{14, EntityWidth::U32, kEntityGetSet, false};
    static constexpr EntityOption kUpstreamHS{15, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kUpstreamSS{16, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kDataHSMaxDatarate{17, EntityWidth::U32, kEntityGetSet, false};
    static constexpr EntityOption kDataSSMaxDatarate{18, EntityWidth::U32, kEntityGetSet, false};
    static constexpr EntityOption kOptions[] = {kUpstream,         kEnumerationDelay,
                                                kDataRoleList,     kEnabledList,
                                                kModeList,         kStateList,
                                                kPowerBehavior,    kPowerBehaviorConfig,
                                                kDataRoleBehavior, kDataRoleBehaviorConfig,
                                                kSelectorMode,     kResetEntityToFactoryDefaults,
                                                kOverride,         kUpstreamHS,
                                                kUpstreamSS,       kDataHSMaxDatarate,
                                                kDataSSMaxDatarate};

    aErr getUpstream(unsigned char* value) { return get<kUpstream>(value); }
    aErr setUpstream(unsigned char value) { return set<kUpstream>(value); }
    aErr getEnumerationDelay(unsigned int* value) { return get<kEnumerationDelay>(value); }
    aErr setEnumerationDelay(unsigned int value) { return set<kEnumerationDelay>(value); }
    aErr getDataRoleList(unsigned int* value) { return get<kDataRoleList>(value); }
    aErr getEnabledList(unsigned int* value) { return get<kEnabledList>(value); }
    aErr setEnabledList(unsigned int value) { return set<kEnabledList>(value); }
    aErr getModeList(unsigned int* values, unsigned int count, unsigned int* received) {
        return getArray<kModeList>(values, count, received);
    }
    aErr setModeList(unsigned int* values, unsigned int count) { return setArray<kModeList>(values, count); }
    aErr getStateList(unsigned int* values, unsigned int count, unsigned int* received) {
        return getArray<kStateList>(values, count, received);
    }
    aErr getPowerBehavior(unsigned char* value) { return get<kPowerBehavior>(value); }
    aErr setPowerBehavior(unsigned char value) { return set<kPowerBehavior>(value); }
    aErr getPowerBehaviorConfig(unsigned int* values, unsigned int count, unsigned int* received) {
        return getArray<kPowerBehaviorConfig>(values, count, received);
    }
    aErr setPowerBehaviorConfig(unsigned int* values, unsigned int count) {
        return setArray<kPowerBehaviorConfig>(values, count);
    }
    aErr getDataRoleBehavior(unsigned char* value) { return get<kDataRoleBehavior>(value); }
    aErr setDataRoleBehavior(unsigned char value) { return set<kDataRoleBehavior>(value); }
    aErr getDataRoleBehaviorConfig(unsigned int* values, unsigned int count, unsigned int* received) {
        return getArray<kDataRoleBehaviorConfig>(values, count, received);
    }
    aErr setDataRoleBehaviorConfig(unsigned int* values, unsigned int count) {
        return setArray<kDataRoleBehaviorConfig>(values, count);
    }
    aErr getSelectorMode(unsigned char* value) { return get<kSelectorMode>(value); }
    aErr setSelectorMode(unsigned char value) { return set<kSelectorMode>(value); }
    aErr resetEntityToFactoryDefaults() { return call<kResetEntityToFactoryDefaults>(); }
    aErr getOverride(unsigned int* value) { return get<kOverride>(value); }
    aErr setOverride(unsigned int value) { return set<kOverride>(value); }
    aErr getUpstreamHS(unsigned char* value) { return get<kUpstreamHS>(value); }
    aErr setUpstreamHS(unsigned char value) { return set<kUpstreamHS>(value); }
    aErr getUpstreamSS(unsigned char* value) { return get<kUpstreamSS>(value); }
    aErr setUpstreamSS(unsigned char value) { return set<kUpstreamSS>(value); }
    aErr getDataHSMaxDatarate(unsigned int* value) { return get<kDataHSMaxDatarate>(value); }
    aErr setDataHSMaxDatarate(unsigned int value) { return set<kDataHSMaxDatarate>(value); }
    aErr getDataSSMaxDatarate(unsigned int* value) { return get<kDataSSMaxDatarate>(value); }
    aErr setDataSSMaxDatarate(unsigned int value) { return set<kDataSSMaxDatarate>(value); }
};

} // namespace Veltrano::Halvorine

#endif
