// The SDP answer decoding on arbitrary device bytes: HID reports appended as the
// loader keeps them, the status word of HID and serial responses, and a whole file
// write through HID_SDPLoader whose device answers with the input's reports. Every
// path ends with a known result and reads nothing outside the response.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "HID_SDPLoader.h"
#include "SDPHidBackend.h"
#include "SDPProtocol.h"
#include "SDPResponse.h"

namespace {

// The device's answers: reports taken from the input, one per read, then silence.
struct Script {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t at = 0;
};
Script gScript;

int sInit() {
    return 0;
}
void* sOpen(uint16_t, uint16_t) {
    return &gScript;
}
int sWrite(void*, const uint8_t*, size_t length) {
    return static_cast<int>(length);
}
// A length byte, then up to that many report bytes (at most the buffer).
int sRead(void*, uint8_t* data, size_t length, int) {
    if (gScript.at >= gScript.size) return 0;
    size_t n = std::min<size_t>(gScript.data[gScript.at++], length);
    n = std::min(n, gScript.size - gScript.at);
    std::memcpy(data, gScript.data + gScript.at, n);
    gScript.at += n;
    return static_cast<int>(n);
}
void sClose(void*) {}
int sExit() {
    return 0;
}
const SdpHidBackend kScripted = {sInit, sOpen, sWrite, sRead, sClose, sExit};

void check(bool condition) {
    if (!condition) std::abort();
}

void decodeDirectly(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    uint32_t index = size ? data[0] & 0x1F : 0;
    uint32_t status = 0;
    bool serial = sdpSerial_StatusWord(bytes, index, status);
    check(serial == (index < 16 && size >= 4 * size_t(index) + 8));
    bool hid = sdpHid_StatusWord(bytes, index, status);
    check(hid == (size == kSdpHidResponseSize && index <= 15));

    std::vector<uint8_t> appended;
    for (size_t at = 0; at < size; at += kSdpHidReportSize) {
        uint8_t report[kSdpHidReportSize] = {};
        std::memcpy(report, data + at, std::min(kSdpHidReportSize, size - at));
        size_t before = appended.size();
        size_t n = sdpHid_AppendReport(appended, report);
        check(n == (report[0] == 3 ? kSdpHidHabReportSize : kSdpHidReportSize));
        check(appended.size() == before + n);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    decodeDirectly(data, size);

    gScript = Script{data, size, 0};
    sdpHid_SetBackend(&kScripted);
    {
        SDPProtocol sdp;
        sdp.setLoader(std::make_unique<HID_SDPLoader>(0x1FC9, 0x0130));
        check(sdp.openLoader());
        int result = sdp.sdpWriteFile(0x20000400, std::vector<uint8_t>(2100, 0xA5));
        check(result == 0 || result == 2 || result == 3 || result == 4);
        sdp.sdpJumpAddress(0x20000400);
    }
    sdpHid_SetBackend(nullptr);
    return 0;
}
