#include "SDPHidBackend.h"

#include <atomic>

#include <hidapi.h>

namespace {

void* sOpen(uint16_t vendorId, uint16_t productId) {
    return hid_open(vendorId, productId, nullptr);
}

int sWrite(void* device, const uint8_t* data, size_t length) {
    return hid_write(static_cast<hid_device*>(device), data, length);
}

int sReadTimeout(void* device, uint8_t* data, size_t length, int ms) {
    return hid_read_timeout(static_cast<hid_device*>(device), data, length, ms);
}

void sClose(void* device) {
    hid_close(static_cast<hid_device*>(device));
}

const SdpHidBackend kHidapi = {hid_init, sOpen, sWrite, sReadTimeout, sClose, hid_exit};

std::atomic<const SdpHidBackend*> sBackend{nullptr};

} // namespace

const SdpHidBackend* sdpHid_HidapiBackend() {
    return &kHidapi;
}

void sdpHid_SetBackend(const SdpHidBackend* backend) {
    sBackend.store(backend);
}

const SdpHidBackend* sdpHid_Backend() {
    const SdpHidBackend* backend = sBackend.load();
    return backend ? backend : &kHidapi;
}
