// One packet as the module sees it on the wire: address, size, data. Unlike the
// host's receive side, the module accepts the odd control addresses (0xAD sync,
// 0xAF force route), so it frames bytes itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Veltrano::Sim {

constexpr uint8_t kSyncAddress = 0xAD;
constexpr uint8_t kForceRouteAddress = 0xAF;
constexpr size_t kMaxFrameData = 28;

struct ModuleFrame {
    uint8_t address = 0;
    std::vector<uint8_t> data;

    std::vector<uint8_t> wire() const;
};

// Assembles frames from the host's bytes. A size byte above 28 cannot start a
// frame: the framer drops the pair and starts again at the next byte.
class ModuleFramer {
  public:
    // Feeds one byte; true when it completed a frame (then taken with take()).
    bool feed(uint8_t byte);
    ModuleFrame take();
    size_t rejectedBytes() const { return rejected_; }

  private:
    enum class Stage { Address, Size, Data };
    Stage stage_ = Stage::Address;
    ModuleFrame frame_;
    size_t expected_ = 0;
    size_t rejected_ = 0;
};

} // namespace Veltrano::Sim
