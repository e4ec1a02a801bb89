#include "UsbIpSdpDevice.h"

#include <algorithm>

#include "SdpRomHid.h"

namespace Veltrano::Sim {

namespace {

constexpr uint8_t kOutputReport = 2;

// One report of 8-bit fields: id, count, and whether it goes in or out.
void sReport(std::vector<uint8_t>& d, uint8_t id, uint16_t count, bool input) {
    d.insert(d.end(), {0x85, id, 0x09, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x96,
                       static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8)});
    d.insert(d.end(), {static_cast<uint8_t>(input ? 0x81 : 0x91), 0x02});
}

UsbIpDevice::Description sDescribe() {
    UsbIpDevice::Description d;
    d.vendorId = SdpRomHid::kVendorId;
    d.productId = SdpRomHid::kProductId;
    d.release = 0x0001;
    d.speed = UsbIpDevice::Speed::High;
    d.manufacturer = "i.MX";
    d.product = "Boot ROM (Veltrano emulation)";
    d.interfaceClass = 3; // HID, no boot protocol
    d.endpoints = {{UsbIpSdpDevice::kInEndpoint, 3, 64, 1, true}};
    d.hidReportDescriptor = sdpHidReportDescriptor();
    return d;
}

} // namespace

std::vector<uint8_t> sdpHidReportDescriptor() {
    std::vector<uint8_t> d = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01}; // vendor page, application
    sReport(d, kSdpCommandReport, 16, false);
    sReport(d, kSdpDataReport, 1024, false);
    sReport(d, kSdpHabReport, 4, true);
    sReport(d, kSdpStatusReport, kSdpReportPayload, true);
    d.push_back(0xC0);
    return d;
}

UsbIpSdpDevice::UsbIpSdpDevice(SdpRom& rom) : UsbIpDevice(sDescribe()), rom_(rom) {
    rom_.setSink([this](SdpRom::Part part, const std::vector<uint8_t>& bytes) {
        for (std::vector<uint8_t>& report : sdpHidAnswerReports(part, bytes))
            queueIn(kInEndpoint, std::move(report));
    });
    setPresent(true);
}

UsbIpSdpDevice::~UsbIpSdpDevice() {
    rom_.setSink(nullptr);
}

void UsbIpSdpDevice::setDataObserver(DataObserver observer) {
    std::lock_guard<std::mutex> lock(observerMutex_);
    dataObserver_ = std::move(observer);
}

size_t UsbIpSdpDevice::takeOut(uint8_t, const uint8_t*, size_t count) {
    return count; // no OUT endpoint: never called
}

bool UsbIpSdpDevice::setReport(uint8_t type, uint8_t id, const std::vector<uint8_t>& data) {
    if (type != kOutputReport) return false;
    if (id == kSdpCommandReport) {
        if (data.size() < SdpRom::kCommandSize) return false;
        uint8_t command[SdpRom::kCommandSize];
        std::copy(data.begin(), data.begin() + SdpRom::kCommandSize, command);
        rom_.command(command);
        return true;
    }
    if (id == kSdpDataReport) {
        uint32_t expected = rom_.dataExpected();
        bool started = dataBytes_ == 0 && expected > 0;
        rom_.data(data.data(), data.size());
        dataBytes_ += std::min<uint32_t>(expected, static_cast<uint32_t>(data.size()));
        bool done = expected > 0 && rom_.dataExpected() == 0;
        std::lock_guard<std::mutex> lock(observerMutex_);
        if (started && dataObserver_) dataObserver_(false, 0);
        if (done && dataObserver_) dataObserver_(true, dataBytes_);
        if (done) dataBytes_ = 0;
        return true;
    }
    return false;
}

std::optional<std::vector<uint8_t>> UsbIpSdpDevice::getReport(uint8_t type, uint8_t id) {
    // Nothing to say outside an answer: an idle report of zeros.
    if (type != 1 || (id != kSdpHabReport && id != kSdpStatusReport)) return std::nullopt;
    std::vector<uint8_t> report(1 + (id == kSdpHabReport ? 4 : kSdpReportPayload), 0);
    report[0] = id;
    return report;
}

} // namespace Veltrano::Sim
