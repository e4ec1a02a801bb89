// A fake USB bus behind the USB backend seam: devices described in the test, scripted IN
// transfers and a chosen behaviour for OUT transfers, with a log of what was asked.
#ifndef TESTS_STREAM_FAKE_USB_H
#define TESTS_STREAM_FAKE_USB_H

#include "aStreamUSBBackend.h"
#include "aStreamUSBModules.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

class FakeUSB {
  public:
    struct Device {
        aStreamUSBDevice description;
        std::string serial;
        aErr openResult = aErrNone;
    };
    struct InTransfer {
        aErr result;
        std::string bytes;
    };
    struct OutCall {
        uint8 endpoint;
        uint32 offered;    // the chunk's size
        std::string moved; // the bytes that went out
    };
    // What an OUT transfer of the given bytes does: its answer and how many bytes moved.
    using OutBehaviour = std::function<aErr(const std::string& offered, uint32* moved)>;

    FakeUSB() {
        current() = this;
        aStreamUSB_SetBackend(&kBackend);
    }
    ~FakeUSB() {
        aStreamUSB_SetBackend(nullptr);
        current() = nullptr;
    }
    FakeUSB(const FakeUSB&) = delete;
    FakeUSB& operator=(const FakeUSB&) = delete;

    // A module as the maker builds it: vendor id, module interface with a bulk IN, a bulk
    // OUT and an interrupt endpoint, behind a first interface of another class.
    static Device module(const std::string& serial, uint16 productId = 0x0013, uint16 outMax = 512,
                         uint16 inMax = 512) {
        Device d;
        std::memset(&d.description, 0, sizeof d.description);
        d.description.vendorId = aStreamUSB_GetVendorId();
        d.description.productId = productId;
        d.description.interfaceCount = 2;
        aStreamUSBInterface& other = d.description.interfaces[0];
        other.number = 0;
        other.interfaceClass = 0x02;
        aStreamUSBInterface& m = d.description.interfaces[1];
        m.number = 1;
        m.interfaceClass = aSTREAM_USB_MODULE_CLASS;
        m.subClass = aSTREAM_USB_MODULE_SUBCLASS;
        m.protocol = aSTREAM_USB_MODULE_PROTOCOL;
        m.endpointCount = 3;
        m.endpoints[0] = {0x81, aSTREAM_USB_BULK, inMax};
        m.endpoints[1] = {0x02, aSTREAM_USB_BULK, outMax};
        m.endpoints[2] = {0x83, aSTREAM_USB_INTERRUPT, 16};
        d.serial = serial;
        return d;
    }

    std::vector<Device> devices;
    bool noUSB = false;
    aErr resetResult = aErrNone;
    std::deque<InTransfer> in;
    OutBehaviour out = [](const std::string& offered, uint32* moved) {
        *moved = static_cast<uint32>(offered.size());
        return aErrNone;
    };

    // What was asked of the backend.
    std::vector<std::string> serialsRead;
    std::vector<uint8> openedInterfaces;
    std::vector<uint8> resetPipes;
    std::vector<uint32> inLengths;
    std::vector<uint32> timeouts;
    std::vector<OutCall> outCalls;
    int closes = 0;

    std::string sent() const {
        std::string all;
        for (const OutCall& c : outCalls) all += c.moved;
        return all;
    }

  private:
    static FakeUSB*& current() {
        static FakeUSB* fake = nullptr;
        return fake;
    }
    static Device* device(const aStreamUSBDevice* d) { return static_cast<Device*>(d->backendDevice); }

    static aErr sEnumerate(aStreamUSBVisitProc visit, void* ref) {
        FakeUSB* f = current();
        if (f->noUSB) return aErrNotFound;
        for (Device& d : f->devices) {
            d.description.backendDevice = &d;
            if (!visit(&d.description, ref)) break;
        }
        return aErrNone;
    }
    static aErr sReadSerial(const aStreamUSBDevice* d, char* text, uint32 size) {
        current()->serialsRead.push_back(device(d)->serial);
        std::snprintf(text, size, "%s", device(d)->serial.c_str());
        return aErrNone;
    }
    static aErr sOpen(const aStreamUSBDevice* d, uint8 interfaceNumber, void** handle) {
        current()->openedInterfaces.push_back(interfaceNumber);
        if (device(d)->openResult != aErrNone) return device(d)->openResult;
        *handle = device(d);
        return aErrNone;
    }
    static aErr sResetPipe(void*, uint8 endpoint) {
        current()->resetPipes.push_back(endpoint);
        return current()->resetResult;
    }
    static aErr sTransfer(void*, uint8 endpoint, uint8* data, uint32 length, uint32* transferred,
                          uint32 timeoutMs) {
        FakeUSB* f = current();
        f->timeouts.push_back(timeoutMs);
        if (endpoint & 0x80) {
            f->inLengths.push_back(length);
            *transferred = 0;
            if (f->in.empty()) return aErrTimeout;
            InTransfer t = f->in.front();
            f->in.pop_front();
            std::memcpy(data, t.bytes.data(), t.bytes.size());
            *transferred = static_cast<uint32>(t.bytes.size());
            return t.result;
        }
        std::string offered(reinterpret_cast<char*>(data), length);
        aErr result = f->out(offered, transferred);
        f->outCalls.push_back({endpoint, length, offered.substr(0, *transferred)});
        return result;
    }
    static void sClose(void*) { current()->closes++; }

    static constexpr aStreamUSBBackend kBackend = {sEnumerate, sReadSerial, sOpen, sResetPipe, sTransfer, sClose};
};

#endif
