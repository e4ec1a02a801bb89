#include "UpgradeArea.h"

#include <algorithm>

#include "FirmwareImageTag.h"
#include "UeiMessage.h"
#include "VirtualModule.h"

namespace Veltrano::Sim {

namespace {

enum Step : uint8_t {
    kInit = 0,
    kData = 1,
    kLoad = 2,
    kPrepare = 3,
    kSum = 4,
    kWrite = 5,
    kReboot = 6,
    kStatus = 7,
};

constexpr uint8_t kUeiFlags = 0xC0;
constexpr uint8_t kMoreChunks = 0x80;
constexpr uint8_t kErrSize = 14;
constexpr uint8_t kErrUnimplemented = 21;
constexpr uint8_t kRefused = 1;
// The host's link is synced again by then; a reply sent while it still syncs
// would be taken for noise.
constexpr uint64_t kOwedLoadReplyDelayMs = 100;

void putBigEndian(std::vector<uint8_t>& out, uint32_t value, int width) {
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t bigEndian(const uint8_t* bytes, int width) {
    uint32_t value = 0;
    for (int i = 0; i < width; ++i)
        value = value << 8 | bytes[i];
    return value;
}

ModuleFrame reply(const ModuleFrame& request, std::vector<uint8_t> data) {
    return ModuleFrame{request.address, std::move(data)};
}

// A status reply: [5F 07 status value...].
ModuleFrame statusReply(const ModuleFrame& request, uint8_t status, uint32_t value = 0, int width = 0) {
    std::vector<uint8_t> data{UpgradeArea::kCommand, kStatus, status};
    putBigEndian(data, value, width);
    return reply(request, std::move(data));
}

// Overlays bytes at address onto the regions, joining every region they overlap
// or touch into one.
void overlay(UpgradeArea::Regions& regions, uint32_t address, const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return;
    uint64_t start = address;
    uint64_t end = start + bytes.size();
    auto first = regions.lower_bound(address);
    while (first != regions.begin()) {
        auto before = std::prev(first);
        if (before->first + uint64_t(before->second.size()) < start) break;
        first = before;
    }
    auto last = first;
    for (; last != regions.end() && last->first <= end; ++last) {
        start = std::min<uint64_t>(start, last->first);
        end = std::max<uint64_t>(end, last->first + uint64_t(last->second.size()));
    }
    std::vector<uint8_t> joined(end - start, 0xFF);
    for (auto it = first; it != last; ++it)
        std::copy(it->second.begin(), it->second.end(), joined.begin() + (it->first - start));
    std::copy(bytes.begin(), bytes.end(), joined.begin() + (address - start));
    regions.erase(first, last);
    regions.emplace(static_cast<uint32_t>(start), std::move(joined));
}

} // namespace

std::vector<uint8_t> contiguousImage(const UpgradeArea::Regions& regions) {
    if (regions.empty()) return {};
    uint64_t lowest = regions.begin()->first;
    const auto& highest = *regions.rbegin();
    std::vector<uint8_t> image(highest.first + uint64_t(highest.second.size()) - lowest, 0xFF);
    for (const auto& [address, bytes] : regions)
        std::copy(bytes.begin(), bytes.end(), image.begin() + (address - lowest));
    return image;
}

bool UpgradeArea::handle(VirtualModule& module, const ModuleFrame& frame) {
    const std::vector<uint8_t>& d = frame.data;
    if (frame.address != module.identity().address || d.size() < 2 || d[0] != kCommand) return false;
    return (d[1] & kUeiFlags) ? handleUeiData(module, frame) : handleStep(module, frame);
}

bool UpgradeArea::handleStep(VirtualModule& module, const ModuleFrame& frame) {
    const std::vector<uint8_t>& d = frame.data;
    switch (d[1]) {
    case kInit:
        init(module, frame);
        return true;
    case kPrepare:
        if (d.size() < 7) return false;
        prepare(module, frame);
        return true;
    case kData:
        data(module, frame);
        return true;
    case kSum:
        sum(module, frame);
        return true;
    case kWrite:
        if (d.size() < 4) return false;
        write(module, frame);
        return true;
    case kLoad:
        load(module, frame);
        return true;
    case kReboot:
        reboot(module);
        return true;
    default:
        return false;
    }
}

void UpgradeArea::init(VirtualModule& module, const ModuleFrame& frame) {
    std::vector<uint8_t> data{kCommand, kInit};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++counts_.inits;
        initialised_ = true;
        putBigEndian(data, settings_.loadBase, 4);
    }
    module.answer("upgrade.init", reply(frame, data), [&](uint8_t error) {
        return reply(frame, {kCommand, kInit, error});
    });
}

void UpgradeArea::prepare(VirtualModule& module, const ModuleFrame& frame) {
    uint16_t granted;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++counts_.prepares;
        if (!initialised_ && !settings_.loaderResident) {
            module.send(statusReply(frame, kRefused, 0, 2));
            return;
        }
        closeLoaderBlock();
        prepared_ = true;
        blockStart_ = blockAddress_ = bigEndian(&frame.data[3], 4);
        staged_.clear();
        blockBytes_.clear();
        blockWritten_ = false;
        sum_ = 0;
        granted = granted_ = settings_.blockSize;
    }
    module.answer("upgrade.prepare", statusReply(frame, 0, granted, 2),
                  [&](uint8_t error) { return statusReply(frame, error, granted, 2); });
}

