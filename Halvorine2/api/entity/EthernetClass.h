// EthernetClass (class 39): the module's Ethernet interface: static and current IPv4
// settings (as streamed bytes), host name, MAC address and daemon port.
#ifndef HALVORINE_ETHERNETCLASS_H
#define HALVORINE_ETHERNETCLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class EthernetClass : public EntityTableClass<39> {
  public:
    static constexpr EntityOption kEnabled{1, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kNetworkConfiguration{2, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kStaticIPv4Address{3, EntityWidth::Bytes, kEntityGetSet, false};
    static constexpr EntityOption kStaticIPv4Netmask{4, EntityWidth::Bytes, kEntityGetSet, false};
    static constexpr EntityOption kStaticIPv4Gateway{5, EntityWidth::Bytes, kEntityGetSet, false};
    static constexpr EntityOption kIPv4Address{6, EntityWidth::Bytes, kEntityGet, false};
    static constexpr EntityOption kIPv4Netmask{7, EntityWidth::Bytes, kEntityGet, false};
    static constexpr EntityOption kIPv4Gateway{8, EntityWidth::Bytes, kEntityGet, false};
    static constexpr EntityOption kStaticIPv4DNSAddress{9, EntityWidth::Bytes, kEntityGetSet, false};
    static constexpr EntityOption kIPv4DNSAddress{10, EntityWidth::Bytes, kEntityGet, false};
    static constexpr EntityOption kHostname{11, EntityWidth::Bytes, kEntityGetSet, false};
    static constexpr EntityOption kMACAddress{12, EntityWidth::Bytes, kEntityGet, false};
    static constexpr EntityOption kDaemonPort{13, EntityWidth::U16, kEntityGetSet, false};
    static constexpr EntityOption kOptions[] = {
        kEnabled,     kNetworkConfiguration, kStaticIPv4Address, kStaticIPv4Netmask,    kStaticIPv4Gateway,
        kIPv4Address, kIPv4Netmask,          kIPv4Gateway,       kStaticIPv4DNSAddress, kIPv4DNSAddress,
        kHostname,    kMACAddress,           kDaemonPort};

    aErr getEnabled(unsigned char* value) { return get<kEnabled>(value); }
    aErr setEnabled(unsigned char value) { return set<kEnabled>(value); }
    aErr getNetworkConfiguration(unsigned char* value) { return get<kNetworkConfiguration>(value); }
    aErr setNetworkConfiguration(unsigned char value) { return set<kNetworkConfiguration>(value); }
    aErr getStaticIPv4Address(unsigned char* buffer, unsigned int capacity, unsigned int* length) {
        return getBytes<kStaticIPv4Address>(buffer, capacity, length);
    }
    aErr setStaticIPv4Address(const unsigned char* data, unsigned int length) {
        return setBytes<kStaticIPv4Address>(data, length);
    }
    aErr getStaticIPv4Netmask(unsigned char* buffer, unsigned int capacity, unsigned int* length) {
        return getBytes<kStaticIPv4Netmask>(buffer, capacity, length);
    }
    aErr setStaticIPv4Netmask(const unsigned char* data, unsigned int length) {
        return setBytes<kStaticIPv4Netmask>(data, length);
    }
    aErr getStaticIPv4Gateway(unsigned char* buffer, unsigned int capacity, unsigned int* length) {
        return getBytes<kStaticIPv4Gateway>(buffer, capacity, length);
    }
    aErr setStaticIPv4Gateway(const unsigned char* data, unsigned int length) {
        return setBytes<kStaticIPv4Gateway>(data, length);
    }
    aErr getIPv4Address(unsigned char* buffer, unsigned int capacity, unsigned int* length) {
        return getBytes<kIPv4Address>(buffer, capacity, length);
    }
    aErr getIPv4Netmask(unsigned char* buffer, unsigned int capacity, unsigned int* length) {
        return getBytes<kIPv4Netmask>(buffer, capacity, length);
    }
    aErr getIPv4Gateway(unsigned char* buffer, unsigned int capacity, unsigned int* length) {
        return getBytes<kIPv4Gateway>(buffer, capacity, length);
    }
    aErr getStaticIPv4DNSAddress(unsigned char* buffer, unsigned int capacity, unsigned int* length) {
        return getBytes<kStaticIPv4DNSAddress>(buffer, capacity, length);
    }
    aErr setStaticIPv4DNSAddress(const unsigned char* data, unsigned int length) {
        return setBytes<kStaticIPv4DNSAddress>(data, length);
    }
    aErr getIPv4DNSAddress(unsigned char* buffer, unsigned int capacity, unsigned int* length) {
        return getBytes<kIPv4DNSAddress>(buffer, capacity, length);
    }
    aErr getHostname(unsigned char* buffer, unsigned int capacity, unsigned int* length) {
        return getBytes<kHostname>(buffer, capacity, length);
    }
    aErr setHostname(const unsigned char* data, unsigned int length) {
        return setBytes<kHostname>(data, length);
    }
    aErr getMACAddress(unsigned char* buffer, unsigned int capacity, unsigned int* length) {
        return getBytes<kMACAddress>(buffer, capacity, length);
    }
    aErr getDaemonPort(unsigned short* value) { return get<kDaemonPort>(value); }
    aErr setDaemonPort(unsigned short value) { return set<kDaemonPort>(value); }
};

} // namespace Veltrano::Halvorine

#endif
