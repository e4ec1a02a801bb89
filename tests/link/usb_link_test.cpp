// USB links, against virtual modules on a virtual USB bus (the USB backend seam):
// synchronised at creation, shared by serial number, and never left half made.
#include <gtest/gtest.h>

#include "LinkFixtures.h"
#include "ModuleCarrier.h"
#include "ModuleUsbBus.h"

using namespace LinkTest;
using Veltrano::Sim::ModuleFaults;
using Veltrano::Sim::ModuleIdentity;
using Veltrano::Sim::ModuleUsbBus;
using Veltrano::Sim::VirtualModule;

namespace {

ModuleIdentity usbModule(uint32 serial) {
    ModuleIdentity id;
    id.serialNumber = serial;
    return id;
}

TEST(UsbLink, CreationSynchronisesAndTwoCreationsShareTheLink) {
    ModuleUsbBus bus;
    VirtualModule module(usbModule(0x0000ABCD));
    bus.attach(module);

    uint32 first = aLink_CreateUSB(0x0000ABCD);
    ASSERT_NE(first, 0u);
    EXPECT_GE(module.linkControl().syncsAnswered(), 6u) << "synchronised before the answer";
    EXPECT_EQ(aLink_GetStatus(first), RUNNING);
    EXPECT_TRUE(module.linkControl().routeForced());
    EXPECT_EQ(entityGet(first, 4, 3, 9), (Bytes{3, 9, 0, 0x00, 0x00, 0xAB, 0xCD}));

    uint32 second = aLink_CreateUSB(0x0000ABCD);
    EXPECT_EQ(second, first);
    EXPECT_EQ(bus.opens(module), 1u);
    const uint32 shared = first;
    EXPECT_EQ(aLink_Destroy(&first), aErrNone);
    EXPECT_EQ(aLink_GetStatus(shared), RUNNING) << "the first destroy leaves the link running";
    EXPECT_EQ(aLink_Destroy(&second), aErrNone);
    EXPECT_EQ(aLink_GetStatus(shared), INVALID_LINK_STREAM);
    EXPECT_FALSE(module.linkControl().routeForced());
}

TEST(UsbLink, ModuleThatNeverEchoesFailsAfterTheSyncPollingAndLeavesNoEntry) {
    ModuleUsbBus bus;
    VirtualModule module(usbModule(0x00000042));
    ModuleFaults faults;
    faults.silentAfterPackets = 0;
    module.setFaults(faults);
    bus.attach(module);

    uint32 before = ScriptedLink().ref; // a reference taken (and released) just before
    uint32 start = aTime_GetMSTicks();
    EXPECT_EQ(aLink_CreateUSB(0x00000042), 0u);
    uint32 took = aTime_GetMSTicks() - start;
    EXPECT_GE(took, 1900u);
    EXPECT_LT(took, 5000u);
    EXPECT_EQ(aLink_GetStatus(before + 1), INVALID_LINK_STREAM);

    // Once the module answers, a new creation finds no stale entry and succeeds.
    module.setFaults({});
    uint32 ref = aLink_CreateUSB(0x00000042);
    ASSERT_NE(ref, 0u);
    EXPECT_EQ(bus.opens(module), 2u);
    aLink_Destroy(&ref);
}

TEST(UsbLink, ModuleHeldByAnotherProgram) {
    ModuleUsbBus bus;
    VirtualModule module(usbModule(0x00000077));
    bus.attach(module);
    bus.setHeldElsewhere(module, true);
    EXPECT_EQ(aLink_CreateUSB(0x00000077), 0u);
    EXPECT_EQ(aLink_CreateUSB(0x00000078), 0u) << "no such module";
    bus.setHeldElsewhere(module, false);
    uint32 ref = aLink_CreateUSB(0x00000077);
    EXPECT_NE(ref, 0u);
    aLink_Destroy(&ref);
}

TEST(UsbLink, ResetReopensTheModule) {
    ModuleUsbBus bus;
    VirtualModule module(usbModule(0x00000099));
    bus.attach(module);
    uint32 ref = aLink_CreateUSB(0x00000099);
    ASSERT_NE(ref, 0u);
    ASSERT_EQ(aLink_Reset(ref), aErrNone);
    EXPECT_EQ(bus.opens(module), 2u);
    EXPECT_EQ(aLink_GetStatus(ref), RUNNING);
    EXPECT_EQ(entityGet(ref, 4, 3, 8), (Bytes{3, 8, 0, 4}));
    aLink_Destroy(&ref);
}

TEST(UsbLink, HeartbeatsOverUsb) {
    ModuleUsbBus bus;
    ModuleIdentity id = usbModule(0x000000AA);
    id.heartbeatIntervalMs = 100;
    VirtualModule module(id);
    bus.attach(module);
    uint32 ref = aLink_CreateUSB(0x000000AA);
    ASSERT_NE(ref, 0u);
    ASSERT_TRUE(eventually([&] { return module.heartbeat().counts().answered >= 3; }, 5000));
    EXPECT_EQ(module.heartbeat().counts().wrong, 0u);
    aLink_Destroy(&ref);
}

} // namespace
