#include "UeiMessage.h"

namespace Veltrano::Sim {

namespace {

constexpr uint8_t kGetFlag = 0x40;
constexpr uint8_t kSetFlag = 0x80;
constexpr uint8_t kSetReplyFlags = 0xC0;
constexpr uint8_t kRequestMark = 0x20;
constexpr uint8_t kErrorMark = 0x80;

ModuleFrame replyHead(uint8_t address, const UeiRequest& request) {
    ModuleFrame frame;
    frame.address = address;
    uint8_t option = request.set ? static_cast<uint8_t>(request.option | kSetReplyFlags) : request.option;
    frame.data = {request.command, option, request.index};
    return frame;
}

void appendBigEndian(std::vector<uint8_t>& bytes, uint32_t value, int width) {
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<uint8_t>(value >> shift));
}

} // namespace

std::optional<UeiRequest> UeiRequest::parse(const ModuleFrame& frame) {
    if (frame.data.size() < 3 || !(frame.data[2] & kRequestMark)) return std::nullopt;
    UeiRequest request;
    request.command = frame.data[0];
    request.option = frame.data[1] & 0x3F;
    request.get = (frame.data[1] & kGetFlag) != 0;
    request.set = (frame.data[1] & kSetFlag) != 0;
    request.index = frame.data[2] & 0x1F;
    request.tail.assign(frame.data.begin() + 3, frame.data.end());
    return request;
}

ModuleFrame ueiReplyEmpty(uint8_t address, const UeiRequest& request) {
    return replyHead(address, request);
}

ModuleFrame ueiReplyValue(uint8_t address, const UeiRequest& request, uint32_t value, int width) {
    ModuleFrame frame = replyHead(address, request);
    appendBigEndian(frame.data, value, width);
    return frame;
}

ModuleFrame ueiReplyError(uint8_t address, const UeiRequest& request, uint8_t error) {
    ModuleFrame frame = replyHead(address, request);
    frame.data[2] |= kErrorMark;
    frame.data.push_back(error);
    return frame;
}

} // namespace Veltrano::Sim
