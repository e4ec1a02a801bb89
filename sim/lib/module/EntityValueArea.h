// The values of the entity classes that have a table of options (every class
// in EntityOptionTables): a store per class, index, option and subindex, each
// value as wide as its row says. A get of a value never set answers 0 (or an
// empty streamed value); a set stores the value and answers an empty reply; a
// call is counted. After an execute of an application (class 5), its result
// (option 2, as set here) follows unasked.
//
// Refused with an error reply, as a module refuses: an option the class lacks
// or a direction its row does not go (aErrInvalidOption); a request whose
// subindex or value is missing or of the wrong width, or a streamed set out of
// step (aErrSize). Reply faults: "entity.get", "entity.set".
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <tuple>
#include <vector>

#include "ModuleArea.h"
#include "UeiMessage.h"

namespace Veltrano::Halvorine {
struct EntityOption;
}

namespace Veltrano::Sim {

class EntityValueArea : public ModuleArea {
  public:
    static constexpr int kNoSubindex = -1;

    bool handle(VirtualModule& module, const ModuleFrame& frame) override;
    void reset() override;

    // Any thread. Scalar values by class, index, option and subindex.
    void setValue(uint8_t command, uint8_t index, uint8_t option, uint32_t value, int subindex = kNoSubindex);
    uint32_t value(uint8_t command, uint8_t index, uint8_t option, int subindex = kNoSubindex) const;
    // Streamed values (bytes and arrays) by class, index and option.
    void setBytes(uint8_t command, uint8_t index, uint8_t option, const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> bytes(uint8_t command, uint8_t index, uint8_t option) const;
    // How often the call (a set without value) was made.
    uint64_t calls(uint8_t command, uint8_t index, uint8_t option) const;

  private:
    using Entity = std::tuple<uint8_t, uint8_t, uint8_t>; // command, index, option
    using Slot = std::tuple<uint8_t, uint8_t, uint8_t, int>;

    void get(VirtualModule& module, const UeiRequest& request, const Halvorine::EntityOption& row);
    void set(VirtualModule& module, const UeiRequest& request, const Halvorine::EntityOption& row);
    void setStreamed(VirtualModule& module, const UeiRequest& request);
    void refuse(VirtualModule& module, const UeiRequest& request, uint8_t error);
    void sendResult(VirtualModule& module, const UeiRequest& request);

    mutable std::mutex mutex_;
    std::map<Slot, uint32_t> values_;
    std::map<Entity, std::vector<uint8_t>> bytes_;
    std::map<Entity, uint64_t> calls_;
    std::map<Entity, UeiChunkCollector> incoming_; // streamed sets under way
};

} // namespace Veltrano::Sim
