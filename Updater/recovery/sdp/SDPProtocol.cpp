#include "SDPProtocol.h"

#include <algorithm>
#include <string>

#include "UpdaterLog.h"

namespace {

constexpr uint8_t kCommandReport = 1;
constexpr uint8_t kDataReport = 2;
constexpr size_t kCommandPacketSize = 17;
constexpr size_t kDataPerPacket = 1024;
constexpr uint16_t kWriteFile = 0x0404;
constexpr uint16_t kErrorStatus = 0x0505;
constexpr uint16_t kJumpAddress = 0x0B0B;
constexpr uint8_t kFormatWriteFile = 0x20;
constexpr int kHandshakeAttempts = 5;
constexpr uint32_t kAnswerMs = 100;
constexpr uint32_t kTransferComplete = 0x88888888;

void sPutBigEndian32(std::vector<uint8_t>& packet, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        packet[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

std::vector<uint8_t> sCommand(uint16_t type, uint32_t address, uint8_t format, uint32_t count) {
    std::vector<uint8_t> packet(kCommandPacketSize, 0);
    packet[0] = kCommandReport;
    packet[1] = static_cast<uint8_t>(type >> 8);
    packet[2] = static_cast<uint8_t>(type);
    sPutBigEndian32(packet, 3, address);
    packet[7] = format;
    sPutBigEndian32(packet, 8, count);
    return packet;
}

// The bytes as "%X " each, then a line end.
void sLogBytes(const std::vector<uint8_t>& bytes) {
    std::string text;
    char one[4];
    for (uint8_t byte : bytes) {
        snprintf(one, sizeof one, "%X ", byte);
        text += one;
    }
    updaterLog(DEBUG_iMXSerial, "%s\n", text.c_str());
}

} // namespace

void SDPProtocol::setLoader(std::unique_ptr<SDPLoader_Interface> loader) {
    if (!loader_) loader_ = std::move(loader);
}

bool SDPProtocol::openLoader() {
    return loader_ && loader_->openDevice();
}

bool SDPProtocol::sdpErrorStatus() {
    if (!loader_) return false;
    std::vector<uint8_t> command = sCommand(kErrorStatus, 0, 0, 0);
    for (int attempt = 0; attempt < kHandshakeAttempts; ++attempt) {
        int written = loader_->writePacket(command);
        updaterLog(DEBUG_iMXSerial, "bytesWritten: %zu\n", static_cast<size_t>(written));
        sLogBytes(command);
        std::vector<uint8_t> response;
        int read = loader_->readResponse(response, kAnswerMs);
        updaterLog(DEBUG_iMXSerial, "Read Data: %zd\n", static_cast<ssize_t>(read));
        sLogBytes(response);
        uint32_t status = 0;
        if (loader_->statusWord(response, 0, status)) return true;
    }
    updaterLog(DEBUG_iMXSerial, "Error: No ack from iMX device\n");
    return false;
}

int SDPProtocol::sdpWriteFile(uint32_t address, const std::vector<uint8_t>& data) {
    if (!sdpErrorStatus()) return kWriteNoHandshake;
    std::vector<uint8_t> command =
        sCommand(kWriteFile, address, kFormatWriteFile, static_cast<uint32_t>(data.size()));
    int written = loader_->writePacket(command);
    updaterLog(DEBUG_iMXSerial, "Write Res: %zd\n", static_cast<ssize_t>(written));
    sLogBytes(command);
    if (written != loader_->wholePacketCount(command)) return kWriteShort;

    int total = 0;
    size_t position = 0;
    for (int loop = 0; position < data.size(); ++loop) {
        std::vector<uint8_t> early;
        int read = loader_->readResponse(early, 0);
        updaterLog(DEBUG_iMXSerial, "Read Data: %zd\n", static_cast<ssize_t>(read));
        sLogBytes(early);
        if (read > 0) {
            updaterLog(DEBUG_iMXSerial, "Error while transfering loader. Aborting\n");
            return kWriteDeviceError;
        }
        size_t chunk = std::min(kDataPerPacket, data.size() - position);
        std::vector<uint8_t> packet;
        packet.reserve(chunk + 1);
        packet.push_back(kDataReport);
        packet.insert(packet.end(), data.begin() + position, data.begin() + position + chunk);
        position += chunk;
        written = loader_->writePacket(packet);
        total += written;
        updaterLog(DEBUG_iMXSerial, "Write Res: %zd , Total: %d, Loop: %d, tell: %ld, size: %zd\n",
                   static_cast<ssize_t>(written), total, loop, static_cast<long>(position),
                   static_cast<ssize_t>(packet.size()));
        if (written != loader_->wholePacketCount(packet)) return kWriteShort;
    }

    updaterLog(DEBUG_iMXSerial, "Written Bytes: %d\n", total);
    std::vector<uint8_t> response;
    loader_->readResponse(response, kAnswerMs);
    updaterLog(DEBUG_iMXSerial, "Data Read: \n");
    sLogBytes(response);
    uint32_t status = 0;
    if (loader_->statusWord(response, 0, status) && status == kTransferComplete) {
        updaterLog(DEBUG_iMXSerial, "Loader Transfer Successful\n");
        return kWriteOk;
    }
    updaterLog(DEBUG_iMXSerial, "Loader Transfer Unsuccessful\n");
    return kWriteBadCompletion;
}

bool SDPProtocol::sdpJumpAddress(uint32_t address, uint32_t* refusal) {
    if (!loader_) return false;
    std::vector<uint8_t> command = sCommand(kJumpAddress, address, 0, 0);
    int written = loader_->writePacket(command);
    updaterLog(DEBUG_iMXSerial, "Write Res: %zd\n", static_cast<ssize_t>(written));
    sLogBytes(command);
    std::vector<uint8_t> response;
    loader_->readResponse(response, kAnswerMs);
    updaterLog(DEBUG_iMXSerial, "Jump Response: \n");
    sLogBytes(response);
    uint32_t status = 0;
    if (!loader_->jumpRefusal(response, status)) return true;
    updaterLog(DEBUG_iMXSerial, "Error: jump refused, status 0x%08X\n", status);
    if (refusal) *refusal = status;
    return false;
}
