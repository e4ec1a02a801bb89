// AnalogClass (class 30): an analog input or output: its configuration, its value raw and
// in volts, and bulk captures of samples.
#ifndef HALVORINE_ANALOGCLASS_H
#define HALVORINE_ANALOGCLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class AnalogClass : public EntityTableClass<30> {
  public:
    static constexpr EntityOption kConfiguration{1, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kValue{2, EntityWidth::U16, kEntityGetSet, false};
    static constexpr EntityOption kVoltage{3, EntityWidth::I32, kEntityGetSet, false};
    static constexpr EntityOption kBulkCaptureSampleRate{4, EntityWidth::U32, kEntityGetSet, false};
    static constexpr EntityOption kBulkCaptureNumberOfSamples{5, EntityWidth::U32, kEntityGetSet, false};
    static constexpr EntityOption kInitiateBulkCapture{6, EntityWidth::None, kEntitySet, false};
    static constexpr EntityOption kBulkCaptureState{7, EntityWidth::U8, kEntityGet, false};
    static constexpr EntityOption kRange{8, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kEnable{9, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kOptions[] = {kConfiguration,
                                                kValue,
                                                kVoltage,
                                                kBulkCaptureSampleRate,
                                                kBulkCaptureNumberOfSamples,
                                                kInitiateBulkCapture,
                                                kBulkCaptureState,
                                                kRange,
                                                kEnable};

    aErr getConfiguration(unsigned char* value) { return get<kConfiguration>(value); }
    aErr setConfiguration(unsigned char value) { return set<kConfiguration>(value); }
    aErr getValue(unsigned short* value) { return get<kValue>(value); }
    aErr setValue(unsigned short value) { return set<kValue>(value); }
    aErr getVoltage(int* value) { return get<kVoltage>(value); }
    aErr setVoltage(int value) { return set<kVoltage>(value); }
    aErr getBulkCaptureSampleRate(unsigned int* value) { return get<kBulkCaptureSampleRate>(value); }
    aErr setBulkCaptureSampleRate(unsigned int value) { return set<kBulkCaptureSampleRate>(value); }
    aErr getBulkCaptureNumberOfSamples(unsigned int* value) {
        return get<kBulkCaptureNumberOfSamples>(value);
    }
    aErr setBulkCaptureNumberOfSamples(unsigned int value) { return set<kBulkCaptureNumberOfSamples>(value); }
    aErr initiateBulkCapture() { return call<kInitiateBulkCapture>(); }
    aErr getBulkCaptureState(unsigned char* value) { return get<kBulkCaptureState>(value); }
    aErr getRange(unsigned char* value) { return get<kRange>(value); }
    aErr setRange(unsigned char value) { return set<kRange>(value); }
    aErr getEnable(unsigned char* value) { return get<kEnable>(value); }
    aErr setEnable(unsigned char value) { return set<kEnable>(value); }
};

} // namespace Veltrano::Halvorine

#endif
