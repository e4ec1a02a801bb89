// The boot ROM's serial download protocol over a serial port (UART boot mode): the
// packets go out without their report id, the answers come back as raw bytes.
//
// The port (a path; a name without "/" means /dev/NAME) is opened through the
// library's serial stream: held exclusively, raw 115200 8N1, its previous settings
// restored when the loader is destroyed.
#ifndef UPDATER_SERIAL_SDPLOADER_H
#define UPDATER_SERIAL_SDPLOADER_H

#include <cstdint>
#include <string>

#include "SDPLoader_Interface.h"

struct aStream;

class Serial_SDPLoader : public SDPLoader_Interface {
  public:
    explicit Serial_SDPLoader(const std::string& portName);
    // Closes the port when open.
    ~Serial_SDPLoader() override;
    Serial_SDPLoader(const Serial_SDPLoader&) = delete;
    Serial_SDPLoader& operator=(const Serial_SDPLoader&) = delete;

    // Prints "Unable to open Serial Port: <path>" on standard output when the port
    // cannot be opened. Then associates with the ROM, as its UART link wants
    // before any command: 23 45 45 23 out, the same four bytes back, tried a few
    // times; false (logged) when the ROM never answers.
    bool openDevice() override;
    // Writes the packet without its first byte. Each attempt may take 10 ms per byte
    // left plus 50 ms; the write stops with the count so far when an attempt moves
    // nothing or the port fails (hung up, closed).
    int writePacket(const std::vector<uint8_t>& packet) override;
    // Waits until the bytes written so far can have crossed the line at 115200 baud
    // (the port buffers more than the line carries), then ms, then takes bytes
    // until none comes for 60 ms (10 ms per byte plus 50), at most 4096.
    // With ms 0 (the poll before each data packet) it answers 0 at once when nothing
    // waits, so a quiet device costs no time per packet.
    int readResponse(std::vector<uint8_t>& out, uint32_t ms) override;
    // See sdpSerial_StatusWord.
    bool statusWord(const std::vector<uint8_t>& response, uint32_t index, uint32_t& status) override;
    // On a UART the started code may write at once: only HAB mode and a status
    // word, and nothing after them, are a ROM that stayed.
    bool jumpRefusal(const std::vector<uint8_t>& response, uint32_t& status) override;

    // The report id does not travel on the line.
    int wholePacketCount(const std::vector<uint8_t>& packet) const override {
        return packet.empty() ? 0 : static_cast<int>(packet.size()) - 1;
    }

    const std::string& path() const { return path_; }

  private:
    bool associate();

    std::string path_;
    aStream* stream_ = nullptr;
    // Monotonic time (microseconds) at which the last byte written is on the far end.
    uint64_t lineFreeUs_ = 0;
};

#endif
