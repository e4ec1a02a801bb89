// A fixed ring for exactly one producer thread and one consumer thread, no
// lock. Positions are 16-bit and advance modulo Slots; one slot always stays
// empty, so a ring of Slots holds Slots - 1 entries and a push onto a full ring
// is refused. Each side publishes its position with an atomic exchange after
// touching the slot, so the other side sees the slot's contents first.
#ifndef HALVORINE_LOCKLESSQUEUE_SPSC_H
#define HALVORINE_LOCKLESSQUEUE_SPSC_H

#include <atomic>
#include <cstdint>
#include <utility>

namespace Veltrano::Halvorine {

template <class T, uint16_t Slots> class LocklessQueue_SPSC {
    static_assert(Slots >= 2, "one slot always stays empty");

  public:
    // Producer only. False (and entry left alone) when the ring is full.
    bool push(T& entry) {
        uint16_t write = write_.load(std::memory_order_relaxed);
        uint16_t next = advance(write);
        if (next == read_.load(std::memory_order_acquire)) return false;
        slots_[write] = std::move(entry);
        write_.exchange(next, std::memory_order_acq_rel);
        return true;
    }

    // Consumer only. False when the ring is empty.
    bool pop(T& entry) {
        uint16_t read = read_.load(std::memory_order_relaxed);
        if (read == write_.load(std::memory_order_acquire)) return false;
        entry = std::move(slots_[read]);
        slots_[read] = T();
        read_.exchange(advance(read), std::memory_order_acq_rel);
        return true;
    }

    // Either side; only a hint to the other side's view.
    bool empty() const {
        return read_.load(std::memory_order_acquire) == write_.load(std::memory_order_acquire);
    }

    static constexpr uint16_t capacity() { return Slots - 1; }

  private:
    static uint16_t advance(uint16_t position) { return static_cast<uint16_t>((position + 1) % Slots); }

    T slots_[Slots];
    std::atomic<uint16_t> read_{0};
    std::atomic<uint16_t> write_{0};
};

} // namespace Veltrano::Halvorine

#endif
