// The ISP boot ROM emulator served on a pseudo-terminal: what the host writes to
// path() goes through the ROM, and its answers come back on the same line.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "IspRom.h"
#include "SerialLine.h"

namespace Veltrano::Sim {

class IspRomLine {
  public:
    // Throws std::runtime_error when no pseudo-terminal can be made.
    IspRomLine(IspRomSettings rom, SerialLine::Settings line);
    ~IspRomLine();
    IspRomLine(const IspRomLine&) = delete;
    IspRomLine& operator=(const IspRomLine&) = delete;

    IspRom& rom() { return rom_; }
    SerialLine& line() { return *line_; }
    const std::string& path() const { return line_->path(); }

  private:
    IspRom rom_;
    std::atomic<SerialLine*> sender_{nullptr};
    std::unique_ptr<SerialLine> line_;
};

} // namespace Veltrano::Sim
