#include "SdpRomHid.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "SDPHidBackend.h"

namespace Veltrano::Sim {

namespace {

SdpRomHid* gHid = nullptr;

} // namespace

struct SdpRomHid::Access {
    static int init() { return 0; }
    static int exit() { return 0; }

    static void* open(uint16_t vendorId, uint16_t productId) {
        if (!gHid || vendorId != kVendorId || productId != kProductId || gHid->rom_.left()) return nullptr;
        std::lock_guard<std::mutex> lock(gHid->mutex_);
        ++gHid->opens_;
        gHid->open_ = true;
        gHid->reports_.clear();
        return gHid;
    }

    static int write(void* device, const uint8_t* data, size_t length) {
        auto* hid = static_cast<SdpRomHid*>(device);
        if (hid != gHid || length == 0 || hid->rom_.left()) return -1;
        {
            std::lock_guard<std::mutex> lock(hid->mutex_);
            hid->written_.emplace_back(data, data + length);
        }
        if (data[0] == kSdpCommandReport && length >= 1 + SdpRom::kCommandSize) {
            uint8_t command[SdpRom::kCommandSize];
            std::memcpy(command, data + 1, sizeof command);
            hid->rom_.command(command);
        } else if (data[0] == kSdpDataReport) {
            hid->rom_.data(data + 1, length - 1);
        }
        return static_cast<int>(length);
    }

    static int readTimeout(void* device, uint8_t* data, size_t length, int ms) {
        auto* hid = static_cast<SdpRomHid*>(device);
        if (hid != gHid) return -1;
        std::unique_lock<std::mutex> lock(hid->mutex_);
        hid->arrived_.wait_for(lock, std::chrono::milliseconds(std::max(ms, 0)),
                               [hid] { return !hid->reports_.empty(); });
        if (hid->reports_.empty()) return 0;
        std::vector<uint8_t> report = std::move(hid->reports_.front());
        hid->reports_.pop_front();
        size_t n = std::min(length, report.size());
        std::memcpy(data, report.data(), n);
        return static_cast<int>(n);
    }

    static void close(void* device) {
        auto* hid = static_cast<SdpRomHid*>(device);
        if (hid != gHid) return;
        std::lock_guard<std::mutex> lock(hid->mutex_);
        hid->open_ = false;
    }
};

namespace {
const SdpHidBackend kBackend = {SdpRomHid::Access::init,  SdpRomHid::Access::open,
                                SdpRomHid::Access::write, SdpRomHid::Access::readTimeout,
                                SdpRomHid::Access::close, SdpRomHid::Access::exit};
} // namespace

SdpRomHid::SdpRomHid(SdpRom& rom) : rom_(rom) {
    if (gHid) throw std::logic_error("one SDP HID device at a time");
    gHid = this;
    rom_.setSink([this](SdpRom::Part part, const std::vector<uint8_t>& bytes) {
        for (std::vector<uint8_t>& report : sdpHidAnswerReports(part, bytes))
            queue(std::move(report));
    });
    sdpHid_SetBackend(&kBackend);
}

std::vector<std::vector<uint8_t>> sdpHidAnswerReports(SdpRom::Part part, const std::vector<uint8_t>& bytes) {
    std::vector<std::vector<uint8_t>> reports;
    if (part == SdpRom::Part::Hab) {
        reports.push_back({kSdpHabReport});
        reports.back().insert(reports.back().end(), bytes.begin(), bytes.end());
        return reports;
    }
    // A status, or data in whole reports.
    size_t at = 0;
    do {
        size_t n = std::min(kSdpReportPayload, bytes.size() - at);
        std::vector<uint8_t> report(1 + kSdpReportPayload, 0);
        report[0] = kSdpStatusReport;
        std::copy(bytes.begin() + at, bytes.begin() + at + n, report.begin() + 1);
        reports.push_back(std::move(report));
        at += n;
    } while (at < bytes.size());
    return reports;
}

SdpRomHid::~SdpRomHid() {
    sdpHid_SetBackend(nullptr);
    rom_.setSink(nullptr);
    gHid = nullptr;
}

void SdpRomHid::queue(std::vector<uint8_t> report) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.push_back(std::move(report));
    }
    arrived_.notify_all();
}

std::vector<std::vector<uint8_t>> SdpRomHid::writtenReports() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
}

uint64_t SdpRomHid::opens() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return opens_;
}

bool SdpRomHid::isOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

} // namespace Veltrano::Sim
