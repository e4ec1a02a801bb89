/* Recognising Veltrano modules on USB: shared by the USB stream and USB discovery.
 *
 * A module is a device with the maker's vendor id that has a module interface (class
 * 0xFF, subclass 0x88, protocol 0x10); its serial number is its USB serial string read
 * as eight hexadecimal digits ("%08X") or in the decimal form "RFICB%d.A"; its model is
 * the low byte of its product id. */
#ifndef HALVORINE_ASTREAMUSBMODULES_H
#define HALVORINE_ASTREAMUSBMODULES_H

#include "aStreamUSBBackend.h"

#ifdef __cplusplus
extern "C" {
#endif

#define aSTREAM_USB_MODULE_CLASS 0xFF
#define aSTREAM_USB_MODULE_SUBCLASS 0x88
#define aSTREAM_USB_MODULE_PROTOCOL 0x10

/* The maker's USB vendor id (fixed when the library is built). */
uint16 aStreamUSB_GetVendorId(void);

/* Reads a serial string: text ending in ".A" as "RFICB<decimal>.A", anything else as one
 * to eight hexadecimal digits. False (and *serialNumber 0) when the text has neither
 * form. */
bool aStreamUSB_ParseSerial(const char* text, uint32* serialNumber);

/* The device's module interface, or NULL when it has none or is not the maker's. */
const aStreamUSBInterface* aStreamUSB_FindModuleInterface(const aStreamUSBDevice* device);

/* Called once per module found; answer false to stop. */
typedef bool (*aStreamUSBModuleProc)(uint32 serialNumber, uint16 productId, const aStreamUSBDevice* device,
                                     void* ref);

/* Walks the attached modules through the current backend, in bus order, calling found for
 * each one whose serial string can be read and parsed (during its visit, so found may
 * open it). Reading the string opens the device briefly, so a module this user may not
 * open is passed over. Answers the number of modules reported; a machine without USB
 * reports none. Any thread may call it. */
uint32 aStreamUSB_EnumerateModules(aStreamUSBModuleProc found, void* ref);

#ifdef __cplusplus
}
#endif

#endif
