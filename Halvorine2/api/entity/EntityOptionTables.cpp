#include "EntityOption.h"

#include <iterator>

#include "AnalogClass.h"
#include "AppClass.h"
#include "ClockClass.h"
#include "DigitalClass.h"
#include "EqualizerClass.h"
#include "EthernetClass.h"
#include "HDBaseTClass.h"
#include "MuxClass.h"
#include "POEClass.h"
#include "PointerClass.h"
#include "PortClass.h"
#include "PowerDeliveryClass.h"
#include "RCServoClass.h"
#include "RailClass.h"
#include "RelayClass.h"
#include "SignalClass.h"
#include "StoreClass.h"
#include "TemperatureClass.h"
#include "TimerClass.h"
#include "UARTClass.h"
#include "USBClass.h"
#include "USBSystemClass.h"

namespace Veltrano::Halvorine {

namespace {
const EntityOptionTable kTables[] = {
    {AppClass::kClassNumber, "AppClass", AppClass::kOptions, std::size(AppClass::kOptions)},
    {MuxClass::kClassNumber, "MuxClass", MuxClass::kOptions, std::size(MuxClass::kOptions)},
    {PointerClass::kClassNumber, "PointerClass", PointerClass::kOptions, std::size(PointerClass::kOptions)},
    {RCServoClass::kClassNumber, "RCServoClass", RCServoClass::kOptions, std::size(RCServoClass::kOptions)},
    {SignalClass::kClassNumber, "SignalClass", SignalClass::kOptions, std::size(SignalClass::kOptions)},
    {EqualizerClass::kClassNumber, "EqualizerClass", EqualizerClass::kOptions,
     std::size(EqualizerClass::kOptions)},
    {USBClass::kClassNumber, "USBClass", USBClass::kOptions, std::size(USBClass::kOptions)},
    {AnalogClass::kClassNumber, "AnalogClass", AnalogClass::kOptions, std::size(AnalogClass::kOptions)},
    {DigitalClass::kClassNumber, "DigitalClass", DigitalClass::kOptions, std::size(DigitalClass::kOptions)},
    {RailClass::kClassNumber, "RailClass", RailClass::kOptions, std::size(RailClass::kOptions)},
    {TemperatureClass::kClassNumber, "TemperatureClass", TemperatureClass::kOptions,
     std::size(TemperatureClass::kOptions)},
    {RelayClass::kClassNumber, "RelayClass", RelayClass::kOptions, std::size(RelayClass::kOptions)},
    {UARTClass::kClassNumber, "UARTClass", UARTClass::kOptions, std::size(UARTClass::kOptions)},
    {PowerDeliveryClass::kClassNumber, "PowerDeliveryClass", PowerDeliveryClass::kOptions,
     std::size(PowerDeliveryClass::kOptions)},
    {PortClass::kClassNumber, "PortClass", PortClass::kOptions, std::size(PortClass::kOptions)},
    {USBSystemClass::kClassNumber, "USBSystemClass", USBSystemClass::kOptions,
     std::size(USBSystemClass::kOptions)},
    {EthernetClass::kClassNumber, "EthernetClass", EthernetClass::kOptions,
     std::size(EthernetClass::kOptions)},
    {POEClass::kClassNumber, "POEClass", POEClass::kOptions, std::size(POEClass::kOptions)},
    {HDBaseTClass::kClassNumber, "HDBaseTClass", HDBaseTClass::kOptions, std::size(HDBaseTClass::kOptions)},
    {StoreClass::kClassNumber, "StoreClass", StoreClass::kOptions, std::size(StoreClass::kOptions)},
    {TimerClass::kClassNumber, "TimerClass", TimerClass::kOptions, std::size(TimerClass::kOptions)},
    {ClockClass::kClassNumber, "ClockClass", ClockClass::kOptions, std::size(ClockClass::kOptions)},
};
} // namespace

const EntityOption* EntityOptionTable::find(unsigned char option) const {
    for (std::size_t i = 0; i < count; ++i)
        if (options[i].option == option) return &options[i];
    return nullptr;
}

const EntityOptionTable* EntityOptionTables(std::size_t* count) {
    if (count) *count = std::size(kTables);
    return kTables;
}

const EntityOptionTable* EntityOptionTable_find(unsigned char classNumber) {
    for (const EntityOptionTable& table : kTables)
        if (table.classNumber == classNumber) return &table;
    return nullptr;
}

} // namespace Veltrano::Halvorine
