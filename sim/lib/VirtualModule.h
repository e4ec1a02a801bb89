// An emulated module: it frames the host's bytes, hands each packet to its
// protocol areas and sends their answers through the connection that carries it
// (a socket, a pseudo-terminal, a socketpair; see ModuleSession). Faults can be
// injected into what it sends.
//
// Threads: one carrier thread at a time calls connect/receive/tick/disconnect;
// areas run under the module's lock. The observers (counts, faults, areas' own
// counters) may be used from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "HeartbeatArea.h"
#include "LinkControlArea.h"
#include "ModuleFaults.h"
#include "ModuleFrame.h"
#include "SystemArea.h"

namespace Veltrano::Sim {

struct ModuleIdentity {
    uint8_t address = 4;
    uint32_t serialNumber = 0x40F5849A;
    uint8_t model = 4;
    uint32_t version = 0x2F020F03; // 2.15.3, current packing
    uint32_t heartbeatIntervalMs = 0;
};

class VirtualModule {
  public:
    using Output = std::function<void(const uint8_t* bytes, size_t count)>;

    explicit VirtualModule(ModuleIdentity identity = {});
    VirtualModule(const VirtualModule&) = delete;
    VirtualModule& operator=(const VirtualModule&) = delete;

    // Carrier side. A connection starts with fresh framing, fault counters and
    // per-connection area state.
    void connect(Output output);
    void disconnect();
    void receive(const uint8_t* bytes, size_t count);
    void tick(uint64_t nowMs);
    // Monotonic time of the next tick needed, or ModuleArea::kNever.
    uint64_t dueMs() const;
    // True once the fault plan says this connection is to be closed.
    bool wantsClose() const;

    // Area side (called under the module's lock).
    const ModuleIdentity& identity() const { return identity_; }
    void send(const ModuleFrame& frame);

    // Any thread.
    void setFaults(const ModuleFaults& faults);
    void addArea(std::unique_ptr<ModuleArea> area);
    LinkControlArea& linkControl() { return *linkControl_; }
    HeartbeatArea& heartbeat() { return *heartbeat_; }
    SystemArea& system() { return *system_; }
    uint64_t packetsReceived() const;
    uint64_t bytesSent() const;

  private:
    void handleFrame(const ModuleFrame& frame);
    void answerUnknownRequest(const ModuleFrame& frame);
    bool silent() const;

    mutable std::mutex mutex_;
    const ModuleIdentity identity_;
    Output output_;
    ModuleFramer framer_;
    ModuleFaults faults_;
    bool hostSpoke_ = false;
    uint64_t connectionPackets_ = 0;
    uint64_t connectionBytesOut_ = 0;
    uint64_t totalPackets_ = 0;
    uint64_t totalBytesOut_ = 0;
    LinkControlArea* linkControl_;
    HeartbeatArea* heartbeat_;
    SystemArea* system_;
    std::vector<std::unique_ptr<ModuleArea>> areas_;
};

// Milliseconds of a monotonic clock, the time base of receive and tick.
uint64_t moduleClockMs();

} // namespace Veltrano::Sim
