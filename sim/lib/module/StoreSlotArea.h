// Store slots (command 4): numbered stores of numbered slots, each a file of
// bytes up to its capacity. Capacity [4, 1, store, slot] and size [4, 2, ...]
// answer [.., high, low]; opening for reading [4, 3, store, slot] or writing
// [4, 4, ...] answers [.., handle]; a read [4, 6, handle] answers [4, 6,
// handle, up to 24 bytes]; a write [4, 7, handle, 1-25 bytes] answers [4, 7,
// handle, checksum]; a close [4, 8, handle] answers [4, 8, handle, 0] and puts
// what was written in place. Error replies set bit 7 of the option byte and
// carry the code after store and slot, or after the handle.
// Reply faults: "store.capacity", "store.size", "store.open", "store.read",
// "store.write" (corrupt: the checksum), "store.close".
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "ModuleArea.h"

namespace Veltrano::Sim {

class StoreSlotArea : public ModuleArea {
  public:
    static constexpr uint8_t kCommand = 4;

    bool handle(VirtualModule& module, const ModuleFrame& frame) override;
    void reset() override;

    // Any thread.
    void setSlot(uint8_t store, uint8_t slot, uint16_t capacity, const std::vector<uint8_t>& bytes = {});
    std::vector<uint8_t> slot(uint8_t store, uint8_t slot) const;
    // Byte counts of the write chunks received, in order.
    std::vector<size_t> writeChunks() const;
    // Slots opened and not closed yet.
    size_t openSlots() const;

  private:
    struct Slot {
        uint16_t capacity = 0;
        std::vector<uint8_t> bytes;
    };
    struct Open {
        std::pair<uint8_t, uint8_t> slot;
        bool write = false;
        size_t offset = 0;
        std::vector<uint8_t> written;
    };
    void slotRequest(VirtualModule& module, const ModuleFrame& frame);
    void handleRequest(VirtualModule& module, const ModuleFrame& frame);

    mutable std::mutex mutex_;
    std::map<std::pair<uint8_t, uint8_t>, Slot> slots_;
    std::map<uint8_t, Open> open_;
    uint8_t nextHandle_ = 1;
    std::vector<size_t> writeChunks_;
};

} // namespace Veltrano::Sim
