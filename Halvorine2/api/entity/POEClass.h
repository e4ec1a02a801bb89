// POEClass (class 40): a Power over Ethernet port: power mode and state, and the classes
// and measurements of each pair.
#ifndef HALVORINE_POECLASS_H
#define HALVORINE_POECLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class POEClass : public EntityTableClass<40> {
  public:
    static constexpr EntityOption kPowerMode{1, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kPowerState{2, EntityWidth::U8, kEntityGet, false};
    static constexpr EntityOption kPair12SourcingClass{5, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kPair34SourcingClass{6, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kPair12RequestedClass{7, EntityWidth::U8, kEntityGet, false};
    static constexpr EntityOption kPair34RequestedClass{8, EntityWidth::U8, kEntityGet, false};
    static constexpr EntityOption kPair12DiscoveredClass{9, EntityWidth::U8, kEntityGet, false};
    static constexpr EntityOption kPair34DiscoveredClass{10, EntityWidth::U8, kEntityGet, false};
    static constexpr EntityOption kPair12DetectionStatus{11, EntityWidth::U8, kEntityGet, false};
    static constexpr EntityOption kPair34DetectionStatus{12, EntityWidth::U8, kEntityGet, false};
    static constexpr EntityOption kPair12Voltage{13, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kPair34Voltage{14, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kPair12Current{15, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kPair34Current{16, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kPair12Resistance{17, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kPair34Resistance{18, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kPair12Capacitance{19, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kPair34Capacitance{20, EntityWidth::I32, kEntityGet, false};
    static constexpr EntityOption kResetEntityToFactoryDefaults{21, EntityWidth::None, kEntitySet, false};
    static constexpr EntityOption kOptions[] = {kPowerMode,
                                                kPowerState,
                                                kPair12SourcingClass,
                                                kPair34SourcingClass,
                                                kPair12RequestedClass,
                                                kPair34RequestedClass,
                                                kPair12DiscoveredClass,
                                                kPair34DiscoveredClass,
                                                kPair12DetectionStatus,
                                                kPair34DetectionStatus,
                                                kPair12Voltage,
                                                kPair34Voltage,
                                                kPair12Current,
                                                kPair34Current,
                                                kPair12Resistance,
                                                kPair34Resistance,
                                                kPair12Capacitance,
                                                kPair34Capacitance,
                                                kResetEntityToFactoryDefaults};

    aErr getPowerMode(unsigned char* value) { return get<kPowerMode>(value); }
    aErr setPowerMode(unsigned char value) { return set<kPowerMode>(value); }
    aErr getPowerState(unsigned char* value) { return get<kPowerState>(value); }
    aErr getPair12SourcingClass(unsigned char* value) { return get<kPair12SourcingClass>(value); }
    aErr setPair12SourcingClass(unsigned char value) { return set<kPair12SourcingClass>(value); }
    aErr getPair34SourcingClass(unsigned char* value) { return get<kPair34SourcingClass>(value); }
    aErr setPair34SourcingClass(unsigned char value) { return set<kPair34SourcingClass>(value); }
    aErr getPair12RequestedClass(unsigned char* value) { return get<kPair12RequestedClass>(value); }
    aErr getPair34RequestedClass(unsigned char* value) { return get<kPair34RequestedClass>(value); }
    aErr getPair12DiscoveredClass(unsigned char* value) { return get<kPair12DiscoveredClass>(value); }
    aErr getPair34DiscoveredClass(unsigned char* value) { return get<kPair34DiscoveredClass>(value); }
    aErr getPair12DetectionStatus(unsigned char* value) { return get<kPair12DetectionStatus>(value); }
    aErr getPair34DetectionStatus(unsigned char* value) { return get<kPair34DetectionStatus>(value); }
    aErr getPair12Voltage(int* value) { return get<kPair12Voltage>(value); }
    aErr getPair34Voltage(int* value) { return get<kPair34Voltage>(value); }
    aErr getPair12Current(int* value) { return get<kPair12Current>(value); }
    aErr getPair34Current(int* value) { return get<kPair34Current>(value); }
    aErr getPair12Resistance(int* value) { return get<kPair12Resistance>(value); }
    aErr getPair34Resistance(int* value) { return get<kPair34Resistance>(value); }
    aErr getPair12Capacitance(int* value) { return get<kPair12Capacitance>(value); }
    aErr getPair34Capacitance(int* value) { return get<kPair34Capacitance>(value); }
    aErr resetEntityToFactoryDefaults() { return call<kResetEntityToFactoryDefaults>(); }
};

} // namespace Veltrano::Halvorine

#endif
