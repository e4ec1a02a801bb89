#include "sdp_fixtures.h"

#include "UpdaterLog.h"

SdpLogCapture::SdpLogCapture() : file_(std::tmpfile()) {
    updaterLog_SetMask(DEBUG_iMXSerial);
    updaterLog_SetStream(file_);
}

SdpLogCapture::~SdpLogCapture() {
    updaterLog_SetStream(nullptr);
    if (file_) std::fclose(file_);
}

std::string SdpLogCapture::text() const {
    if (!file_) return {};
    std::fflush(file_);
    std::rewind(file_);
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0)
        text.append(buffer, n);
    std::fseek(file_, 0, SEEK_END);
    return text;
}

std::vector<uint8_t> sdpPattern(size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>((i * 7 + i / 251 + seed) & 0xFF);
    return bytes;
}

size_t sdpOccurrences(const std::string& text, const std::string& needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}
