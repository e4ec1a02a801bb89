#include "I2CClass.h"

#include <algorithm>
#include <cstring>

namespace Veltrano::Halvorine {

namespace {
constexpr uint8 kCommand = 8;
constexpr uint8 kReadBit = 0x01;
constexpr uint8 kPullup = 1;
constexpr uint8 kStatusError = 0x80;
constexpr uint8 kReplyHead = 5; // command, index, address, count, status
} // namespace

void I2CClass::init(Module* module, unsigned char index) {
    EntityClassOf<8>::init(module, index);
    speed_ = 0;
}

aErr I2CClass::transfer(const unsigned char* request, unsigned char length, const unsigned char* match,
                        unsigned char matchLength, unsigned char* reply, unsigned char* replyLength) {
    aErr err = sendPacket(request[0], static_cast<uint8>(length - 1), request + 1);
    if (err != aErrNone) return err;
    *replyLength = matchLength;
    err = receivePacket(match, replyLength, reply);
    if (err != aErrNone) return err;
    if (*replyLength < kReplyHead) return aErrPacket;
    uint8 status = reply[4];
    if (!(status & kStatusError)) return aErrNone;
    // An error flag without its code is still a failure.
    uint8 code = status & ~kStatusError;
    return code == aErrNone ? aErrUnknown : static_cast<aErr>(code);
}

aErr I2CClass::write(unsigned char address, unsigned char length, const unsigned char* data) {
    if (length > kMaxTransfer) return aErrSize;
    if (length > 0 && !data) return aErrParam;
    uint8 request[aPACKET_MAX_DATA] = {kCommand, getIndex(), address, length, speed_};
    if (length) std::memcpy(request + 5, data, length);
    const uint8 match[] = {kCommand, getIndex(), address, 0};
    uint8 reply[aPACKET_MAX_DATA];
    uint8 replyLength = 0;
    return transfer(request, static_cast<uint8>(5 + length), match, sizeof match, reply, &replyLength);
}

aErr I2CClass::read(unsigned char address, unsigned char length, unsigned char* data) {
    if (length > kMaxTransfer) return aErrSize;
    if (!data) return aErrParam;
    const uint8 request[] = {kCommand, getIndex(), static_cast<uint8>(address | kReadBit), length, speed_};
    uint8 reply[aPACKET_MAX_DATA];
    uint8 replyLength = 0;
    aErr err = transfer(request, sizeof request, request, 3, reply, &replyLength);
    if (err != aErrNone) return err;
    uint8 carried = static_cast<uint8>(replyLength - kReplyHead);
    uint8 count = reply[3];
    std::memcpy(data, reply + kReplyHead, std::min({count, carried, length}));
    // A count beyond the bytes the reply carries is a malformed reply.
    return count > carried ? aErrPacket : aErrNone;
}

aErr I2CClass::setPullup(bool enable) {
    const uint8 request[] = {kCommand, getIndex(), kPullup, static_cast<uint8>(enable ? 1 : 0)};
    uint8 reply[aPACKET_MAX_DATA];
    uint8 replyLength = 0;
    return transfer(request, sizeof request, request, 3, reply, &replyLength);
}

aErr I2CClass::setSpeed(unsigned char speed) {
    if (speed > kMaxSpeed) return aErrParam;
    speed_ = speed;
    return aErrNone;
}

aErr I2CClass::getSpeed(unsigned char* speed) {
    if (!speed) return aErrParam;
    *speed = speed_;
    return aErrNone;
}

} // namespace Veltrano::Halvorine
