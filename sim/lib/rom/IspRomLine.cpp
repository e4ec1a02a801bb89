#include "IspRomLine.h"

namespace Veltrano::Sim {

IspRomLine::IspRomLine(IspRomSettings rom, SerialLine::Settings line) : rom_(std::move(rom)) {
    line_ = std::make_unique<SerialLine>(
        [this](uint8_t byte, uint32_t hostBaud) {
            IspBusy busy;
            std::string reply = rom_.receive(byte, hostBaud, &busy);
            SerialLine* sender = sender_.load();
            if (!sender) return;
            if (busy.ms == 0) {
                if (!reply.empty()) sender->send(reply);
                return;
            }
            sender->send(reply.substr(0, busy.at));
            sender->holdReceiver(busy.ms, reply.substr(busy.at));
        },
        line);
    sender_ = line_.get();
}

IspRomLine::~IspRomLine() {
    line_->stop();
}

} // namespace Veltrano::Sim
