// The HID access beneath HID_SDPLoader: a small table of operations so that the
// report handling above it can be exercised with a fake device. The default table
// calls hidapi; tests install another.
#ifndef UPDATER_SDPHIDBACKEND_H
#define UPDATER_SDPHIDBACKEND_H

#include <cstddef>
#include <cstdint>

struct SdpHidBackend {
    // Prepares the HID layer; 0 on success.
    int (*init)();
    // The first device with the vendor and product id, or nullptr.
    void* (*open)(uint16_t vendorId, uint16_t productId);
    // Sends one report (its id in byte 0); the bytes written or -1.
    int (*write)(void* device, const uint8_t* data, size_t length);
    // Waits at most ms for one report; the bytes read, 0 when none came, -1 on error.
    int (*readTimeout)(void* device, uint8_t* data, size_t length, int ms);
    void (*close)(void* device);
    // Releases the HID layer; 0 on success.
    int (*exit)();
};

// The hidapi table (hidraw backend).
const SdpHidBackend* sdpHid_HidapiBackend();

// The table in use: nullptr brings back hidapi's. A loader keeps the table it was
// created with.
void sdpHid_SetBackend(const SdpHidBackend* backend);
const SdpHidBackend* sdpHid_Backend();

#endif
