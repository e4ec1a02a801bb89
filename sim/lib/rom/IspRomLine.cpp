#include "IspRomLine.h"

namespace Veltrano::Sim {

IspRomLine::IspRomLine(IspRomSettings rom, SerialLine::Settings line) : rom_(std::move(rom)) {
    line_ = std::make_unique<SerialLine>(
        [this](uint8_t byte, uint32_t hostBaud) {
            std::string reply = rom_.receive(byte, hostBaud);
            SerialLine* sender = sender_.load();
            if (!reply.empty() && sender) sender->send(reply);
        },
        line);
    sender_ = line_.get();
}

IspRomLine::~IspRomLine() {
    line_->stop();
}

} // namespace Veltrano::Sim
