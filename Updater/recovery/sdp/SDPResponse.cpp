#include "SDPResponse.h"

namespace {

constexpr uint8_t kHabReportId = 3;

uint32_t sLittleEndian(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

} // namespace

size_t sdpHid_AppendReport(std::vector<uint8_t>& out, const uint8_t (&report)[kSdpHidReportSize]) {
    size_t count = report[0] == kHabReportId ? kSdpHidHabReportSize : kSdpHidReportSize;
    out.insert(out.end(), report, report + count);
    return count;
}

bool sdpHid_StatusWord(const std::vector<uint8_t>& response, uint32_t index, uint32_t& status) {
    if (response.size() != kSdpHidResponseSize || index > 15) return false;
    status |= sLittleEndian(response.data() + index + 6);
    return true;
}

bool sdpSerial_StatusWord(const std::vector<uint8_t>& response, uint32_t index, uint32_t& status) {
    if (index >= 16 || response.size() < 4 * size_t(index) + 8) return false;
    status |= sLittleEndian(response.data() + index + 4);
    return true;
}
