// Module: what every module answers whatever its entities: the module
// information requests (command 0x49) and the echo test (command 23).
#include <cstring>

#include "Module.h"

namespace Veltrano::Halvorine {

namespace {
constexpr uint8 kInformation = 0x49;
constexpr uint8 kBuild = 0xFF;
constexpr uint8 kHasUEI = 1;
constexpr uint8 kClassQuantity = 4;
constexpr uint8 kSubClassQuantity = 5;
constexpr uint8 kEntityGroup = 6;
constexpr uint8 kEcho = 23;
} // namespace

aErr Module::request(const uint8* request, uint8 length, uint8 matchLength, uint8* reply,
                     uint8* replyLength) {
    if (!link_) return aErrConnection;
    aErr err = link_->sendPacket(address_, request[0], static_cast<uint8>(length - 1), request + 1);
    if (err != aErrNone) return err;
    *replyLength = matchLength;
    return link_->receivePacket(address_, request, replyLength, reply);
}

aErr Module::echoedValue(const uint8* request, uint8 length, uint8 echoLength, uint8* value) {
    uint8 reply[aPACKET_MAX_DATA];
    uint8 replyLength = 0;
    aErr err = this->request(request, length, 1, reply, &replyLength);
    if (err != aErrNone) return err;
    if (replyLength != echoLength + 1 || std::memcmp(reply, request, echoLength) != 0) return aErrUnknown;
    *value = reply[echoLength];
    return aErrNone;
}

aErr Module::getBuild(unsigned int* build) {
    if (!link_) return aErrInitialization;
    if (!build) return aErrParam;
    const uint8 ask[] = {kInformation, kBuild};
    uint8 reply[aPACKET_MAX_DATA];
    uint8 length = 0;
    aErr err = request(ask, sizeof ask, sizeof ask, reply, &length);
    if (err != aErrNone) return err;
    if (length != 6) return aErrSize;
    *build = static_cast<unsigned int>(reply[2]) << 24 | static_cast<unsigned int>(reply[3]) << 16 |
             static_cast<unsigned int>(reply[4]) << 8 | reply[5];
    return aErrNone;
}

aErr Module::hasUEI(unsigned char command, unsigned char option, unsigned char index,
                    unsigned char direction) {
    if (direction != 0 && direction != 0x40 && direction != 0x80) return aErrParam;
    const uint8 ask[] = {kInformation, kHasUEI, command, option, index, direction};
    uint8 status = 0;
    aErr err = echoedValue(ask, sizeof ask, 5, &status);
    return err != aErrNone ? err : status;
}

aErr Module::classQuantity(unsigned char command, unsigned char* count) {
    if (!count) return aErrParam;
    *count = 0;
    const uint8 ask[] = {kInformation, kClassQuantity, command};
    return echoedValue(ask, sizeof ask, sizeof ask, count);
}

aErr Module::subClassQuantity(unsigned char command, unsigned char index, unsigned char* count) {
    if (!count) return aErrParam;
    *count = 0;
    const uint8 ask[] = {kInformation, kSubClassQuantity, command, index};
    return echoedValue(ask, sizeof ask, sizeof ask, count);
}

aErr Module::entityGroup(unsigned char command, unsigned char index, unsigned char* group) {
    if (!group) return aErrParam;
    *group = 0;
    const uint8 ask[] = {kInformation, kEntityGroup, command, index};
    return echoedValue(ask, sizeof ask, sizeof ask, group);
}

aErr Module::debug(const unsigned char* data, unsigned char length) {
    if (length > 0 && !data) return aErrParam;
    uint8 ask[aPACKET_MAX_DATA] = {kEcho};
    if (length > aPACKET_MAX_DATA - 1) return aErrParam;
    if (length) std::memcpy(ask + 1, data, length);
    uint8 reply[aPACKET_MAX_DATA];
    uint8 replyLength = 0;
    aErr err = request(ask, static_cast<uint8>(length + 1), 1, reply, &replyLength);
    if (err != aErrNone) return err;
    if (replyLength != length + 1 || std::memcmp(reply, ask, replyLength) != 0) return aErrIO;
    return aErrNone;
}

} // namespace Veltrano::Halvorine
