// PortClass (class 37): a port of a hub or switch: power and data paths, measurements,
// limits and routing.
#ifndef HALVORINE_PORTCLASS_H
#define HALVORINE_PORTCLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class PortClass : public EntityTableClass<37> {
  public:
    static constexpr EntityOption kVbusVoltage{1, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kVbusCurrent{2, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kVconnVoltage{3, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kVconnCurrent{4, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kEnabled{5, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kPowerEnabled{6, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kDataEnabled{7, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kDataHSEnabled{8, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kDataHS1Enabled{9, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kDataHS2Enabled{10, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kDataSSEnabled{11, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kDataSS1Enabled{12, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kDataSS2Enabled{13, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kCCEnabled{14, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kCC1Enabled{15, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kCC2Enabled{16, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kVconnEnabled{17, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kVconn1Enabled{18, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kVconn2Enabled{19, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kState{20, EntityWidth::U32, kEntityGet, false};
    static constexpr EntityOption kErrors{21, EntityWidth::U32, kEntityGet, false};
    static constexpr EntityOption kCurrentLimit{22, EntityWidth::U32, kEntityGetSet, false};
    static constexpr EntityOption kCurrentLimitMode{23, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kPowerLimit{24, EntityWidth::U32, kEntityGetSet, false};
    static constexpr EntityOption kPowerLimitMode{25, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kAvailablePower{26, EntityWidth::U32, kEntityGet, false};
    static constexpr EntityOption kName{27, EntityWidth::Bytes, kEntityGetSet, false};
    static constexpr EntityOption kCCCurrentLimit{28, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kPowerMode{30, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kDataRole{31, EntityWidth::U8, kEntityGet, false};
    static constexpr EntityOption kDataSpeed{32, EntityWidth::U8, kEntityGet, false};
    static constexpr EntityOption kMode{33, EntityWidth::U32, kEntityGetSet, false};
    static constexpr EntityOption kVoltageSetpoint{34, EntityWidth::U32, kEntityGetSet, false};
    static constexpr EntityOption kAllocatedPower{35, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kDataHSRoutingBehavior{36, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kDataSSRoutingBehavior{37, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kVbusAccumulatedPower{38, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kResetVbusAccumulatedPower{39, EntityWidth::None, kEntitySet, false};
    static constexpr EntityOption kVconnAccumulatedPower{40, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kResetVconnAccumulatedPower{41, EntityWidth::None, kEntitySet, false};
    static constexpr EntityOption kHSBoost{42, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kResetEntityToFactoryDefaults{44, EntityWidth::None, kEntitySet, false};
    static constexpr EntityOption kCC1State{45, EntityWidth::U16, kEntityGet, false};
    static constexpr EntityOption kCC2State{46, EntityWidth::U16, kEntityGet, false};
    static constexpr EntityOption kOptions[] = {kVbusVoltage,
                                                kVbusCurrent,
                                                kVconnVoltage,
                                                kVconnCurrent,
                                                kEnabled,
                                                kPowerEnabled,
                                                kDataEnabled,
                                                kDataHSEnabled,
                                                kDataHS1Enabled,
                                                kDataHS2Enabled,
                                                kDataSSEnabled,
                                                kDataSS1Enabled,
                                                kDataSS2Enabled,
                                                kCCEnabled,
                                                kCC1Enabled,
                                                kCC2Enabled,
                                                kVconnEnabled,
                                                kVconn1Enabled,
                                                kVconn2Enabled,
                                                kState,
                                                kErrors,
                                                kCurrentLimit,
                                                kCurrentLimitMode,
                                                kPowerLimit,
                                                kPowerLimitMode,
                                                kAvailablePower,
                                                kName,
                                                kCCCurrentLimit,
                                                kPowerMode,
                                                kDataRole,
                                                kDataSpeed,
                                                kMode,
                                                kVoltageSetpoint,
                                                kAllocatedPower,
                                                kDataHSRoutingBehavior,
                                                kDataSSRoutingBehavior,
                                                kVbusAccumulatedPower,
                                                kResetVbusAccumulatedPower,
                                                kVconnAccumulatedPower,
                                                kResetVconnAccumulatedPower,
                                                kHSBoost,
                                                kResetEntityToFactoryDefaults,
                                                kCC1State,
                                                kCC2State};

    aErr getVbusVoltage(int* value) { return get<kVbusVoltage>(value); }
    aErr getVbusCurrent(int* value) { return get<kVbusCurrent>(value); }
    aErr getVconnVoltage(int* value) { return get<kVconnVoltage>(value); }
    aErr getVconnCurrent(int* value) { return get<kVconnCurrent>(value); }
    aErr getEnabled(unsigned char* value) { return get<kEnabled>(value); }
    aErr setEnabled(unsigned char value) { return set<kEnabled>(value); }
    aErr getPowerEnabled(unsigned char* value) { return get<kPowerEnabled>(value); }
    aErr setPowerEnabled(unsigned char value) { return set<kPowerEnabled>(value); }
    aErr getDataEnabled(unsigned char* value) { return get<kDataEnabled>(value); }
    aErr setDataEnabled(unsigned char value) { return set<kDataEnabled>(value); }
    aErr getDataHSEnabled(unsigned char* value) { return get<kDataHSEnabled>(value); }
    aErr setDataHSEnabled(unsigned char value) { return set<kDataHSEnabled>(value); }
    aErr getDataHS1Enabled(unsigned char* value) { return get<kDataHS1Enabled>(value); }
    aErr setDataHS1Enabled(unsigned char value) { return set<kDataHS1Enabled>(value); }
    aErr getDataHS2Enabled(unsigned char* value) { return get<kDataHS2Enabled>(value); }
    aErr setDataHS2Enabled(unsigned char value) { return set<kDataHS2Enabled>(value); }
    aErr getDataSSEnabled(unsigned char* value) { return get<kDataSSEnabled>(value); }
    aErr setDataSSEnabled(unsigned char value) { return set<kDataSSEnabled>(value); }
    aErr getDataSS1Enabled(unsigned char* value) { return get<kDataSS1Enabled>(value); }
    aErr setDataSS1Enabled(unsigned char value) { return set<kDataSS1Enabled>(value); }
    aErr getDataSS2Enabled(unsigned char* value) { return get<kDataSS2Enabled>(value); }
    aErr setDataSS2Enabled(unsigned char value) { return set<kDataSS2Enabled>(value); }
    aErr getCCEnabled(unsigned char* value) { return get<kCCEnabled>(value); }
    aErr setCCEnabled(unsigned char value) { return set<kCCEnabled>(value); }
    aErr getCC1Enabled(unsigned char* value) { return get<kCC1Enabled>(value); }
    aErr setCC1Enabled(unsigned char value) { return set<kCC1Enabled>(value); }
    aErr getCC2Enabled(unsigned char* value) { return get<kCC2Enabled>(value); }
    aErr setCC2Enabled(unsigned char value) { return set<kCC2Enabled>(value); }
    aErr getVconnEnabled(unsigned char* value) { return get<kVconnEnabled>(value); }
    aErr setVconnEnabled(unsigned char value) { return set<kVconnEnabled>(value); }
    aErr getVconn1Enabled(unsigned char* value) { return get<kVconn1Enabled>(value); }
    aErr setVconn1Enabled(unsigned char value) { return set<kVconn1Enabled>(value); }
    aErr getVconn2Enabled(unsigned char* value) { return get<kVconn2Enabled>(value); }
    aErr setVconn2Enabled(unsigned char value) { return set<kVconn2Enabled>(value); }
    aErr getState(unsigned int* value) { return get<kState>(value); }
    aErr getErrors(unsigned int* value) { return get<kErrors>(value); }
    aErr getCurrentLimit(unsigned int* value) { return get<kCurrentLimit>(value); }
    aErr setCurrentLimit(unsigned int value) { return set<kCurrentLimit>(value); }
    aErr getCurrentLimitMode(unsigned char* value) { return get<kCurrentLimitMode>(value); }
    aErr setCurrentLimitMode(unsigned char value) { return set<kCurrentLimitMode>(value); }
    aErr getPowerLimit(unsigned int* value) { return get<kPowerLimit>(value); }
    aErr setPowerLimit(unsigned int value) { return set<kPowerLimit>(value); }
    aErr getPowerLimitMode(unsigned char* value) { return get<kPowerLimitMode>(value); }
    aErr setPowerLimitMode(unsigned char value) { return set<kPowerLimitMode>(value); }
    aErr getAvailablePower(unsigned int* value) { return get<kAvailablePower>(value); }
    aErr getName(unsigned char* buffer, unsigned int capacity, unsigned int* length) {
        return getBytes<kName>(buffer, capacity, length);
    }
    aErr setName(const unsigned char* data, unsigned int length) { return setBytes<kName>(data, length); }
    aErr getCCCurrentLimit(unsigned char* value) { return get<kCCCurrentLimit>(value); }
    aErr setCCCurrentLimit(unsigned char value) { return set<kCCCurrentLimit>(value); }
    aErr getPowerMode(unsigned char* value) { return get<kPowerMode>(value); }
    aErr setPowerMode(unsigned char value) { return set<kPowerMode>(value); }
    aErr getDataRole(unsigned char* value) { return get<kDataRole>(value); }
    aErr getDataSpeed(unsigned char* value) { return get<kDataSpeed>(value); }
    aErr getMode(unsigned int* value) { return get<kMode>(value); }
    aErr setMode(unsigned int value) { return set<kMode>(value); }
    aErr getVoltageSetpoint(unsigned int* value) { return get<kVoltageSetpoint>(value); }
    aErr setVoltageSetpoint(unsigned int value) { return set<kVoltageSetpoint>(value); }
    aErr getAllocatedPower(int* value) { return get<kAllocatedPower>(value); }
    aErr getDataHSRoutingBehavior(unsigned char* value) { return get<kDataHSRoutingBehavior>(value); }
    aErr setDataHSRoutingBehavior(unsigned char value) { return set<kDataHSRoutingBehavior>(value); }
    aErr getDataSSRoutingBehavior(unsigned char* value) { return get<kDataSSRoutingBehavior>(value); }
    aErr setDataSSRoutingBehavior(unsigned char value) { return set<kDataSSRoutingBehavior>(value); }
    aErr getVbusAccumulatedPower(int* value) { return get<kVbusAccumulatedPower>(value); }
    aErr resetVbusAccumulatedPower() { return call<kResetVbusAccumulatedPower>(); }
    aErr getVconnAccumulatedPower(int* value) { return get<kVconnAccumulatedPower>(value); }
    aErr resetVconnAccumulatedPower() { return call<kResetVconnAccumulatedPower>(); }
    aErr getHSBoost(unsigned char* value) { return get<kHSBoost>(value); }
    aErr setHSBoost(unsigned char value) { return set<kHSBoost>(value); }
    aErr resetEntityToFactoryDefaults() { return call<kResetEntityToFactoryDefaults>(); }
    aErr getCC1State(unsigned short* value) { return get<kCC1State>(value); }
    aErr getCC2State(unsigned short* value) { return get<kCC2State>(value); }
};

} // namespace Veltrano::Halvorine

#endif
