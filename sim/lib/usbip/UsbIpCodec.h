// The USB/IP wire format between a virtual host controller and a device: 48-byte
// big-endian headers. The host sends CMD_SUBMIT (an URB: endpoint, direction,
// setup packet for control, then the OUT data) and CMD_UNLINK (cancel an URB by
// its sequence number); the device answers RET_SUBMIT (status, length, then the
// IN data) and RET_UNLINK. Pure functions and a parser for a byte stream.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace Veltrano::Sim::UsbIp {

constexpr size_t kHeaderSize = 48;
constexpr uint32_t kCmdSubmit = 1;
constexpr uint32_t kCmdUnlink = 2;
constexpr uint32_t kRetSubmit = 3;
constexpr uint32_t kRetUnlink = 4;
constexpr uint32_t kDirOut = 0;
constexpr uint32_t kDirIn = 1;
// Larger OUT buffers are taken as a broken stream, not allocated.
constexpr uint32_t kMaxBufferLength = 16u << 20;
// Linux errno values as URB statuses travel (negated).
constexpr int32_t kStatusStall = -32;     // EPIPE
constexpr int32_t kStatusUnlinked = -104; // ECONNRESET

// The 8-byte setup packet of a control transfer (little-endian fields).
struct Setup {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;

    static Setup decode(const std::array<uint8_t, 8>& bytes);
    std::array<uint8_t, 8> encode() const;
    bool deviceToHost() const { return requestType & 0x80; }
};

struct Submit {
    uint32_t seqnum = 0;
    uint32_t devid = 0;
    uint32_t direction = kDirOut;
    uint32_t ep = 0; // endpoint number, without the direction bit
    uint32_t transferFlags = 0;
    uint32_t bufferLength = 0;
    uint32_t startFrame = 0;
    uint32_t numberOfPackets = 0;
    uint32_t interval = 0;
    std::array<uint8_t, 8> setup{};
    std::vector<uint8_t> data; // OUT only: bufferLength bytes

    // The endpoint address as descriptors name it (0x81 for IN 1).
    uint8_t address() const { return static_cast<uint8_t>(ep | (direction == kDirIn ? 0x80 : 0)); }
};

struct Unlink {
    uint32_t seqnum = 0;
    uint32_t devid = 0;
    uint32_t direction = kDirOut;
    uint32_t ep = 0;
    uint32_t victim = 0; // the seqnum of the URB to cancel
};

using Request = std::variant<Submit, Unlink>;

struct RetSubmit {
    uint32_t seqnum = 0;
    int32_t status = 0;
    uint32_t actualLength = 0;
    uint32_t startFrame = 0;
    uint32_t numberOfPackets = 0;
    uint32_t errorCount = 0;
    std::vector<uint8_t> data; // IN only
};

struct RetUnlink {
    uint32_t seqnum = 0;
    int32_t status = 0;
};

using Reply = std::variant<RetSubmit, RetUnlink>;

// The device's answers. An IN answer carries data (its length is the actual
// length); an OUT answer carries the count taken and no data.
std::vector<uint8_t> encodeRetSubmit(const Submit& request, int32_t status, const std::vector<uint8_t>& in,
                                     uint32_t outTaken = 0);
std::vector<uint8_t> encodeRetUnlink(uint32_t seqnum, int32_t status);

// The host's requests (what a test or a fuzzer plays as the kernel).
std::vector<uint8_t> encode(const Submit& submit);
std::vector<uint8_t> encode(const Unlink& unlink);

// Cuts a byte stream into requests or replies. A stream that breaks the format
// (an unknown command, an isochronous or oversized URB) stays failed: nothing
// more comes out, and error() says why.
template <typename Message> class StreamParser {
  public:
    void feed(const uint8_t* bytes, size_t count);
    std::optional<Message> next();
    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }

  private:
    std::vector<uint8_t> buffer_;
    size_t at_ = 0;
    std::string error_;
};

using RequestParser = StreamParser<Request>;
using ReplyParser = StreamParser<Reply>;

extern template class StreamParser<Request>;
extern template class StreamParser<Reply>;

} // namespace Veltrano::Sim::UsbIp
