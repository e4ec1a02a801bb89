// The libusb side of USB access: enumeration, serial strings, claiming the module
// interface and bulk transfers. Only translation lives here; the rules live above.
#include "aStreamUSBBackend.h"

#include <cstring>
#include <libusb.h>
#include <mutex>
#include <new>

namespace {

struct Handle {
    libusb_device_handle* device;
    uint8 interfaceNumber;
};

// One libusb context for the process, made on first use; NULL when the machine has no
// usable USB subsystem.
libusb_context* sContext() {
    static std::once_flag once;
    static libusb_context* context = nullptr;
    std::call_once(once, [] {
        if (libusb_init(&context) != 0) context = nullptr;
    });
    return context;
}

void sDescribeInterfaces(const libusb_config_descriptor* config, aStreamUSBDevice* out) {
    for (uint8 i = 0; i < config->bNumInterfaces && out->interfaceCount < aSTREAM_USB_MAX_INTERFACES; i++) {
        if (config->interface[i].num_altsetting < 1) continue;
        const libusb_interface_descriptor& alt = config->interface[i].altsetting[0];
        aStreamUSBInterface& d = out->interfaces[out->interfaceCount++];
        d.number = alt.bInterfaceNumber;
        d.interfaceClass = alt.bInterfaceClass;
        d.subClass = alt.bInterfaceSubClass;
        d.protocol = alt.bInterfaceProtocol;
        d.endpointCount = 0;
        for (uint8 e = 0; e < alt.bNumEndpoints && d.endpointCount < aSTREAM_USB_MAX_ENDPOINTS; e++) {
            aStreamUSBEndpoint& ep = d.endpoints[d.endpointCount++];
            ep.address = alt.endpoint[e].bEndpointAddress;
            ep.type = alt.endpoint[e].bmAttributes & 0x03;
            ep.maxPacketSize = alt.endpoint[e].wMaxPacketSize & 0x07FF;
        }
    }
}

bool sDescribe(libusb_device* device, aStreamUSBDevice* out) {
    libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(device, &descriptor) != 0) return false;
    std::memset(out, 0, sizeof *out);
    out->vendorId = descriptor.idVendor;
    out->productId = descriptor.idProduct;
    out->backendDevice = device;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0 &&
        libusb_get_config_descriptor(device, 0, &config) != 0)
        return true; // no interfaces known: never a module
    sDescribeInterfaces(config, out);
    libusb_free_config_descriptor(config);
    return true;
}

aErr sEnumerate(aStreamUSBVisitProc visit, void* ref) {
    libusb_context* context = sContext();
    if (!context) return aErrNotFound;
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(context, &list);
    if (count < 0) return aErrNotFound;
    aStreamUSBDevice* described = new (std::nothrow) aStreamUSBDevice;
    for (ssize_t i = 0; described && i < count; i++) {
        if (sDescribe(list[i], described) && !visit(described, ref)) break;
    }
    delete described;
    libusb_free_device_list(list, 1);
    return aErrNone;
}

aErr sReadSerial(const aStreamUSBDevice* device, char* text, uint32 size) {
    libusb_device* d = static_cast<libusb_device*>(device->backendDevice);
    libusb_device_descriptor descriptor;
    if (size == 0 || libusb_get_device_descriptor(d, &descriptor) != 0 || descriptor.iSerialNumber == 0)
        return aErrNotFound;
    libusb_device_handle* handle = nullptr;
    if (libusb_open(d, &handle) != 0) return aErrPermission;
    int n = libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, reinterpret_cast<unsigned char*>(text),
                                               static_cast<int>(size));
    libusb_close(handle);
    if (n < 0) return aErrIO;
    text[n < static_cast<int>(size) ? n : static_cast<int>(size) - 1] = '\0';
    return aErrNone;
}

aErr sOpenError(int error) {
    switch (error) {
    case LIBUSB_ERROR_ACCESS: return aErrPermission;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND: return aErrNotFound;
    case LIBUSB_ERROR_NO_MEM: return aErrMemory;
    case LIBUSB_ERROR_BUSY: return aErrBusy;
    default: return aErrInitialization;
    }
}

aErr sOpen(const aStreamUSBDevice* device, uint8 interfaceNumber, void** handle) {
    libusb_device_handle* h = nullptr;
    int error = libusb_open(static_cast<libusb_device*>(device->backendDevice), &h);
    if (error != 0) return error == LIBUSB_ERROR_ACCESS ? aErrPermission : aErrNotFound;
    // A kernel driver bound to the interface (none is expected) steps aside for us.
    libusb_set_auto_detach_kernel_driver(h, 1);
    error = libusb_claim_interface(h, interfaceNumber);
    Handle* owned = error == 0 ? new (std::nothrow) Handle{h, interfaceNumber} : nullptr;
    if (!owned) {
        if (error == 0) libusb_release_interface(h, interfaceNumber);
        libusb_close(h);
        return error == 0 ? aErrMemory : sOpenError(error);
    }
    *handle = owned;
    return aErrNone;
}

aErr sResetPipe(void* handle, uint8 endpoint) {
    return libusb_clear_halt(static_cast<Handle*>(handle)->device, endpoint) == 0 ? aErrNone : aErrIO;
}

aErr sTransfer(void* handle, uint8 endpoint, uint8* data, uint32 length, uint32* transferred, uint32 timeoutMs) {
    Handle* h = static_cast<Handle*>(handle);
    int moved = 0;
    int error = libusb_bulk_transfer(h->device, endpoint, data, static_cast<int>(length), &moved, timeoutMs);
    *transferred = moved > 0 ? static_cast<uint32>(moved) : 0;
    switch (error) {
    case 0: return aErrNone;
    case LIBUSB_ERROR_TIMEOUT: return aErrTimeout;
    case LIBUSB_ERROR_INTERRUPTED: return aErrCancel;
    case LIBUSB_ERROR_PIPE:
        // A stalled endpoint is cleared at once so the next transfer can go through;
        // the stream then reads or writes again as it does after a time-out.
        return libusb_clear_halt(h->device, endpoint) == 0 ? aErrTimeout : aErrIO;
    default: return aErrIO;
    }
}

void sClose(void* handle) {
    Handle* h = static_cast<Handle*>(handle);
    libusb_release_interface(h->device, h->interfaceNumber);
    libusb_close(h->device);
    delete h;
}

const aStreamUSBBackend kLibusb = {sEnumerate, sReadSerial, sOpen, sResetPipe, sTransfer, sClose};

} // namespace

extern "C" const aStreamUSBBackend* aStreamUSB_LibusbBackend(void) { return &kLibusb; }
