// An emulated module: it frames the host's bytes, hands each packet to its
// protocol areas and sends their answers through the connection that carries it
// (a socket, a pseudo-terminal, a socketpair; see ModuleSession). Faults can be
// injected into what it sends.
//
// A module can be away (rebooting, restarting into its loader): it answers
// nothing, its connection ends, and every carrier shows it gone (no listener, no
// discovery answer, off the USB bus) until it comes back, if it does.
//
// Threads: one carrier thread at a time calls connect/receive/tick/disconnect;
// areas run under the module's lock. The observers (counts, faults, areas' own
// counters, presence) may be used from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "EntityValueArea.h"
#include "FactoryDataArea.h"
#include "HeartbeatArea.h"
#include "I2CArea.h"
#include "LinkControlArea.h"
#include "RouterArea.h"
#include "ModuleBus.h"
#include "ModuleFaults.h"
#include "ModuleFrame.h"
#include "StoreSlotArea.h"
#include "StreamArea.h"
#include "SystemArea.h"
#include "UpgradeArea.h"

namespace Veltrano::Sim {

struct ModuleIdentity {
    uint8_t address = 4;
    uint32_t serialNumber = 0x40F5849A;
    uint8_t model = 4;
    uint32_t version = 0x2F020F03; // 2.15.3, current packing
    uint32_t heartbeatIntervalMs = 0;
    uint32_t build = 4211;
};

// An identity with the usual firmware unless other is given.
inline ModuleIdentity moduleIdentity(uint32_t serialNumber, uint8_t model, uint8_t address,
                                     uint32_t version = 0x2F020F03, uint32_t build = 4211) {
    ModuleIdentity id;
    id.serialNumber = serialNumber;
    id.model = model;
    id.address = address;
    id.version = version;
    id.build = build;
    return id;
}

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
    // True once the fault plan or an area says this connection is to be closed.
    bool wantsClose() const;

    // Area side (called under the module's lock).
    const ModuleIdentity& identity() const { return identity_; }
    void send(const ModuleFrame& frame);
    // Ends the current connection without a word (a module that drops its link).
    void dropConnection();
    // Ends the current connection and stays away for awayMs, or for good.
    void goAway(uint32_t awayMs, bool returns);
    // The firmware it reports from now on (after a reboot into new firmware).
    void setFirmware(uint32_t version, uint32_t build);
    // The serial number it reports from now on (read from its flash at a reboot).
    void adoptSerialNumber(uint32_t serialNumber);
    // Sends the reply to a request of the named type as the fault plan says:
    // as it is, not at all, as error(code), with the byte at `checked` (the
    // last one by default) inverted, without its last byte, or as it is but late
    // (on this connection only).
    static constexpr size_t kLastByte = SIZE_MAX;
    void answer(const char* request, ModuleFrame reply, const std::function<ModuleFrame(uint8_t)>& error,
                size_t checked = kLastByte);
    // The same in two steps, for an area whose own action depends on the fault:
    // the fault planned for this request (the request is counted), then the
    // reply sent as that fault says.
    std::optional<ReplyFault> nextFault(const char* request);
    void answerAs(const std::optional<ReplyFault>& fault, ModuleFrame reply,
                  const std::function<ModuleFrame(uint8_t)>& error, size_t checked = kLastByte);

    // Any thread. The serial number it reports from now on (a loader that restarts
    // into the firmware of a module that has its own).
    void setSerialNumber(uint32_t serialNumber);
    // Any thread. The reply faults count requests from this call on.
    void setFaults(const ModuleFaults& faults);
    void addArea(std::unique_ptr<ModuleArea> area);
    // Offers frames to this area before any other (a stand-in for a built-in area).
    void addFirstArea(std::unique_ptr<ModuleArea> area);
    LinkControlArea& linkControl() { return *linkControl_; }
    HeartbeatArea& heartbeat() { return *heartbeat_; }
    SystemArea& system() { return *system_; }
    EntityValueArea& entityValues() { return *entityValues_; }
    I2CArea& i2c() { return *i2c_; }
    StoreSlotArea& storeSlots() { return *storeSlots_; }
    FactoryDataArea& factoryData() { return *factoryData_; }
    UpgradeArea& upgrade() { return *upgrade_; }
    StreamArea& stream() { return *stream_; }
    // True while the module is away.
    bool away() const;
    // Times the module went away so far: a carrier's connection from before a
    // departure is dead even once the module is back.
    uint64_t departures() const;
    // The identity as it stands (version and build change with a reboot).
    ModuleIdentity currentIdentity() const;
    // Puts another module on this module's I2C bus at its own address, which
    // makes this module a router: while routing to the host is on (system
    // option 20), packets to that address pass to it and its replies back.
    // The other module is driven only through this one from then on.
    void attachToBus(VirtualModule& module);
    uint64_t packetsReceived() const;
    uint64_t bytesSent() const;

  private:
    void handleFrame(const ModuleFrame& frame);
    void answerUnknownRequest(const ModuleFrame& frame);
    bool silent() const;
    bool awayNow() const;

    mutable std::mutex mutex_;
    ModuleIdentity identity_;
    Output output_;
    ModuleFramer framer_;
    ModuleFaults faults_;
    bool hostSpoke_ = false;
    bool onBus_ = false; // driven through a router's bus, not a carrier
    uint64_t connectionPackets_ = 0;
    uint64_t connectionBytesOut_ = 0;
    uint64_t totalPackets_ = 0;
    uint64_t totalBytesOut_ = 0;
    bool closeRequested_ = false;
    uint64_t awayUntilMs_ = 0; // monotonic; ModuleArea::kNever: for good
    uint64_t departures_ = 0;
    LinkControlArea* linkControl_;
    HeartbeatArea* heartbeat_;
    SystemArea* system_;
    EntityValueArea* entityValues_;
    ModuleBus bus_;
    I2CArea* i2c_;
    RouterArea* router_;
    StoreSlotArea* storeSlots_;
    FactoryDataArea* factoryData_;
    UpgradeArea* upgrade_;
    StreamArea* stream_;
    std::map<std::string, uint32_t> requestCounts_;    // per connection, for the reply faults
    std::multimap<uint64_t, ModuleFrame> lateReplies_; // by when they go, per connection
    std::vector<std::unique_ptr<ModuleArea>> areas_;
};

// Milliseconds of a monotonic clock, the time base of receive and tick.
uint64_t moduleClockMs();

} // namespace Veltrano::Sim
