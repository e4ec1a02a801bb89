// An SdpRom as the USB HID device the chip's ROM enumerates as (0x1FC9:0x0130),
// served in-process through the HID seam beneath HID_SDPLoader (SDPHidBackend.h):
// report 1 carries a command, report 2 data; the ROM answers with report 3 (HAB
// mode: id and 4 bytes) and report 4 (id and 64 bytes: a status word, or the data
// of READ_REGISTER in 64-byte pieces).
//
// Installed for its lifetime; one at a time. The device is there while the chip is
// in its ROM: once it left, opening fails and an open handle's writes fail.
//
// Threads: the host's calls come from any one thread at a time; the observers may
// be used from any thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "SdpRom.h"

namespace Veltrano::Sim {

// The ROM's reports: 1 and 2 from the host, 3 and 4 to it.
constexpr uint8_t kSdpCommandReport = 1;
constexpr uint8_t kSdpDataReport = 2;
constexpr uint8_t kSdpHabReport = 3;
constexpr uint8_t kSdpStatusReport = 4;
constexpr size_t kSdpReportPayload = 64; // of report 4

class SdpRomHid {
  public:
    static constexpr uint16_t kVendorId = 0x1FC9;
    static constexpr uint16_t kProductId = 0x0130;

    // Serves rom, which must outlive this. Throws std::logic_error when another is
    // installed.
    explicit SdpRomHid(SdpRom& rom);
    ~SdpRomHid();
    SdpRomHid(const SdpRomHid&) = delete;
    SdpRomHid& operator=(const SdpRomHid&) = delete;

    // The reports the host wrote, in order, report id included.
    std::vector<std::vector<uint8_t>> writtenReports() const;
    uint64_t opens() const;
    // True while the host holds the device open.
    bool isOpen() const;

    struct Access; // the seam's functions

  private:
    void queue(std::vector<uint8_t> report);

    SdpRom& rom_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::vector<uint8_t>> reports_; // answers waiting for the host
    std::vector<std::vector<uint8_t>> written_;
    uint64_t opens_ = 0;
    bool open_ = false;
};

// The ROM's answer bytes as the input reports that carry them: the HAB mode as
// report 3; a status or data as report 4, 64 bytes each (the last padded with 0).
std::vector<std::vector<uint8_t>> sdpHidAnswerReports(SdpRom::Part part, const std::vector<uint8_t>& bytes);

} // namespace Veltrano::Sim
