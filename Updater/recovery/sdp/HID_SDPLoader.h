// The boot ROM's serial download protocol over USB HID: commands and data go out as
// reports 1 and 2, answers come back as report 3 (HAB mode) and report 4 (status).
// The HID calls go through the table of SDPHidBackend.h.
#ifndef UPDATER_HID_SDPLOADER_H
#define UPDATER_HID_SDPLOADER_H

#include "SDPLoader_Interface.h"

struct SdpHidBackend;

class HID_SDPLoader : public SDPLoader_Interface {
  public:
    HID_SDPLoader(uint16_t vendorId, uint16_t productId);
    // Closes the device when open, then releases the HID layer.
    ~HID_SDPLoader() override;
    HID_SDPLoader(const HID_SDPLoader&) = delete;
    HID_SDPLoader& operator=(const HID_SDPLoader&) = delete;

    // Opens the first device with the vendor and product id.
    bool openDevice() override;
    // One report, its id included; -1 when the device is not open or the write failed.
    int writePacket(const std::vector<uint8_t>& packet) override;
    // Reads reports, each waiting at most ms, until none comes; report 3 counts as 5
    // bytes, any other as 65 (SDPResponse.h).
    int readResponse(std::vector<uint8_t>& out, uint32_t ms) override;
    // See sdpHid_StatusWord.
    bool statusWord(const std::vector<uint8_t>& response, uint32_t index, uint32_t& status) override;

  private:
    const SdpHidBackend* backend_;
    void* device_ = nullptr;
    bool initialised_ = false;
    uint16_t vendorId_;
    uint16_t productId_;
};

#endif
