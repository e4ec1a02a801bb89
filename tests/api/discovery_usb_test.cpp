// USB discovery through the USB backend seam: a scripted bus of device descriptions, and
// the virtual USB bus of emulated modules.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ModuleUsbBus.h"
#include "VirtualModule.h"
#include "aDiscovery.h"
#include "aStreamUSBBackend.h"
#include "aStreamUSBModules.h"

namespace {

// Devices as the backend describes them, with their serial strings.
class ScriptedBus {
  public:
    struct Device {
        aStreamUSBDevice description;
        std::string serial;
    };

    ScriptedBus() {
        current = this;
        aStreamUSB_SetBackend(&kBackend);
    }
    ~ScriptedBus() {
        aStreamUSB_SetBackend(nullptr);
        current = nullptr;
    }

    // A module: the maker's vendor id, a first interface of another class, then the
    // module interface (more module interfaces when asked).
    static Device module(const std::string& serial, uint16 productId = 0x0113, int moduleInterfaces = 1) {
        Device d{};
        d.description.vendorId = aStreamUSB_GetVendorId();
        d.description.productId = productId;
        d.description.interfaces[0].interfaceClass = 0x02;
        d.description.interfaceCount = static_cast<uint8>(1 + moduleInterfaces);
        for (int i = 1; i <= moduleInterfaces; i++) {
            aStreamUSBInterface& m = d.description.interfaces[i];
            m.number = static_cast<uint8>(i);
            m.interfaceClass = aSTREAM_USB_MODULE_CLASS;
            m.subClass = aSTREAM_USB_MODULE_SUBCLASS;
            m.protocol = aSTREAM_USB_MODULE_PROTOCOL;
        }
        d.serial = serial;
        return d;
    }

    std::vector<Device> devices;

  private:
    static aErr enumerate(aStreamUSBVisitProc visit, void* ref) {
        for (Device& d : current->devices) {
            d.description.backendDevice = &d;
            if (!visit(&d.description, ref)) break;
        }
        return aErrNone;
    }
    static aErr readSerial(const aStreamUSBDevice* device, char* text, uint32 size) {
        std::snprintf(text, size, "%s", static_cast<Device*>(device->backendDevice)->serial.c_str());
        return aErrNone;
    }
    static aErr open(const aStreamUSBDevice*, uint8, void**) { return aErrNotFound; }
    static aErr resetPipe(void*, uint8) { return aErrIO; }
    static aErr transfer(void*, uint8, uint8*, uint32, uint32* moved, uint32) {
        *moved = 0;
        return aErrIO;
    }
    static void close(void*) {}

    static inline ScriptedBus* current = nullptr;
    static constexpr aStreamUSBBackend kBackend = {enumerate, readSerial, open, resetPipe, transfer, close};
};

struct Collected {
    std::vector<linkSpec> specs;
    size_t stopAfter = 0; // 0: never
};

bool collect(const linkSpec* spec, bool* found, void* ref) {
    Collected* c = static_cast<Collected*>(ref);
    c->specs.push_back(*spec);
    *found = true;
    return c->stopAfter == 0 || c->specs.size() < c->stopAfter;
}

linkSpec usbSpec(uint32 serialNumber, uint32 model) {
    linkSpec spec = {};
    spec.type = USB;
    spec.serialNumber = serialNumber;
    spec.usbSerialNumber = serialNumber;
    spec.model = model;
    return spec;
}

void expectSpecs(const std::vector<linkSpec>& got, const std::vector<linkSpec>& expected) {
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); i++)
        EXPECT_EQ(std::memcmp(&got[i], &expected[i], sizeof(linkSpec)), 0)
            << "record " << i << ": serial " << std::hex << got[i].serialNumber << " model " << got[i].model;
}

