#include "UsbIpImxChip.h"

#include <chrono>

namespace Veltrano::Sim {

namespace {

constexpr auto kWatchPeriod = std::chrono::milliseconds(5);

} // namespace

UsbIpImxChip::UsbIpImxChip(Settings settings)
    : settings_(std::move(settings)), rom_(settings_.rom), module_(settings_.liveloaderIdentity()),
      romDevice_(rom_), loaderDevice_(module_, false) {
    settings_.configureLiveloader(module_);
    rom_.setJumpObserver([this](uint32_t) { return jumped(); });
    watcher_ = std::thread([this] { watch(); });
}

UsbIpImxChip::~UsbIpImxChip() {
    stop_ = true;
    watcher_.join();
    rom_.setJumpObserver(nullptr);
}

// Called on the ROM device's carrier thread: the loader starts afresh.
bool UsbIpImxChip::jumped() {
    module_.setSerialNumber(settings_.liveloaderSerial);
    resetsSeen_ = module_.system().resets();
    rebootsSeen_ = module_.upgrade().counts().reboots;
    loaderRunning_ = true;
    leaveAtMs_ = moduleClockMs() + settings_.leaveDelayMs;
    loaderDevice_.setPlugged(true);
    return true;
}

void UsbIpImxChip::watch() {
    while (!stop_) {
        uint64_t leaveAt = leaveAtMs_;
        if (leaveAt && moduleClockMs() >= leaveAt) {
            leaveAtMs_ = 0;
            romDevice_.setOnBus(false);
        }
        if (loaderRunning_) {
            uint64_t reboots = module_.upgrade().counts().reboots;
            uint64_t resets = module_.system().resets();
            if (reboots != rebootsSeen_) {
                rebootsSeen_ = reboots;
                loaderRunning_ = false; // the firmware runs from now on
                module_.setSerialNumber(settings_.serialNumber);
            } else if (resets != resetsSeen_) {
                resetsSeen_ = resets;
                loaderRunning_ = false;
                loaderDevice_.setPlugged(false);
                rom_.restart();
                romDevice_.setOnBus(true);
            }
        }
        std::this_thread::sleep_for(kWatchPeriod);
    }
}

} // namespace Veltrano::Sim
