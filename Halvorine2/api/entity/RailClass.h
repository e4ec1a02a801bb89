// RailClass (class 32): a power rail: measurements, limits, setpoints and its mode of
// regulation.
#ifndef HALVORINE_RAILCLASS_H
#define HALVORINE_RAILCLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class RailClass : public EntityTableClass<32> {
  public:
    static constexpr EntityOption kVoltage{1, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kCurrent{2, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kCurrentLimit{3, EntityWidth::I32, kEntityGetSet, false};
    static constexpr EntityOption kTemperature{4, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kEnable{5, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kKelvinSensingEnable{7, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kKelvinSensingState{8, EntityWidth::U8, kEntityGet, false};
    static constexpr EntityOption kOperationalMode{9, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kOperationalState{10, EntityWidth::U32, kEntityGet, false};
    static constexpr EntityOption kVoltageSetpoint{11, EntityWidth::I32, kEntityGetSet, false};
    static constexpr EntityOption kCurrentSetpoint{12, EntityWidth::I32, kEntityGetSet, false};
    static constexpr EntityOption kVoltageMinLimit{13, EntityWidth::I32, kEntityGetSet, false};
    static constexpr EntityOption kVoltageMaxLimit{14, EntityWidth::I32, kEntityGetSet, false};
    static constexpr EntityOption kPower{15, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kPowerSetpoint{16, EntityWidth::I32, kEntityGetSet, false};
    static constexpr EntityOption kPowerLimit{17, EntityWidth::I32, kEntityGetSet, false};
    static constexpr EntityOption kResistance{18, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kResistanceSetpoint{19, EntityWidth::I32, kEntityGetSet, false};
    static constexpr EntityOption kClearFaults{20, EntityWidth::None, kEntitySet, false};
    static constexpr EntityOption kOptions[] = {kVoltage,
                                                kCurrent,
                                                kCurrentLimit,
                                                kTemperature,
                                                kEnable,
                                                kKelvinSensingEnable,
                                                kKelvinSensingState,
                                                kOperationalMode,
                                                kOperationalState,
                                                kVoltageSetpoint,
                                                kCurrentSetpoint,
                                                kVoltageMinLimit,
                                                kVoltageMaxLimit,
                                                kPower,
                                                kPowerSetpoint,
                                                kPowerLimit,
                                                kResistance,
                                                kResistanceSetpoint,
                                                kClearFaults};

    aErr getVoltage(int* value) { return get<kVoltage>(value); }
    aErr getCurrent(int* value) { return get<kCurrent>(value); }
    aErr getCurrentLimit(int* value) { return get<kCurrentLimit>(value); }
    aErr setCurrentLimit(int value) { return set<kCurrentLimit>(value); }
    aErr getTemperature(int* value) { return get<kTemperature>(value); }
    aErr getEnable(unsigned char* value) { return get<kEnable>(value); }
    aErr setEnable(unsigned char value) { return set<kEnable>(value); }
    aErr getKelvinSensingEnable(unsigned char* value) { return get<kKelvinSensingEnable>(value); }
    aErr setKelvinSensingEnable(unsigned char value) { return set<kKelvinSensingEnable>(value); }
    aErr getKelvinSensingState(unsigned char* value) { return get<kKelvinSensingState>(value); }
    aErr getOperationalMode(unsigned char* value) { return get<kOperationalMode>(value); }
    aErr setOperationalMode(unsigned char value) { return set<kOperationalMode>(value); }
    aErr getOperationalState(unsigned int* value) { return get<kOperationalState>(value); }
    aErr getVoltageSetpoint(int* value) { return get<kVoltageSetpoint>(value); }
    aErr setVoltageSetpoint(int value) { return set<kVoltageSetpoint>(value); }
    aErr getCurrentSetpoint(int* value) { return get<kCurrentSetpoint>(value); }
    aErr setCurrentSetpoint(int value) { return set<kCurrentSetpoint>(value); }
    aErr getVoltageMinLimit(int* value) { return get<kVoltageMinLimit>(value); }
    aErr setVoltageMinLimit(int value) { return set<kVoltageMinLimit>(value); }
    aErr getVoltageMaxLimit(int* value) { return get<kVoltageMaxLimit>(value); }
    aErr setVoltageMaxLimit(int value) { return set<kVoltageMaxLimit>(value); }
    aErr getPower(int* value) { return get<kPower>(value); }
    aErr getPowerSetpoint(int* value) { return get<kPowerSetpoint>(value); }
    aErr setPowerSetpoint(int value) { return set<kPowerSetpoint>(value); }
    aErr getPowerLimit(int* value) { return get<kPowerLimit>(value); }
    aErr setPowerLimit(int value) { return set<kPowerLimit>(value); }
    aErr getResistance(int* value) { return get<kResistance>(value); }
    aErr getResistanceSetpoint(int* value) { return get<kResistanceSetpoint>(value); }
    aErr setResistanceSetpoint(int value) { return set<kResistanceSetpoint>(value); }
    aErr clearFaults() { return call<kClearFaults>(); }
};

} // namespace Veltrano::Halvorine

#endif
