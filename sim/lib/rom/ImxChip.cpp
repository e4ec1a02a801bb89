#include "ImxChip.h"

#include <chrono>
#include <thread>

#include "SdpRomHid.h"
#include "SdpRomSerial.h"

namespace Veltrano::Sim {

namespace {

// How often the watcher looks for a reset or a reboot of the module. A reboot keeps
// the module away far longer, so its new serial number is in place before it returns.
constexpr auto kWatchPeriod = std::chrono::milliseconds(5);
constexpr char kBanner[] = "VT liveloader\r\n";
// A liveloader answers a reset before it goes: its reply has this long to leave.
constexpr auto kResetReplyTime = std::chrono::milliseconds(50);

} // namespace

ImxChip::ImxChip(Settings settings, ModuleUsbBus* bus)
    : settings_(std::move(settings)), bus_(bus), rom_(settings_.rom),
      module_(settings_.liveloaderIdentity()) {
    settings_.configureLiveloader(module_);
    if (bus_) {
        bus_->attach(module_);
        bus_->setPlugged(module_, false);
    }
    rom_.setJumpObserver([this](uint32_t address) { return jumped(address); });
    if (settings_.carrier == Carrier::Serial)
        serial_ = std::make_unique<SdpRomSerial>(rom_, SdpRomSerial::Settings{settings_.paced});
    else
        hid_ = std::make_unique<SdpRomHid>(rom_);
    watcher_ = std::thread([this] { watch(); });
}

ImxChip::~ImxChip() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    watcher_.join();
    // No jump may reach this chip from the line's thread while it goes.
    if (serial_) serial_->line().stop();
    serial_.reset();
    hid_.reset();
    rom_.setJumpObserver(nullptr);
    // Off the bus for good: the bus no longer looks at the module.
    if (bus_) bus_->setPlugged(module_, false);
}

ImxChip::State ImxChip::state() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

bool ImxChip::waitForState(State state, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return state_ == state; });
}

std::string ImxChip::serialPath() const {
    return serial_ ? serial_->path() : std::string();
}

bool ImxChip::holdsLiveloader() const {
    for (const auto& [address, bytes] : settings_.liveloaderImage)
        if (rom_.bytes(address, bytes.size()) != bytes) return false;
    return true;
}

bool ImxChip::jumped(uint32_t) {
    if (!settings_.leavesRom) return false;
    if (!holdsLiveloader()) return true;
    // The loader starts afresh with each jump.
    module_.setSerialNumber(settings_.liveloaderSerial);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        resetsSeen_ = module_.system().resets();
        rebootsSeen_ = module_.upgrade().counts().reboots;
        ++jumps_;
    }
    if (serial_) serial_->line().send(kBanner);
    if (bus_) bus_->setPlugged(module_, true);
    enter(State::Liveloader);
    return true;
}

void ImxChip::enter(State state) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_ = state;
    }
    changed_.notify_all();
}

void ImxChip::watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!changed_.wait_for(lock, kWatchPeriod, [this] { return stop_; })) {
        if (state_ != State::Liveloader) continue;
        uint64_t resets = module_.system().resets();
        uint64_t reboots = module_.upgrade().counts().reboots;
        if (reboots != rebootsSeen_) {
            rebootsSeen_ = reboots;
            module_.setSerialNumber(settings_.serialNumber);
            state_ = State::Firmware;
            changed_.notify_all();
        } else if (resets != resetsSeen_) {
            resetsSeen_ = resets;
            const uint64_t jumps = jumps_;
            lock.unlock();
            std::this_thread::sleep_for(kResetReplyTime);
            if (bus_) bus_->setPlugged(module_, false);
            rom_.restart();
            if (serial_) serial_->restart();
            lock.lock();
            // A jump that came once the ROM was back started the liveloader again.
            if (jumps_ == jumps) state_ = State::Rom;
            changed_.notify_all();
        }
    }
}

} // namespace Veltrano::Sim