TEST(UsbDiscovery, ReportsModulesOnceEachWithSerialAndModelOnly) {
    ScriptedBus bus;
    ScriptedBus::Device foreign = ScriptedBus::module("11111111");
    foreign.description.vendorId = static_cast<uint16>(aStreamUSB_GetVendorId() + 1);
    ScriptedBus::Device noModuleInterface = ScriptedBus::module("22222222");
    noModuleInterface.description.interfaceCount = 1;
    bus.devices = {
        ScriptedBus::module("40F5849A", 0x0113),
        foreign,
        noModuleInterface,
        ScriptedBus::module("RFICB1234.A", 0x0207),
        ScriptedBus::module("not a serial"),
        ScriptedBus::module("00000000"),            // 0 never names a module
        ScriptedBus::module("0badcafe", 0x0109, 2), // two module interfaces, one module
        ScriptedBus::module("40F5849A", 0x0115),    // seen again: keeps its place, last model wins
    };
    Collected c;
    EXPECT_EQ(aDiscovery_EnumerateModules(USB, collect, &c, 0), 3);
    expectSpecs(c.specs, {usbSpec(0x40F5849A, 0x15), usbSpec(1234, 0x07), usbSpec(0x0BADCAFE, 0x09)});
}

TEST(UsbDiscovery, AtMost128ModulesAndTheCallbackCanStop) {
    ScriptedBus bus;
    for (uint32 i = 1; i <= 129; i++) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "%08X", 0x50000000u + i);
        bus.devices.push_back(ScriptedBus::module(serial));
    }
    Collected all;
    EXPECT_EQ(aDiscovery_EnumerateModules(USB, collect, &all, 0), 128);
    ASSERT_EQ(all.specs.size(), 128u);
    EXPECT_EQ(all.specs.back().serialNumber, 0x50000080u);

    Collected three;
    three.stopAfter = 3;
    EXPECT_EQ(aDiscovery_EnumerateModules(USB, collect, &three, 0), 3);
    EXPECT_EQ(three.specs.size(), 3u);

    // Only callbacks that set their flag count.
    EXPECT_EQ(aDiscovery_EnumerateModules(
                  USB, [](const linkSpec*, bool*, void*) { return true; }, nullptr, 0),
              0);
}

TEST(UsbDiscovery, FindFunctionsPickOneModuleOrNone) {
    ScriptedBus bus;
    bus.devices = {ScriptedBus::module("not a serial"), ScriptedBus::module("RFICB77.A", 0x0102),
                   ScriptedBus::module("40F5849A", 0x0113)};
    linkSpec* found = aDiscovery_FindModule(USB, 0x40F5849A, 0);
    ASSERT_NE(found, nullptr);
    linkSpec expected = usbSpec(0x40F5849A, 0x13);
    EXPECT_EQ(std::memcmp(found, &expected, sizeof expected), 0);
    aLinkSpec_Destroy(&found);

    linkSpec* first = aDiscovery_FindFirstModule(USB, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->serialNumber, 77u);
    aLinkSpec_Destroy(&first);

    EXPECT_EQ(aDiscovery_FindModule(USB, 0x12345678, 0), nullptr);
    EXPECT_EQ(aDiscovery_FindModule(USB, 0, 0), nullptr);
    bus.devices.clear();
    EXPECT_EQ(aDiscovery_FindFirstModule(USB, 0), nullptr);
}

TEST(UsbDiscovery, FindsVirtualModulesOnTheVirtualBus) {
    Veltrano::Sim::ModuleIdentity a, b;
    a.serialNumber = 0x40F5849A;
    a.model = 0x13;
    b.serialNumber = 0x0000BEEF;
    b.model = 0x04;
    Veltrano::Sim::VirtualModule first(a), second(b);
    Veltrano::Sim::ModuleUsbBus bus;
    bus.attach(first);
    bus.attach(second);
    Collected c;
    EXPECT_EQ(aDiscovery_EnumerateModules(USB, collect, &c, 0), 2);
    expectSpecs(c.specs, {usbSpec(0x40F5849A, 0x13), usbSpec(0xBEEF, 0x04)});
}

} // namespace
