#include "UeiMessage.h"

#include <algorithm>

namespace Veltrano::Sim {

namespace {

constexpr uint8_t kGetFlag = 0x40;
constexpr uint8_t kSetFlag = 0x80;
constexpr uint8_t kSetReplyFlags = 0xC0;
constexpr uint8_t kRequestMark = 0x20;
constexpr uint8_t kErrorMark = 0x80;
constexpr size_t kChunkBytes = 24;
constexpr uint8_t kMoreChunks = 0x80;
constexpr uint8_t kSequenceBits = 0x7F;

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

std::vector<ModuleFrame> ueiReplyChunks(uint8_t address, const UeiRequest& request,
                                        const std::vector<uint8_t>& bytes) {
    std::vector<ModuleFrame> chunks;
    size_t sent = 0;
    uint8_t sequence = 0;
    do {
        size_t length = std::min(bytes.size() - sent, kChunkBytes);
        bool more = sent + length < bytes.size();
        ModuleFrame chunk = replyHead(address, request);
        chunk.data.insert(chunk.data.end(), bytes.begin() + sent, bytes.begin() + sent + length);
        chunk.data.push_back(static_cast<uint8_t>((sequence++ & kSequenceBits) | (more ? kMoreChunks : 0)));
        chunks.push_back(std::move(chunk));
        sent += length;
    } while (sent < bytes.size());
    return chunks;
}

UeiChunkCollector::Step UeiChunkCollector::take(const UeiRequest& request) {
    if (request.tail.empty()) return Step::Ignored;
    uint8_t last = request.tail.back();
    if ((last & kSequenceBits) != nextSequence_) {
        clear();
        return Step::OutOfStep;
    }
    bytes_.insert(bytes_.end(), request.tail.begin(), request.tail.end() - 1);
    nextSequence_ = static_cast<uint8_t>((nextSequence_ + 1) & kSequenceBits);
    if (last & kMoreChunks) return Step::More;
    nextSequence_ = 0;
    return Step::Done;
}

void UeiChunkCollector::clear() {
    bytes_.clear();
    nextSequence_ = 0;
}

} // namespace Veltrano::Sim
