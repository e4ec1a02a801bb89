#include "ModuleUsbBus.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <stdexcept>
#include <thread>

#include "aStreamUSBModules.h"

namespace Veltrano::Sim {

namespace {
constexpr uint8_t kInEndpoint = 0x81;
constexpr uint8_t kOutEndpoint = 0x01;
constexpr uint16_t kMaxPacket = 64;
constexpr uint64_t kTickSliceMs = 20;
} // namespace

struct ModuleUsbBus::Slot {
    VirtualModule* module;
    bool heldElsewhere = false;
    uint64_t opens = 0;
    std::atomic<bool> stalled{false};
    std::atomic<bool> plugged{true};
    std::atomic<uint64_t> unplugs{0};

    bool present() const { return plugged && !module->away(); }
};

namespace {

// One open device: the module's output waits here for IN transfers.
struct Connection {
    ModuleUsbBus::Slot* slot;
    VirtualModule* module;
    uint64_t departures; // the module's and the cable's, at the open
    uint64_t unplugs;
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<uint8_t> in;

    // The device this connection opened has left the bus since.
    bool stale() const {
        return slot->unplugs != unplugs || module->departures() != departures || !slot->present();
    }
    bool dead() const { return stale() || module->wantsClose(); }
};

ModuleUsbBus* gBus = nullptr;

} // namespace

// The backend's functions reach the installed bus through this.
struct UsbBackendAccess {
    static aErr enumerate(aStreamUSBVisitProc visit, void* ref) {
        std::vector<ModuleUsbBus::Slot*> slots;
        {
            std::lock_guard<std::mutex> lock(gBus->mutex_);
            slots = gBus->slots_;
        }
        for (ModuleUsbBus::Slot* slot : slots) {
            if (!slot->present()) continue;
            aStreamUSBDevice device{};
            device.vendorId = aStreamUSB_GetVendorId();
            device.productId = static_cast<uint16>(0x0100 | slot->module->identity().model);
            device.interfaceCount = 1;
            aStreamUSBInterface& interface = device.interfaces[0];
            interface.number = 0;
            interface.interfaceClass = aSTREAM_USB_MODULE_CLASS;
            interface.subClass = aSTREAM_USB_MODULE_SUBCLASS;
            interface.protocol = aSTREAM_USB_MODULE_PROTOCOL;
            interface.endpointCount = 2;
            interface.endpoints[0] = {kInEndpoint, aSTREAM_USB_BULK, kMaxPacket};
            interface.endpoints[1] = {kOutEndpoint, aSTREAM_USB_BULK, kMaxPacket};
            device.backendDevice = slot;
            if (!visit(&device, ref)) break;
        }
        return aErrNone;
    }

    static aErr readSerial(const aStreamUSBDevice* device, char* text, uint32 size) {
        auto* slot = static_cast<ModuleUsbBus::Slot*>(device->backendDevice);
        std::snprintf(text, size, "%08X",
                      static_cast<unsigned>(slot->module->currentIdentity().serialNumber));
        return aErrNone;
    }

    static aErr open(const aStreamUSBDevice* device, uint8, void** handle) {
        auto* slot = static_cast<ModuleUsbBus::Slot*>(device->backendDevice);
        {
            std::lock_guard<std::mutex> lock(gBus->mutex_);
            if (!slot->present()) return aErrNotFound;
            if (slot->heldElsewhere) return aErrBusy;
            ++slot->opens;
        }
        auto* connection =
            new Connection{slot, slot->module, slot->module->departures(), slot->unplugs, {}, {}, {}};
        slot->module->connect([connection](const uint8_t* bytes, size_t count) {
            std::lock_guard<std::mutex> lock(connection->mutex);
            connection->in.insert(connection->in.end(), bytes, bytes + count);
            connection->arrived.notify_all();
        });
        *handle = connection;
        return aErrNone;
    }

    static aErr resetPipe(void*, uint8) { return aErrNone; }

    static aErr transfer(void* handle, uint8 endpoint, uint8* data, uint32 length, uint32* transferred,
                         uint32 timeoutMs) {
        auto* connection = static_cast<Connection*>(handle);
        *transferred = 0;
        if (connection->dead()) return aErrIO;
        if (!(endpoint & 0x80)) {
            if (connection->slot->stalled) {
                std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
                return aErrTimeout;
            }
            connection->module->receive(data, length);
            *transferred = length;
            return aErrNone;
        }
        // IN: the module's own timers run while the host waits for its bytes.
        uint64_t deadline = moduleClockMs() + timeoutMs;
        for (;;) {
            uint64_t now = moduleClockMs();
            connection->module->tick(now);
            // Checked outside the connection's lock: the module's output takes
            // that lock under the module's own.
            if (connection->dead()) return aErrIO;
            std::unique_lock<std::mutex> lock(connection->mutex);
            if (!connection->in.empty()) {
                while (*transferred < length && !connection->in.empty()) {
                    data[(*transferred)++] = connection->in.front();
                    connection->in.pop_front();
                }
                return aErrNone;
            }
            if (now >= deadline) return aErrTimeout;
            uint64_t wait = std::min(deadline - now, kTickSliceMs);
            connection->arrived.wait_for(lock, std::chrono::milliseconds(wait));
        }
    }

    static void close(void* handle) {
        auto* connection = static_cast<Connection*>(handle);
        // A stale connection's module may already serve a newer one.
        if (!connection->stale()) connection->module->disconnect();
        delete connection;
    }
};

namespace {
const aStreamUSBBackend kBackend = {UsbBackendAccess::enumerate, UsbBackendAccess::readSerial,
                                    UsbBackendAccess::open,      UsbBackendAccess::resetPipe,
                                    UsbBackendAccess::transfer,  UsbBackendAccess::close};
} // namespace

ModuleUsbBus::ModuleUsbBus() {
    if (gBus) throw std::logic_error("one virtual USB bus at a time");
    gBus = this;
    aStreamUSB_SetBackend(&kBackend);
}

ModuleUsbBus::~ModuleUsbBus() {
    aStreamUSB_SetBackend(nullptr);
    gBus = nullptr;
    for (Slot* slot : slots_)
        delete slot;
}

void ModuleUsbBus::attach(VirtualModule& module) {
    std::lock_guard<std::mutex> lock(mutex_);
    slots_.push_back(new Slot{&module});
}

void ModuleUsbBus::setHeldElsewhere(const VirtualModule& module, bool held) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Slot* slot : slots_)
        if (slot->module == &module) slot->heldElsewhere = held;
}

void ModuleUsbBus::setStalled(const VirtualModule& module, bool stalled) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Slot* slot : slots_)
        if (slot->module == &module) slot->stalled = stalled;
}

void ModuleUsbBus::setPlugged(const VirtualModule& module, bool plugged) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Slot* slot : slots_)
        if (slot->module == &module && slot->plugged != plugged) {
            slot->plugged = plugged;
            if (plugged) continue;
            ++slot->unplugs;
            slot->module->disconnect(); // its output must no longer reach the old connection
        }
}

uint64_t ModuleUsbBus::opens(const VirtualModule& module) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Slot* slot : slots_)
        if (slot->module == &module) return slot->opens;
    return 0;
}

} // namespace Veltrano::Sim
