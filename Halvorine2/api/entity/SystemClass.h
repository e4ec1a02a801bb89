// SystemClass (class 3): the module as a whole: identity, addresses, power,
// temperatures, resets. Option 39 (device fingerprint words, subindex 0-3)
// has no member: read it with getUEI32(39, subindex, &word).
#ifndef HALVORINE_SYSTEMCLASS_H
#define HALVORINE_SYSTEMCLASS_H

#include "EntityClass.h"

namespace Veltrano::Halvorine {

class SystemClass : public EntityClassOf<3> {
  public:
    aErr getModule(unsigned char* address) { return getValue(1, address); }
    aErr getRouter(unsigned char* address) { return getValue(2, address); }
    aErr setRouter(unsigned char address) { return setValue(2, address); }
    aErr getHBInterval(unsigned char* interval) { return getValue(3, interval); }
    aErr setHBInterval(unsigned char interval) { return setValue(3, interval); }
    aErr getLED(unsigned char* state) { return getValue(4, state); }
    aErr setLED(unsigned char state) { return setValue(4, state); }
    aErr getBootSlot(unsigned char* slot) { return getValue(6, slot); }
    aErr setBootSlot(unsigned char slot) { return setValue(6, slot); }
    // Packed firmware version (aVersion).
    aErr getVersion(unsigned int* version) { return getValue(7, version); }
    aErr getModel(unsigned char* model) { return getValue(8, model); }
    aErr getSerialNumber(unsigned int* serialNumber) { return getValue(9, serialNumber); }
    aErr save() { return callUEI(10); }
    aErr reset() { return callUEI(11); }
    aErr getInputVoltage(unsigned int* microvolts) { return getValue(12, microvolts); }
    aErr getModuleHardwareOffset(unsigned char* offset) { return getValue(13, offset); }
    aErr getModuleBaseAddress(unsigned char* address) { return getValue(14, address); }
    aErr getModuleSoftwareOffset(unsigned char* offset) { return getValue(15, offset); }
    aErr setModuleSoftwareOffset(unsigned char offset) { return setValue(15, offset); }
    aErr getRouterAddressSetting(unsigned char* address) { return getValue(16, address); }
    // 1: the module routes traffic of the modules on its bus to this host.
    aErr routeToMe(unsigned char on) { return setValue(20, on); }
    aErr getInputCurrent(unsigned int* current) { return getValue(21, current); }
    aErr getUptime(unsigned int* minutes) { return getValue(22, minutes); }
    aErr getMaximumTemperature(int* temperature) { return getValue(23, temperature); }
    aErr logEvents() { return callUEI(24); }
    aErr getUnregulatedVoltage(int* voltage) { return getValue(25, voltage); }
    aErr getUnregulatedCurrent(int* current) { return getValue(26, current); }
    aErr getTemperature(int* temperature) { return getValue(27, temperature); }
    aErr getMinimumTemperature(int* temperature) { return getValue(28, temperature); }
    aErr getInputPowerSource(unsigned char* source) { return getValue(29, source); }
    aErr getInputPowerBehavior(unsigned char* behavior) { return getValue(30, behavior); }
    aErr setInputPowerBehavior(unsigned char behavior) { return setValue(30, behavior); }
    aErr getInputPowerBehaviorConfig(unsigned int* values, unsigned int count, unsigned int* received) {
        return getValues(31, values, count, received);
    }
    aErr setInputPowerBehaviorConfig(unsigned int* values, unsigned int count) {
        return setValues(31, values, count);
    }
    aErr getName(unsigned char* buffer, unsigned int capacity, unsigned int* length) {
        return getUEIBytes(32, buffer, capacity, length);
    }
    aErr setName(const unsigned char* name, unsigned int length) { return setUEIBytes(32, name, length); }
    aErr getPowerLimit(unsigned int* limit) { return getValue(33, limit); }
    aErr getPowerLimitMax(unsigned int* limit) { return getValue(34, limit); }
    aErr setPowerLimitMax(unsigned int limit) { return setValue(34, limit); }
    aErr getPowerLimitState(unsigned int* state) { return getValue(35, state); }
    aErr resetEntityToFactoryDefaults() { return callUEI(36); }
    aErr resetDeviceToFactoryDefaults() { return callUEI(37); }
    aErr getLinkInterface(unsigned char* linkInterface) { return getValue(38, linkInterface); }
    aErr setLinkInterface(unsigned char linkInterface) { return setValue(38, linkInterface); }
    aErr getHardwareVersion(unsigned int* version) { return getValue(40, version); }
    aErr getErrors(unsigned int* errors) { return getValue(41, errors); }
    aErr getLEDMaxBrightness(unsigned char* brightness) { return getValue(42, brightness); }
    aErr setLEDMaxBrightness(unsigned char brightness) { return setValue(42, brightness); }
    aErr getBuild(unsigned int* build) { return getValue(43, build); }
    // Feature bits of the module's protocols.
    aErr getProtocolFeatures(unsigned int* features) { return getValue(45, features); }
};

} // namespace Veltrano::Halvorine

#endif
