// Requests and replies of the entity convention, from the module's side: a
// request is command, option byte (0x40 get, 0x80 set), specifier (index | 0x20)
// and optional bytes; a reply echoes command, option and index and carries the
// value big-endian, or an error code with bit 7 of the specifier set.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "ModuleFrame.h"

namespace Veltrano::Sim {

struct UeiRequest {
    uint8_t command = 0;
    uint8_t option = 0; // the plain option code, 0..63
    bool get = false;
    bool set = false;
    uint8_t index = 0;
    std::vector<uint8_t> tail; // bytes after the specifier: subindex and/or value

    // Empty when the frame is not an entity request.
    static std::optional<UeiRequest> parse(const ModuleFrame& frame);
};

// Reply frames from the module at `address` to `request`.
ModuleFrame ueiReplyEmpty(uint8_t address, const UeiRequest& request);
// A reply carrying value in width bytes (1, 2 or 4), big-endian.
ModuleFrame ueiReplyValue(uint8_t address, const UeiRequest& request, uint32_t value, int width);
ModuleFrame ueiReplyError(uint8_t address, const UeiRequest& request, uint8_t error);
// The replies carrying a streamed value: chunks of at most 24 bytes, each
// followed by its sequence byte (bit 7: more follow). An empty value is one
// chunk without bytes.
std::vector<ModuleFrame> ueiReplyChunks(uint8_t address, const UeiRequest& request,
                                        const std::vector<uint8_t>& bytes);

// Gathers the chunks of a streamed set, in sequence.
class UeiChunkCollector {
  public:
    enum class Step {
        Ignored,   // a request without a sequence byte
        More,      // taken; more chunks announced
        Done,      // the last chunk: bytes() holds the whole value
        OutOfStep, // not the chunk expected: everything gathered is dropped
    };
    Step take(const UeiRequest& request);
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    void clear();

  private:
    std::vector<uint8_t> bytes_;
    uint8_t nextSequence_ = 0;
};

} // namespace Veltrano::Sim