void UpgradeArea::data(VirtualModule& module, const ModuleFrame& frame) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++counts_.dataPackets;
    }
    if (cutsConnection(module)) return;
    const uint8_t* bytes = frame.data.data() + 2;
    size_t n = frame.data.size() - 2;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (n == 0 || !mayStage(n)) {
            module.send(reply(frame, {kCommand, kData, 0}));
            return;
        }
    }
    std::optional<ReplyFault> fault = module.nextFault("upgrade.data");
    // A count the host does not recognise makes it send the chunk again: the
    // module kept none of it.
    if (!fault || fault->kind == ReplyFaultKind::NoReply || fault->kind == ReplyFaultKind::Late) {
        std::lock_guard<std::mutex> lock(mutex_);
        stage(bytes, n);
    }
    module.answerAs(fault, reply(frame, {kCommand, kData, static_cast<uint8_t>(n)}), [&](uint8_t error) {
        return reply(frame, {kCommand, kData, error});
    });
}

void UpgradeArea::sum(VirtualModule& module, const ModuleFrame& frame) {
    uint32_t total;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++counts_.sums;
        if (!prepared_) {
            module.send(statusReply(frame, kRefused, 0, 4));
            return;
        }
        total = sum_;
        sum_ = 0;
    }
    module.answer("upgrade.sum", statusReply(frame, 0, total, 4),
                  [&](uint8_t error) { return statusReply(frame, error, total, 4); });
}

void UpgradeArea::write(VirtualModule& module, const ModuleFrame& frame) {
    size_t n = bigEndian(&frame.data[2], 2);
    std::function<void(const Regions&)> observer;
    Regions flash;
    uint8_t status = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++counts_.writes;
        if (!prepared_ || n > staged_.size()) status = kRefused;
    }
    auto error = [&](uint8_t code) { return statusReply(frame, code); };
    if (status != 0) {
        module.send(error(status));
        return;
    }
    // A refused write writes nothing.
    std::optional<ReplyFault> fault = module.nextFault("upgrade.write");
    if (fault && fault->kind == ReplyFaultKind::ErrorReply) {
        module.answerAs(fault, statusReply(frame, 0), error);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<uint8_t> bytes(staged_.begin(), staged_.begin() + n);
        staged_.erase(staged_.begin(), staged_.begin() + n);
        overlay(flash_, blockAddress_, bytes);
        blockAddress_ += static_cast<uint32_t>(n);
        blockWritten_ = true;
        observer = flashObserver_;
        if (observer) flash = flash_;
    }
    if (observer) observer(flash);
    module.answerAs(fault, statusReply(frame, 0), error);
}

void UpgradeArea::load(VirtualModule& module, const ModuleFrame& frame) {
    LoadBehaviour behaviour;
    uint32_t awayMs;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++counts_.loads;
        if (!initialised_ && !settings_.loaderResident) {
            module.send(reply(frame, {kCommand, kLoad, kRefused}));
            return;
        }
        closeLoaderBlock();
        loaderRunning_ = true;
        behaviour = settings_.load;
        awayMs = settings_.loadAwayMs;
        if (behaviour == LoadBehaviour::DropAndReturn) {
            loadReplyOwed_ = true;
            loadReplyDueMs_ = 0;
        }
    }
    switch (behaviour) {
    case LoadBehaviour::Answer:
        module.answer("upgrade.load", reply(frame, {kCommand, kLoad}), [&](uint8_t error) {
            return reply(frame, {kCommand, kLoad, error});
        });
        break;
    case LoadBehaviour::DropAndReturn:
        module.goAway(awayMs, true);
        break;
    case LoadBehaviour::Silent:
        break;
    }
}

void UpgradeArea::reboot(VirtualModule& module) {
    uint32_t awayMs;
    bool returns;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++counts_.reboots;
        if (settings_.rebootIgnored) return;
        closeLoaderBlock();
        staged_.clear();
        blockBytes_.clear();
        prepared_ = false;
        initialised_ = false;
        loaderRunning_ = false;
        loadReplyOwed_ = false;
        awayMs = settings_.rebootAwayMs;
        returns = settings_.rebootReturns;
        if (settings_.imageTaken) bootFromFlash(module);
    }
    module.goAway(awayMs, returns);
}

