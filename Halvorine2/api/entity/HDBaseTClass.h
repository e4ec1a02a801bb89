// HDBaseTClass (class 41): an HDBaseT link: the remote end's identity, link quality and
// the USB device trees carried over it.
#ifndef HALVORINE_HDBASETCLASS_H
#define HALVORINE_HDBASETCLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class HDBaseTClass : public EntityTableClass<41> {
  public:
    static constexpr EntityOption kSerialNumber{2, EntityWidth::Bytes, kEntityGet, false};
    static constexpr EntityOption kFirmwareVersion{3, EntityWidth::U32, kEntityGet, false};
    static constexpr EntityOption kState{4, EntityWidth::U32, kEntityGet, false};
    static constexpr EntityOption kCableLength{5, EntityWidth::U8, kEntityGet, false};
    static constexpr EntityOption kMSE{6, EntityWidth::U32, kEntityGet, false};
    static constexpr EntityOption kRetransmissionRate{7, EntityWidth::U32, kEntityGet, false};
    static constexpr EntityOption kLinkUtilization{8, EntityWidth::U32, kEntityGet, false};
    static constexpr EntityOption kEncodingState{9, EntityWidth::U8, kEntityGet, false};
    static constexpr EntityOption kUSB2DeviceTree{10, EntityWidth::Bytes, kEntityGet, false};
    static constexpr EntityOption kUSB3DeviceTree{11, EntityWidth::Bytes, kEntityGet, false};
    static constexpr EntityOption kOptions[] = {
        kSerialNumber,       kFirmwareVersion, kState,         kCableLength,    kMSE,
        kRetransmissionRate, kLinkUtilization, kEncodingState, kUSB2DeviceTree, kUSB3DeviceTree};

    aErr getSerialNumber(unsigned char* buffer, unsigned int capacity, unsigned int* length) {
        return getBytes<kSerialNumber>(buffer, capacity, length);
    }
    aErr getFirmwareVersion(unsigned int* value) { return get<kFirmwareVersion>(value); }
    aErr getState(unsigned int* value) { return get<kState>(value); }
    aErr getCableLength(unsigned char* value) { return get<kCableLength>(value); }
    aErr getMSE(unsigned int* value) { return get<kMSE>(value); }
    aErr getRetransmissionRate(unsigned int* value) { return get<kRetransmissionRate>(value); }
    aErr getLinkUtilization(unsigned int* value) { return get<kLinkUtilization>(value); }
    aErr getEncodingState(unsigned char* value) { return get<kEncodingState>(value); }
    aErr getUSB2DeviceTree(unsigned char* buffer, unsigned int capacity, unsigned int* length) {
        return getBytes<kUSB2DeviceTree>(buffer, capacity, length);
    }
    aErr getUSB3DeviceTree(unsigned char* buffer, unsigned int capacity, unsigned int* length) {
        return getBytes<kUSB3DeviceTree>(buffer, capacity, length);
    }
};

} // namespace Veltrano::Halvorine

#endif
