// An SdpRom as the USB HID device the i.MX boot ROM enumerates as (0x1FC9:0x0130):
// output reports 1 (a 16-byte command) and 2 (up to 1024 data bytes) come by
// SET_REPORT on the control endpoint, as the host's HID driver sends them to a
// device without an interrupt OUT endpoint; the answers go out on interrupt IN
// 0x81 as report 3 (the HAB mode, 4 bytes) and report 4 (64 bytes: a status word,
// or READ_REGISTER data in 64-byte pieces). It has no serial string; it shows as
// "IMXROM".
//
// Threads: as UsbIpDevice; the ROM must outlive the device.
#pragma once

#include <functional>
#include <mutex>

#include "SdpRom.h"
#include "UsbIpDevice.h"

namespace Veltrano::Sim {

class UsbIpSdpDevice : public UsbIpDevice {
  public:
    static constexpr uint8_t kInEndpoint = 0x81;

    // On the bus from the start; serves rom through its sink.
    explicit UsbIpSdpDevice(SdpRom& rom);
    ~UsbIpSdpDevice() override;

    std::string label() const override { return "IMXROM"; }
    // Told as the data of a WRITE_FILE or DCD_WRITE begin to arrive (bytes 0) and
    // once all it announced arrived (bytes: how many), on the carrier thread.
    using DataObserver = std::function<void(bool done, uint32_t bytes)>;
    void setDataObserver(DataObserver observer);
    // The chip's ROM is running (or not).
    void setOnBus(bool onBus) { setPresent(onBus); }

  private:
    size_t takeOut(uint8_t endpoint, const uint8_t* data, size_t count) override;
    bool setReport(uint8_t type, uint8_t id, const std::vector<uint8_t>& data) override;
    std::optional<std::vector<uint8_t>> getReport(uint8_t type, uint8_t id) override;

    SdpRom& rom_;
    std::mutex observerMutex_;
    DataObserver dataObserver_;
    uint32_t dataBytes_ = 0; // of the data phase in progress (0: none)
};

// The report descriptor: reports 1 and 2 out, 3 and 4 in, in a vendor page.
std::vector<uint8_t> sdpHidReportDescriptor();

} // namespace Veltrano::Sim
