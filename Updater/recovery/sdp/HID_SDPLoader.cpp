#include "HID_SDPLoader.h"

#include "SDPHidBackend.h"
#include "SDPResponse.h"
#include "UpdaterLog.h"

namespace {
// A device that never stops sending must not hold the reader for ever; no answer of
// the boot ROM comes near this.
constexpr int kMaxReportsPerResponse = 256;
} // namespace

HID_SDPLoader::HID_SDPLoader(uint16_t vendorId, uint16_t productId)
    : backend_(sdpHid_Backend()), vendorId_(vendorId), productId_(productId) {}

HID_SDPLoader::~HID_SDPLoader() {
    if (device_) backend_->close(device_);
    if (initialised_) backend_->exit();
}

bool HID_SDPLoader::openDevice() {
    if (device_) return true;
    if (!initialised_) initialised_ = backend_->init() == 0;
    device_ = backend_->open(vendorId_, productId_);
    updaterLog(DEBUG_iMXSerial, "handle: %p\n", device_);
    return device_ != nullptr;
}

int HID_SDPLoader::writePacket(const std::vector<uint8_t>& packet) {
    if (!device_ || packet.empty()) return -1;
    return backend_->write(device_, packet.data(), packet.size());
}

int HID_SDPLoader::readResponse(std::vector<uint8_t>& out, uint32_t ms) {
    if (!device_) return 0;
    size_t total = 0;
    for (int reports = 0; reports < kMaxReportsPerResponse; ++reports) {
        uint8_t report[kSdpHidReportSize] = {};
        if (backend_->readTimeout(device_, report, sizeof report, static_cast<int>(ms)) <= 0) break;
        total += sdpHid_AppendReport(out, report);
    }
    return static_cast<int>(total);
}

bool HID_SDPLoader::statusWord(const std::vector<uint8_t>& response, uint32_t index, uint32_t& status) {
    return sdpHid_StatusWord(response, index, status);
}
