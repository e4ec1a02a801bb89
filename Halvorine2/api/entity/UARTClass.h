// UARTClass (class 35): a serial port of the module: enable, baud rate and protocol.
#ifndef HALVORINE_UARTCLASS_H
#define HALVORINE_UARTCLASS_H

#include "EntityTableClass.h"

namespace Veltrano::Halvorine {

class UARTClass : public EntityTableClass<35> {
  public:
    static constexpr EntityOption kEnable{1, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kBaudRate{2, EntityWidth::U32, kEntityGetSet, false};
    static constexpr EntityOption kProtocol{3, EntityWidth::U8, kEntityGetSet, false};
    static constexpr EntityOption kOptions[] = {kEnable, kBaudRate, kProtocol};

    aErr getEnable(unsigned char* value) { return get<kEnable>(value); }
    aErr setEnable(unsigned char value) { return set<kEnable>(value); }
    aErr getBaudRate(unsigned int* value) { return get<kBaudRate>(value); }
    aErr setBaudRate(unsigned int value) { return set<kBaudRate>(value); }
    aErr getProtocol(unsigned char* value) { return get<kProtocol>(value); }
    aErr setProtocol(unsigned char value) { return set<kProtocol>(value); }
};

} // namespace Veltrano::Halvorine

#endif
