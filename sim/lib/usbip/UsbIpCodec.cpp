#include "UsbIpCodec.h"

namespace Veltrano::Sim::UsbIp {

namespace {

uint32_t sGet32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void sPut32(std::vector<uint8_t>& out, uint32_t word) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(word >> shift));
}

// command, seqnum, devid, direction, ep
void sPutBasic(std::vector<uint8_t>& out, uint32_t command, uint32_t seqnum, uint32_t devid,
               uint32_t direction, uint32_t ep) {
    out.reserve(kHeaderSize);
    for (uint32_t word : {command, seqnum, devid, direction, ep})
        sPut32(out, word);
}

void sPad(std::vector<uint8_t>& out) {
    out.resize(kHeaderSize, 0);
}

// Whole messages at the front of the stream; nullopt while one is incomplete.
// A header that breaks the format sets error.
std::optional<Request> sTakeRequest(const uint8_t* p, size_t available, size_t& used, std::string& error) {
    uint32_t command = sGet32(p);
    if (command == kCmdUnlink) {
        used = kHeaderSize;
        return Unlink{sGet32(p + 4), sGet32(p + 8), sGet32(p + 12), sGet32(p + 16), sGet32(p + 20)};
    }
    if (command != kCmdSubmit) {
        error = "unknown command " + std::to_string(command);
        return std::nullopt;
    }
    Submit s;
    s.seqnum = sGet32(p + 4);
    s.devid = sGet32(p + 8);
    s.direction = sGet32(p + 12);
    s.ep = sGet32(p + 16);
    s.transferFlags = sGet32(p + 20);
    s.bufferLength = sGet32(p + 24);
    s.startFrame = sGet32(p + 28);
    s.numberOfPackets = sGet32(p + 32);
    s.interval = sGet32(p + 36);
    std::copy(p + 40, p + 48, s.setup.begin());
    if (s.direction > kDirIn || s.ep > 15) {
        error = "bad endpoint";
        return std::nullopt;
    }
    // Our devices have no isochronous endpoints: the count is 0 (or -1) for others.
    if (s.numberOfPackets != 0 && s.numberOfPackets != 0xFFFFFFFFu) {
        error = "isochronous URB";
        return std::nullopt;
    }
    if (s.bufferLength > kMaxBufferLength) {
        error = "oversized URB";
        return std::nullopt;
    }
    size_t dataLength = s.direction == kDirOut ? s.bufferLength : 0;
    if (available < kHeaderSize + dataLength) return std::nullopt;
    s.data.assign(p + kHeaderSize, p + kHeaderSize + dataLength);
    used = kHeaderSize + dataLength;
    return s;
}

std::optional<Reply> sTakeReply(const uint8_t* p, size_t available, size_t& used, std::string& error) {
    uint32_t command = sGet32(p);
    if (command == kRetUnlink) {
        used = kHeaderSize;
        return RetUnlink{sGet32(p + 4), static_cast<int32_t>(sGet32(p + 20))};
    }
    if (command != kRetSubmit) {
        error = "unknown command " + std::to_string(command);
        return std::nullopt;
    }
    RetSubmit r;
    r.seqnum = sGet32(p + 4);
    bool in = sGet32(p + 12) == kDirIn;
    r.status = static_cast<int32_t>(sGet32(p + 20));
    r.actualLength = sGet32(p + 24);
    r.startFrame = sGet32(p + 28);
    r.numberOfPackets = sGet32(p + 32);
    r.errorCount = sGet32(p + 36);
    if (r.actualLength > kMaxBufferLength) {
        error = "oversized reply";
        return std::nullopt;
    }
    size_t dataLength = in ? r.actualLength : 0;
    if (available < kHeaderSize + dataLength) return std::nullopt;
    r.data.assign(p + kHeaderSize, p + kHeaderSize + dataLength);
    used = kHeaderSize + dataLength;
    return r;
}

std::optional<Request> sTake(Request*, const uint8_t* p, size_t available, size_t& used, std::string& error) {
    return sTakeRequest(p, available, used, error);
}
std::optional<Reply> sTake(Reply*, const uint8_t* p, size_t available, size_t& used, std::string& error) {
    return sTakeReply(p, available, used, error);
}

} // namespace

Setup Setup::decode(const std::array<uint8_t, 8>& b) {
    return Setup{b[0], b[1], static_cast<uint16_t>(b[2] | b[3] << 8), static_cast<uint16_t>(b[4] | b[5] << 8),
                 static_cast<uint16_t>(b[6] | b[7] << 8)};
}

std::array<uint8_t, 8> Setup::encode() const {
    return {requestType,
            request,
            static_cast<uint8_t>(value),
            static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(index),
            static_cast<uint8_t>(index >> 8),
            static_cast<uint8_t>(length),
            static_cast<uint8_t>(length >> 8)};
}

std::vector<uint8_t> encodeRetSubmit(const Submit& request, int32_t status, const std::vector<uint8_t>& in,
                                     uint32_t outTaken) {
    bool isIn = request.direction == kDirIn;
    std::vector<uint8_t> out;
    // The host matches replies by seqnum alone; the direction tells a reader
    // whether data follow.
    sPutBasic(out, kRetSubmit, request.seqnum, 0, request.direction, 0);
    sPut32(out, static_cast<uint32_t>(status));
    sPut32(out, isIn ? static_cast<uint32_t>(in.size()) : outTaken);
    sPut32(out, 0); // start frame
    sPut32(out, request.numberOfPackets);
    sPut32(out, 0); // error count
    sPad(out);
    if (isIn) out.insert(out.end(), in.begin(), in.end());
    return out;
}

std::vector<uint8_t> encodeRetUnlink(uint32_t seqnum, int32_t status) {
    std::vector<uint8_t> out;
    sPutBasic(out, kRetUnlink, seqnum, 0, 0, 0);
    sPut32(out, static_cast<uint32_t>(status));
    sPad(out);
    return out;
}

std::vector<uint8_t> encode(const Submit& s) {
    std::vector<uint8_t> out;
    sPutBasic(out, kCmdSubmit, s.seqnum, s.devid, s.direction, s.ep);
    for (uint32_t word : {s.transferFlags, s.bufferLength, s.startFrame, s.numberOfPackets, s.interval})
        sPut32(out, word);
    out.insert(out.end(), s.setup.begin(), s.setup.end());
    if (s.direction == kDirOut) out.insert(out.end(), s.data.begin(), s.data.end());
    return out;
}

std::vector<uint8_t> encode(const Unlink& u) {
    std::vector<uint8_t> out;
    sPutBasic(out, kCmdUnlink, u.seqnum, u.devid, u.direction, u.ep);
    sPut32(out, u.victim);
    sPad(out);
    return out;
}

template <typename Message> void StreamParser<Message>::feed(const uint8_t* bytes, size_t count) {
    if (failed()) return;
    // Drop what was consumed before the buffer grows again.
    if (at_ > 0) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(at_));
        at_ = 0;
    }
    buffer_.insert(buffer_.end(), bytes, bytes + count);
}

template <typename Message> std::optional<Message> StreamParser<Message>::next() {
    size_t available = buffer_.size() - at_;
    if (failed() || available < kHeaderSize) return std::nullopt;
    size_t used = 0;
    std::optional<Message> message =
        sTake(static_cast<Message*>(nullptr), buffer_.data() + at_, available, used, error_);
    if (message) at_ += used;
    return message;
}

template class StreamParser<Request>;
template class StreamParser<Reply>;

} // namespace Veltrano::Sim::UsbIp
