// The transport beneath the i.MX boot ROM's serial download protocol: USB HID or a
// serial port. SDPProtocol owns one and builds the commands it carries.
#ifndef UPDATER_SDPLOADER_INTERFACE_H
#define UPDATER_SDPLOADER_INTERFACE_H

#include <cstdint>
#include <vector>

class SDPLoader_Interface {
  public:
    // Releases the transport.
    virtual ~SDPLoader_Interface() = default;
    // Opens the transport; false when it cannot be opened.
    virtual bool openDevice() = 0;
    // Sends one packet: byte 0 is the HID report id (1 command, 2 data), the rest the
    // command or data bytes. Answers the bytes written.
    virtual int writePacket(const std::vector<uint8_t>& packet) = 0;
    // Appends what the device sends within about ms to out; answers the count appended.
    virtual int readResponse(std::vector<uint8_t>& out, uint32_t ms) = 0;
    // ORs the status word of a complete response into status; false when the response
    // holds none. Callers use index 0.
    virtual bool statusWord(const std::vector<uint8_t>& response, uint32_t index, uint32_t& status) = 0;
    // The status a ROM that stays gives in answer to a jump; false when the
    // response is not such an answer (the code it jumped to started).
    virtual bool jumpRefusal(const std::vector<uint8_t>& response, uint32_t& status) {
        return statusWord(response, 0, status);
    }
    // What writePacket answers for the packet when it goes out whole.
    virtual int wholePacketCount(const std::vector<uint8_t>& packet) const {
        return static_cast<int>(packet.size());
    }
};

#endif