void UpgradeArea::bootFromFlash(VirtualModule& module) {
    std::vector<uint8_t> image = contiguousImage(flash_);
    std::optional<FirmwareImageTag> tag = FirmwareImageTag::find(image.data(), image.size());
    if (tag) module.setFirmware(tag->version, tag->build);
    if (settings_.serialLocation == 0) return;
    // Only a serial number the update wrote counts; erased flash holds none.
    for (const auto& [address, bytes] : flash_) {
        uint64_t offset = uint64_t(settings_.serialLocation) - address;
        if (settings_.serialLocation < address || offset + 4 > bytes.size()) continue;
        const uint8_t* at = bytes.data() + offset;
        module.adoptSerialNumber(uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 |
                                 uint32_t(at[3]) << 24);
    }
}

bool UpgradeArea::handleUeiData(VirtualModule& module, const ModuleFrame& frame) {
    std::optional<UeiRequest> request = UeiRequest::parse(frame);
    if (!request || !request->set || request->option != kDataOption || request->index != 0) return false;
    if (request->tail.empty()) return true;
    uint8_t address = module.identity().address;
    if (!settings().ueiData) {
        // Refused once, after the value's last chunk.
        if (!(request->tail.back() & kMoreChunks))
            module.send(ueiReplyError(address, *request, kErrUnimplemented));
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++counts_.dataPackets;
    }
    if (cutsConnection(module)) return true;
    uint8_t last = request->tail.back();
    bool finished = false;
    bool inStep;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        inStep = (last & 0x7F) == ueiSequence_ && mayStage(request->tail.size() - 1);
        if (!inStep) {
            ueiSequence_ = 0;
        } else {
            stage(request->tail.data(), request->tail.size() - 1);
            ueiSequence_ = static_cast<uint8_t>((ueiSequence_ + 1) & 0x7F);
            finished = !(last & kMoreChunks);
            if (finished) {
                ++counts_.ueiDataSets;
                ueiSequence_ = 0;
            }
        }
    }
    auto error = [&](uint8_t code) { return ueiReplyError(address, *request, code); };
    if (!inStep)
        module.send(error(kErrSize)); // out of step: the whole value is refused
    else if (finished)
        module.answer("upgrade.uei", ueiReplyEmpty(address, *request), error);
    return true;
}

bool UpgradeArea::cutsConnection(VirtualModule& module) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++dataPacketsSeen_;
    if (settings_.disconnectAtData < 0 ||
        dataPacketsSeen_ != static_cast<uint64_t>(settings_.disconnectAtData) + 1)
        return false;
    if (settings_.disconnectAwayMs > 0)
        module.goAway(settings_.disconnectAwayMs, true);
    else
        module.dropConnection();
    return true;
}

bool UpgradeArea::mayStage(size_t n) const {
    if (!prepared_) return false;
    // A loader image goes whole into loader memory, never written block by block.
    return !loaderRunning_ || staged_.size() + n <= granted_;
}

void UpgradeArea::stage(const uint8_t* bytes, size_t n) {
    staged_.insert(staged_.end(), bytes, bytes + n);
    if (!loaderRunning_) blockBytes_.insert(blockBytes_.end(), bytes, bytes + n);
    for (size_t i = 0; i < n; ++i)
        sum_ += bytes[i];
}

void UpgradeArea::closeLoaderBlock() {
    if (!loaderRunning_ && !blockWritten_) overlay(loader_, blockStart_, blockBytes_);
    blockBytes_.clear();
}

void UpgradeArea::tick(VirtualModule& module, uint64_t nowMs) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!loadReplyOwed_) return;
        if (loadReplyDueMs_ == 0) loadReplyDueMs_ = nowMs + kOwedLoadReplyDelayMs;
        if (nowMs < loadReplyDueMs_) return;
        loadReplyOwed_ = false;
    }
    module.send(ModuleFrame{module.identity().address, {kCommand, kLoad}});
}

uint64_t UpgradeArea::dueMs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!loadReplyOwed_) return kNever;
    return loadReplyDueMs_; // 0: at once, to start the delay
}

void UpgradeArea::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    closeLoaderBlock();
    staged_.clear();
    blockWritten_ = false;
    prepared_ = false;
    sum_ = 0;
    ueiSequence_ = 0;
    loadReplyDueMs_ = 0;
}

void UpgradeArea::configure(const Settings& settings) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_ = settings;
}

UpgradeArea::Settings UpgradeArea::settings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
}

UpgradeArea::Regions UpgradeArea::flash() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return flash_;
}

std::vector<uint8_t> UpgradeArea::flashBytes(uint32_t address, size_t n) const {
    std::vector<uint8_t> out(n, 0xFF);
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t from = address, to = from + n;
    for (const auto& [start, bytes] : flash_) {
        uint64_t lo = std::max<uint64_t>(from, start),
                 hi = std::min<uint64_t>(to, start + uint64_t(bytes.size()));
        for (uint64_t a = lo; a < hi; ++a)
            out[a - from] = bytes[a - start];
    }
    return out;
}

UpgradeArea::Regions UpgradeArea::loaderImage() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return loader_;
}

UpgradeArea::Counts UpgradeArea::counts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_;
}

void UpgradeArea::onFlashWritten(std::function<void(const Regions& flash)> observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    flashObserver_ = std::move(observer);
}

} // namespace Veltrano::Sim
