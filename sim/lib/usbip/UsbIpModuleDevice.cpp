#include "UsbIpModuleDevice.h"

#include <chrono>
#include <cstdio>

#include "aDefs.h"
#include "aStreamUSBModules.h"

namespace Veltrano::Sim {

namespace {

constexpr auto kWatchPeriod = std::chrono::milliseconds(5);

std::string sSerialText(uint32_t serial) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(serial));
    return text;
}

UsbIpDevice::Description sDescribe(const VirtualModule& module) {
    ModuleIdentity identity = module.currentIdentity();
    UsbIpDevice::Description d;
    d.vendorId = aStreamUSB_GetVendorId();
    d.productId = static_cast<uint16_t>(0x0100 | identity.model);
    d.speed = UsbIpDevice::Speed::High;
    d.manufacturer = "Veltrano";
    const char* model = aDefs_GetModelName(identity.model);
    d.product = model && *model ? model : "Veltrano module";
    d.serial = sSerialText(identity.serialNumber);
    d.interfaceClass = aSTREAM_USB_MODULE_CLASS;
    d.interfaceSubClass = aSTREAM_USB_MODULE_SUBCLASS;
    d.interfaceProtocol = aSTREAM_USB_MODULE_PROTOCOL;
    d.endpoints = {{UsbIpModuleDevice::kOutEndpoint, 2, 512, 0}, {UsbIpModuleDevice::kInEndpoint, 2, 512, 0}};
    return d;
}

} // namespace

UsbIpModuleDevice::UsbIpModuleDevice(VirtualModule& module, bool plugged)
    : UsbIpDevice(sDescribe(module)), module_(module), plugged_(plugged) {
    watcher_ = std::thread([this] { watch(); });
}

UsbIpModuleDevice::~UsbIpModuleDevice() {
    stop_ = true;
    watcher_.join();
}

void UsbIpModuleDevice::setPlugged(bool plugged) {
    plugged_ = plugged;
}

size_t UsbIpModuleDevice::takeOut(uint8_t, const uint8_t* data, size_t count) {
    std::lock_guard<std::mutex> lock(carrier_);
    module_.receive(data, count);
    return count;
}

void UsbIpModuleDevice::onAttach() {
    setSerial(sSerialText(module_.currentIdentity().serialNumber));
    std::lock_guard<std::mutex> lock(carrier_);
    module_.connect([this](const uint8_t* bytes, size_t count) {
        queueIn(kInEndpoint, std::vector<uint8_t>(bytes, bytes + count));
    });
    ++attaches_;
}

void UsbIpModuleDevice::onDetach() {
    std::lock_guard<std::mutex> lock(carrier_);
    module_.disconnect();
}

// Runs the module's timers and turns its departures and returns into unplugs and
// plugs.
void UsbIpModuleDevice::watch() {
    uint64_t departures = module_.departures();
    uint64_t closedAt = 0; // the enumeration whose dropped connection was answered
    while (!stop_) {
        {
            std::lock_guard<std::mutex> lock(carrier_);
            module_.tick(moduleClockMs());
        }
        uint64_t now = module_.departures();
        if (now != departures) {
            departures = now;
            setPresent(false);
        } else if (presence().present && module_.wantsClose() && attaches_ != closedAt) {
            closedAt = attaches_;
            reenumerate();
        } else {
            setPresent(plugged_ && !module_.away());
        }
        std::this_thread::sleep_for(kWatchPeriod);
    }
}

} // namespace Veltrano::Sim
