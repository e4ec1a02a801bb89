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

} // namespace Veltrano::Sim
