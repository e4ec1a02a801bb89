#include "SdpRomSerial.h"

#include <algorithm>

namespace Veltrano::Sim {

namespace {

// The UART link's association: a host sends these four bytes and the ROM echoes them.
constexpr uint8_t kAssociation[] = {0x23, 0x45, 0x45, 0x23};
constexpr uint32_t kAssociationWord = 0x23454523;

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

void SdpRomSerial::associate() {
    ++associations_;
    if (!rom_.left()) line_->send(kAssociation, sizeof kAssociation);
}

void SdpRomSerial::receive(uint8_t byte) {
    if (restarted_.exchange(false)) {
        associated_ = false;
        window_ = 0;
        partial_.clear();
    }
    if (!associated_) {
        window_ = window_ << 8 | byte;
        ++ignored_;
        if (window_ != kAssociationWord) return;
        ignored_ -= sizeof kAssociation;
        associated_ = true;
        associate();
        return;
    }
    if (partial_.empty() && rom_.dataExpected() > 0) {
        rom_.data(&byte, 1);
        return;
    }
    partial_.push_back(byte);
    if (partial_.size() == sizeof kAssociation &&
        std::equal(partial_.begin(), partial_.end(), kAssociation)) {
        partial_.clear();
        associate();
        return;
    }
    if (partial_.size() < SdpRom::kCommandSize) return;
    uint8_t command[SdpRom::kCommandSize];
    std::copy(partial_.begin(), partial_.end(), command);
    partial_.clear();
    rom_.command(command);
}

} // namespace Veltrano::Sim
