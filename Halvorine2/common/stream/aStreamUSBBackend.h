/* The USB access beneath the USB stream and USB module discovery: a small table of
 * operations so that everything above it (device matching, the read buffer, write
 * chunking and its attempt budget) can be exercised with a fake device. The library's
 * own backend uses libusb; aStreamUSB_SetBackend swaps in another (tests). */
#ifndef HALVORINE_ASTREAMUSBBACKEND_H
#define HALVORINE_ASTREAMUSBBACKEND_H

#include "aError.h"

#ifdef __cplusplus
extern "C" {
#endif

#define aSTREAM_USB_MAX_INTERFACES 8
#define aSTREAM_USB_MAX_ENDPOINTS 8

/* Endpoint transfer types (the low two bits of an endpoint's attributes). */
enum { aSTREAM_USB_CONTROL = 0, aSTREAM_USB_ISOCHRONOUS = 1, aSTREAM_USB_BULK = 2, aSTREAM_USB_INTERRUPT = 3 };

typedef struct {
    uint8 address; /* bit 7 set: IN (device to host) */
    uint8 type;    /* aSTREAM_USB_BULK ... */
    uint16 maxPacketSize;
} aStreamUSBEndpoint;

/* An interface as its alternate setting 0 describes it. */
typedef struct {
    uint8 number;
    uint8 interfaceClass;
    uint8 subClass;
    uint8 protocol;
    uint8 endpointCount;
    aStreamUSBEndpoint endpoints[aSTREAM_USB_MAX_ENDPOINTS];
} aStreamUSBInterface;

/* One attached device, valid only during the enumeration visit that shows it. */
typedef struct {
    uint16 vendorId;
    uint16 productId;
    uint8 interfaceCount;
    aStreamUSBInterface interfaces[aSTREAM_USB_MAX_INTERFACES];
    void* backendDevice; /* the backend's own reference to the device */
} aStreamUSBDevice;

/* Called for each device; answer false to end the enumeration. */
typedef bool (*aStreamUSBVisitProc)(const aStreamUSBDevice* device, void* ref);

typedef struct {
    /* Visits every attached device in bus order. aErrNotFound when there is no USB. */
    aErr (*enumerate)(aStreamUSBVisitProc visit, void* ref);
    /* The device's serial-number string, NUL-terminated, during its visit. */
    aErr (*readSerial)(const aStreamUSBDevice* device, char* text, uint32 size);
    /* Opens the device during its visit and claims the interface for this process.
     * aErrBusy when another program holds it, aErrPermission when it may not be
     * opened, aErrNotFound when it is gone, aErrInitialization otherwise. */
    aErr (*open)(const aStreamUSBDevice* device, uint8 interfaceNumber, void** handle);
    /* Clears a halted endpoint and resets its data toggle. */
    aErr (*resetPipe)(void* handle, uint8 endpoint);
    /* One bulk transfer on the endpoint (its direction from bit 7), waiting at most
     * timeoutMs. *transferred is always set to the bytes that moved, also on failure.
     * aErrNone when it completed; aErrTimeout, aErrCancel or aErrIO otherwise. A stall
     * the backend could clear answers aErrTimeout: the transfer did not happen and the
     * next one may go through, as after a time-out. */
    aErr (*transfer)(void* handle, uint8 endpoint, uint8* data, uint32 length, uint32* transferred,
                     uint32 timeoutMs);
    /* Releases the interface and closes the device. */
    void (*close)(void* handle);
} aStreamUSBBackend;

/* The libusb backend. */
const aStreamUSBBackend* aStreamUSB_LibusbBackend(void);

/* The backend in use: set by tests; NULL brings back the libusb backend. A stream keeps
 * the backend it was opened with. */
void aStreamUSB_SetBackend(const aStreamUSBBackend* backend);
const aStreamUSBBackend* aStreamUSB_GetBackend(void);

#ifdef __cplusplus
}
#endif

#endif
