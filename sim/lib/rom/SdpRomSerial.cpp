#include "SdpRomSerial.h"

#include <algorithm>
#include <chrono>

namespace Veltrano::Sim {

namespace {

// The UART link's association: a host sends these four bytes and the ROM echoes them.
constexpr uint8_t kAssociation[] = {0x23, 0x45, 0x45, 0x23};

uint64_t sNowMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

SdpRomSerial::SdpRomSerial(SdpRom& rom, Settings settings) : rom_(rom), settings_(settings) {
    line_ = std::make_unique<SerialLine>([this](uint8_t byte, uint32_t) { receive(byte); },
                                         SerialLine::Settings{settings.paced});
    // Nothing reaches the line before its path is known, so no answer is due yet.
    SerialLine* line = line_.get();
    rom_.setSink(
        [line](SdpRom::Part, const std::vector<uint8_t>& bytes) { line->send(bytes.data(), bytes.size()); });
}

SdpRomSerial::~SdpRomSerial() {
    line_->stop();
    rom_.setSink(nullptr);
}

void SdpRomSerial::receive(uint8_t byte) {
    uint64_t now = sNowMs();
    if (!partial_.empty() && now - lastByteMs_ >= settings_.idleGapMs) {
        discarded_ += partial_.size();
        partial_.clear();
    }
    lastByteMs_ = now;
    if (partial_.empty() && rom_.dataExpected() > 0) {
        rom_.data(&byte, 1);
        return;
    }
    partial_.push_back(byte);
    if (partial_.size() == sizeof kAssociation &&
        std::equal(partial_.begin(), partial_.end(), kAssociation)) {
        partial_.clear();
        ++associations_;
        if (!rom_.left()) line_->send(kAssociation, sizeof kAssociation);
        return;
    }
    if (partial_.size() < SdpRom::kCommandSize) return;
    uint8_t command[SdpRom::kCommandSize];
    std::copy(partial_.begin(), partial_.end(), command);
    partial_.clear();
    rom_.command(command);
}

} // namespace Veltrano::Sim
