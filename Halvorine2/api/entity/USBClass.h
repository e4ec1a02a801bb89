// USBClass (class 18): a USB hub's downstream ports: power and data switching,
// measurements per port, and the hub's modes. Port-numbered sets send the port as their
// value; getters per port take it as the subindex.
#ifndef HALVORINE_USBCLASS_H
#define HALVORINE_USBCLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class USBClass : public EntityTableClass<18> {
  public:
    static constexpr EntityOption kPortEnable{1, EntityWidth::U8, kEntitySet, false};
    static constexpr EntityOption kPortDisable{2, EntityWidth::U8, kEntitySet, false};
    static constexpr EntityOption kDataEnable{3, EntityWidth::U8, kEntitySet, false};
    static constexpr EntityOption kDataDisable{4, EntityWidth::U8, kEntitySet, false};
    static constexpr EntityOption kPowerEnable{5, EntityWidth::U8, kEntitySet, false};
    static constexpr EntityOption kPowerDisable{6, EntityWidth::U8, kEntitySet, false};
    static constexpr EntityOption kPortCurrent{7, EntityWidth::I32, kEntityGet, true};
    static constexpr EntityOption kPortVoltage{8, EntityWidth::I32, kEntityGet, true};
    static constexpr EntityOption kHubMode{9, EntityWidth::U32, kEntityGetSet, false};
    static constexpr EntityOption kClearPortErrorStatus{12, EntityWidth::U8, kEntitySet, false};
    static constexpr EntityOption kUpstreamMode{14, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kUpstreamState{15, EntityWidth::U8, kEntityGet, false};
    static constexpr EntityOption kEnumerationDelay{16, EntityWidth::U32, kEntityGetSet, false};
    static constexpr EntityOption kPortCurrentLimit{17, EntityWidth::U32, kEntityGetSet, true};
    static constexpr EntityOption kUpstreamBoostMode{18, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kDownstreamBoostMode{19, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kPortMode{20, EntityWidth::U32, kEntityGetSet, true};
    static constexpr EntityOption kHiSpeedDataEnable{21, EntityWidth::U8, kEntitySet, false};
    static constexpr EntityOption kHiSpeedDataDisable{22, EntityWidth::U8, kEntitySet, false};
    static constexpr EntityOption kSuperSpeedDataEnable{23, EntityWidth::U8, kEntitySet, false};
    static constexpr EntityOption kSuperSpeedDataDisable{24, EntityWidth::U8, kEntitySet, false};
    static constexpr EntityOption kDownstreamDataSpeed{25, EntityWidth::U8, kEntityGet, true};
    static constexpr EntityOption kConnectMode{26, EntityWidth::U8, kEntityGetSet, true};
    static constexpr EntityOption kCC1Enable{27, EntityWidth::U8, kEntityGetSet, true};
    static constexpr EntityOption kCC2Enable{28, EntityWidth::U8, kEntityGetSet, true};
    static constexpr EntityOption kSBUEnable{29, EntityWidth::U8, kEntityGetSet, true};
    static constexpr EntityOption kCC1Current{30, EntityWidth::I32, kEntityGet, true};
    static constexpr EntityOption kCC2Current{31, EntityWidth::I32, kEntityGet, true};
    static constexpr EntityOption kCC1Voltage{32, EntityWidth::I32, kEntityGet, true};
    static constexpr EntityOption kCC2Voltage{33, EntityWidth::I32, kEntityGet, true};
    static constexpr EntityOption kPortState{34, EntityWidth::U32, kEntityGet, true};
    static constexpr EntityOption kPortError{35, EntityWidth::U32, kEntityGet, true};
    static constexpr EntityOption kCableFlip{36, EntityWidth::U8, kEntityGetSet, true};
    static constexpr EntityOption kAltModeConfig{37, EntityWidth::U32, kEntityGetSet, true};
    static constexpr EntityOption kSBU1Voltage{38, EntityWidth::I32, kEntityGet, true};
    static constexpr EntityOption kSBU2Voltage{39, EntityWidth::I32, kEntityGet, true};
    static constexpr EntityOption kOptions[] = {kPortEnable,
                                                kPortDisable,
                                                kDataEnable,
                                                kDataDisable,
                                                kPowerEnable,
                                                kPowerDisable,
                                                kPortCurrent,
                                                kPortVoltage,
                                                kHubMode,
                                                kClearPortErrorStatus,
                                                kUpstreamMode,
                                                kUpstreamState,
                                                kEnumerationDelay,
                                                kPortCurrentLimit,
                                                kUpstreamBoostMode,
                                                kDownstreamBoostMode,
                                                kPortMode,
                                                kHiSpeedDataEnable,
                                                kHiSpeedDataDisable,
                                                kSuperSpeedDataEnable,
                                                kSuperSpeedDataDisable,
                                                kDownstreamDataSpeed,
                                                kConnectMode,
                                                kCC1Enable,
                                                kCC2Enable,
                                                kSBUEnable,
                                                kCC1Current,
                                                kCC2Current,
                                                kCC1Voltage,
                                                kCC2Voltage,
                                                kPortState,
                                                kPortError,
                                                kCableFlip,
                                                kAltModeConfig,
                                                kSBU1Voltage,
                                                kSBU2Voltage};

    aErr setPortEnable(unsigned char port) { return set<kPortEnable>(port); }
    aErr setPortDisable(unsigned char port) { return set<kPortDisable>(port); }
    aErr setDataEnable(unsigned char port) { return set<kDataEnable>(port); }
    aErr setDataDisable(unsigned char port) { return set<kDataDisable>(port); }
    aErr setPowerEnable(unsigned char port) { return set<kPowerEnable>(port); }
    aErr setPowerDisable(unsigned char port) { return set<kPowerDisable>(port); }
    aErr getPortCurrent(unsigned char subindex, int* value) { return get<kPortCurrent>(subindex, value); }
    aErr getPortVoltage(unsigned char subindex, int* value) { return get<kPortVoltage>(subindex, value); }
    aErr getHubMode(unsigned int* value) { return get<kHubMode>(value); }
    aErr setHubMode(unsigned int value) { return set<kHubMode>(value); }
    aErr clearPortErrorStatus(unsigned char port) { return set<kClearPortErrorStatus>(port); }
    aErr getUpstreamMode(unsigned char* value) { return get<kUpstreamMode>(value); }
    aErr setUpstreamMode(unsigned char value) { return set<kUpstreamMode>(value); }
    aErr getUpstreamState(unsigned char* value) { return get<kUpstreamState>(value); }
    aErr getEnumerationDelay(unsigned int* value) { return get<kEnumerationDelay>(value); }
    aErr setEnumerationDelay(unsigned int value) { return set<kEnumerationDelay>(value); }
    aErr getPortCurrentLimit(unsigned char subindex, unsigned int* value) {
        return get<kPortCurrentLimit>(subindex, value);
    }
    aErr setPortCurrentLimit(unsigned char subindex, unsigned int value) {
        return set<kPortCurrentLimit>(subindex, value);
    }
    aErr getUpstreamBoostMode(unsigned char* value) { return get<kUpstreamBoostMode>(value); }
    aErr setUpstreamBoostMode(unsigned char value) { return set<kUpstreamBoostMode>(value); }
    aErr getDownstreamBoostMode(unsigned char* value) { return get<kDownstreamBoostMode>(value); }
    aErr setDownstreamBoostMode(unsigned char value) { return set<kDownstreamBoostMode>(value); }
    aErr getPortMode(unsigned char subindex, unsigned int* value) { return get<kPortMode>(subindex, value); }
    aErr setPortMode(unsigned char subindex, unsigned int value) { return set<kPortMode>(subindex, value); }
    aErr setHiSpeedDataEnable(unsigned char port) { return set<kHiSpeedDataEnable>(port); }
    aErr setHiSpeedDataDisable(unsigned char port) { return set<kHiSpeedDataDisable>(port); }
    aErr setSuperSpeedDataEnable(unsigned char port) { return set<kSuperSpeedDataEnable>(port); }
    aErr setSuperSpeedDataDisable(unsigned char port) { return set<kSuperSpeedDataDisable>(port); }
    aErr getDownstreamDataSpeed(unsigned char subindex, unsigned char* value) {
        return get<kDownstreamDataSpeed>(subindex, value);
    }
    aErr getConnectMode(unsigned char subindex, unsigned char* value) {
        return get<kConnectMode>(subindex, value);
    }
    aErr setConnectMode(unsigned char subindex, unsigned char value) {
        return set<kConnectMode>(subindex, value);
    }
    aErr getCC1Enable(unsigned char subindex, unsigned char* value) {
        return get<kCC1Enable>(subindex, value);
    }
    aErr setCC1Enable(unsigned char subindex, unsigned char value) {
        return set<kCC1Enable>(subindex, value);
    }
    aErr getCC2Enable(unsigned char subindex, unsigned char* value) {
        return get<kCC2Enable>(subindex, value);
    }
    aErr setCC2Enable(unsigned char subindex, unsigned char value) {
        return set<kCC2Enable>(subindex, value);
    }
    aErr getSBUEnable(unsigned char subindex, unsigned char* value) {
        return get<kSBUEnable>(subindex, value);
    }
    aErr setSBUEnable(unsigned char subindex, unsigned char value) {
        return set<kSBUEnable>(subindex, value);
    }
    aErr getCC1Current(unsigned char subindex, int* value) { return get<kCC1Current>(subindex, value); }
    aErr getCC2Current(unsigned char subindex, int* value) { return get<kCC2Current>(subindex, value); }
    aErr getCC1Voltage(unsigned char subindex, int* value) { return get<kCC1Voltage>(subindex, value); }
    aErr getCC2Voltage(unsigned char subindex, int* value) { return get<kCC2Voltage>(subindex, value); }
    aErr getPortState(unsigned char subindex, unsigned int* value) {
        return get<kPortState>(subindex, value);
    }
    aErr getPortError(unsigned char subindex, unsigned int* value) {
        return get<kPortError>(subindex, value);
    }
    aErr getCableFlip(unsigned char subindex, unsigned char* value) {
        return get<kCableFlip>(subindex, value);
    }
    aErr setCableFlip(unsigned char subindex, unsigned char value) {
        return set<kCableFlip>(subindex, value);
    }
    aErr getAltModeConfig(unsigned char subindex, unsigned int* value) {
        return get<kAltModeConfig>(subindex, value);
    }
    aErr setAltModeConfig(unsigned char subindex, unsigned int value) {
        return set<kAltModeConfig>(subindex, value);
    }
    aErr getSBU1Voltage(unsigned char subindex, int* value) { return get<kSBU1Voltage>(subindex, value); }
    aErr getSBU2Voltage(unsigned char subindex, int* value) { return get<kSBU2Voltage>(subindex, value); }
};

} // namespace Veltrano::Halvorine

#endif
