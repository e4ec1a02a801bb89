#include "UsbIpDevice.h"

#include <algorithm>

namespace Veltrano::Sim {

using UsbIp::Setup;
using UsbIp::Submit;

namespace {

constexpr uint8_t kGetStatus = 0x00;
constexpr uint8_t kClearFeature = 0x01;
constexpr uint8_t kSetFeature = 0x03;
constexpr uint8_t kSetAddress = 0x05;
constexpr uint8_t kGetDescriptor = 0x06;
constexpr uint8_t kGetConfiguration = 0x08;
constexpr uint8_t kSetConfiguration = 0x09;
constexpr uint8_t kGetInterface = 0x0A;
constexpr uint8_t kSetInterface = 0x0B;
constexpr uint16_t kEndpointHalt = 0;

constexpr uint8_t kHidGetReport = 0x01;
constexpr uint8_t kHidGetIdle = 0x02;
constexpr uint8_t kHidGetProtocol = 0x03;
constexpr uint8_t kHidSetReport = 0x09;
constexpr uint8_t kHidSetIdle = 0x0A;
constexpr uint8_t kHidSetProtocol = 0x0B;

constexpr uint8_t kDescDevice = 1, kDescConfiguration = 2, kDescString = 3, kDescInterface = 4,
                  kDescEndpoint = 5, kDescHid = 0x21, kDescHidReport = 0x22;

enum Recipient { kToDevice = 0, kToInterface = 1, kToEndpoint = 2 };
enum RequestKind { kStandard = 0, kClass = 1 };

void sPut16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

} // namespace

UsbIpDevice::UsbIpDevice(Description description)
    : description_(std::move(description)), nextSerial_(description_.serial) {
    for (const Endpoint& e : description_.endpoints)
        endpoints_[e.address].endpoint = e;
}

UsbIpDevice::~UsbIpDevice() = default;

void UsbIpDevice::attach(Sink sink) {
    onAttach();
    std::lock_guard<std::mutex> lock(mutex_);
    description_.serial = nextSerial_;
    sink_ = std::move(sink);
    configuration_ = 0;
    for (auto& [address, state] : endpoints_) {
        state.halted = false;
        state.data.clear();
        state.pending.clear();
    }
}

void UsbIpDevice::detach() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sink_ = nullptr;
        for (auto& [address, state] : endpoints_)
            state.pending.clear();
    }
    onDetach();
}

void UsbIpDevice::handle(const UsbIp::Request& request) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (vanished_ || !sink_) return;
    }
    if (const auto* unlinkRequest = std::get_if<UsbIp::Unlink>(&request)) {
        unlink(*unlinkRequest);
        return;
    }
    const Submit& urb = std::get<Submit>(request);
    if (urb.ep == 0)
        control(urb);
    else if (urb.direction == UsbIp::kDirOut)
        bulkOut(urb);
    else
        bulkIn(urb);
}

UsbIpDevice::Speed UsbIpDevice::speed() const {
    return description_.speed;
}

std::string UsbIpDevice::label() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return description_.serial;
}

UsbIpDevice::Presence UsbIpDevice::presence() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return presence_;
}

void UsbIpDevice::setPresenceListener(std::function<void()> listener) {
    // Waits for a call in progress: the old listener may be about to go.
    std::lock_guard<std::mutex> lock(listenerMutex_);
    presenceListener_ = std::move(listener);
}

void UsbIpDevice::setFaults(const Faults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_ = faults;
}

bool UsbIpDevice::vanished() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return vanished_;
}

uint64_t UsbIpDevice::bulkTransfers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bulkTransfers_;
}

uint8_t UsbIpDevice::configuration() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return configuration_;
}

void UsbIpDevice::setPresent(bool present) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (vanished_ && present) return;
        if (presence_.present == present) return;
        presence_.present = present;
        if (present) ++presence_.epoch;
    }
    notifyPresence();
}

void UsbIpDevice::reenumerate() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!presence_.present) return;
        ++presence_.epoch;
    }
    notifyPresence();
}

void UsbIpDevice::notifyPresence() {
    std::lock_guard<std::mutex> lock(listenerMutex_);
    if (presenceListener_) presenceListener_();
}

void UsbIpDevice::setSerial(const std::string& serial) {
    std::lock_guard<std::mutex> lock(mutex_);
    nextSerial_ = serial;
}

void UsbIpDevice::queueIn(uint8_t address, std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    EndpointState* state = endpoint(address);
    if (!sink_ || !state || bytes.empty()) return;
    state->data.push_back(std::move(bytes));
    serveIn(*state);
}

bool UsbIpDevice::setReport(uint8_t, uint8_t, const std::vector<uint8_t>&) {
    return false;
}

std::optional<std::vector<uint8_t>> UsbIpDevice::getReport(uint8_t, uint8_t) {
    return std::nullopt;
}

void UsbIpDevice::reply(const std::vector<uint8_t>& bytes) {
    if (sink_) sink_(bytes);
}

UsbIpDevice::EndpointState* UsbIpDevice::endpoint(uint8_t address) {
    auto it = endpoints_.find(address);
    return it == endpoints_.end() ? nullptr : &it->second;
}

// Control transfers: the standard requests here, the HID class requests of an
// HID interface; anything else stalls.
void UsbIpDevice::control(const Submit& urb) {
    Setup setup = Setup::decode(urb.setup);
    int kind = (setup.requestType >> 5) & 3;
    std::optional<std::vector<uint8_t>> answer;
    if (kind == kStandard) {
        std::lock_guard<std::mutex> lock(mutex_);
        answer = standardRequest(setup);
    } else if (kind == kClass && !description_.hidReportDescriptor.empty() &&
               (setup.requestType & 0x1F) == kToInterface) {
        answer = hidRequest(setup, urb.data); // may call into the subclass
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!answer) {
        reply(UsbIp::encodeRetSubmit(urb, UsbIp::kStatusStall, {}));
        return;
    }
    if (urb.direction == UsbIp::kDirIn) {
        answer->resize(std::min<size_t>(answer->size(), std::min<uint32_t>(setup.length, urb.bufferLength)));
        reply(UsbIp::encodeRetSubmit(urb, 0, *answer));
    } else {
        reply(UsbIp::encodeRetSubmit(urb, 0, {}, static_cast<uint32_t>(urb.data.size())));
    }
}

std::optional<std::vector<uint8_t>> UsbIpDevice::standardRequest(const Setup& setup) {
    int recipient = setup.requestType & 0x1F;
    switch (setup.request) {
    case kGetDescriptor:
        return descriptor(setup);
    case kSetAddress:
        return std::vector<uint8_t>{};
    case kSetConfiguration:
        if (setup.value > 1) return std::nullopt;
        configuration_ = static_cast<uint8_t>(setup.value);
        for (auto& [address, state] : endpoints_)
            state.halted = false;
        return std::vector<uint8_t>{};
    case kGetConfiguration:
        return std::vector<uint8_t>{configuration_};
    case kSetInterface:
        if (setup.index != 0 || setup.value != 0) return std::nullopt;
        for (auto& [address, state] : endpoints_)
            state.halted = false;
        return std::vector<uint8_t>{};
    case kGetInterface:
        if (setup.index != 0) return std::nullopt;
        return std::vector<uint8_t>{0};
    case kGetStatus: {
        if (recipient != kToEndpoint) return std::vector<uint8_t>{0, 0};
        EndpointState* state = endpoint(static_cast<uint8_t>(setup.index));
        if (!state && (setup.index & 0x7F) != 0) return std::nullopt;
        return std::vector<uint8_t>{static_cast<uint8_t>(state && state->halted), 0};
    }
    case kClearFeature:
    case kSetFeature: {
        if (recipient != kToEndpoint) return std::vector<uint8_t>{}; // remote wake-up and the like
        EndpointState* state = endpoint(static_cast<uint8_t>(setup.index));
        if (setup.value != kEndpointHalt || !state) return std::nullopt;
        state->halted = setup.request == kSetFeature;
        return std::vector<uint8_t>{};
    }
    default:
        return std::nullopt;
    }
}

std::optional<std::vector<uint8_t>> UsbIpDevice::descriptor(const Setup& setup) const {
    uint8_t type = static_cast<uint8_t>(setup.value >> 8);
    uint8_t index = static_cast<uint8_t>(setup.value);
    switch (type) {
    case kDescDevice:
        return deviceDescriptor();
    case kDescConfiguration:
        if (index != 0) return std::nullopt;
        return configurationDescriptor();
    case kDescString: {
        std::vector<uint8_t> text = stringDescriptor(index);
        if (text.empty()) return std::nullopt;
        return text;
    }
    case kDescHid:
        if (description_.hidReportDescriptor.empty()) return std::nullopt;
        return hidDescriptor();
    case kDescHidReport:
        if (description_.hidReportDescriptor.empty()) return std::nullopt;
        return description_.hidReportDescriptor;
    default:
        return std::nullopt; // a device qualifier, BOS, ...: not this full/high-speed-only device
    }
}

std::vector<uint8_t> UsbIpDevice::deviceDescriptor() const {
    std::vector<uint8_t> d = {18, kDescDevice};
    sPut16(d, 0x0200);
    d.insert(d.end(), {0, 0, 0, 64}); // class per interface; control endpoint 64 bytes
    sPut16(d, description_.vendorId);
    sPut16(d, description_.productId);
    sPut16(d, description_.release);
    d.push_back(description_.manufacturer.empty() ? 0 : 1);
    d.push_back(description_.product.empty() ? 0 : 2);
    d.push_back(description_.serial.empty() ? 0 : 3);
    d.push_back(1); // configurations
    return d;
}

std::vector<uint8_t> UsbIpDevice::configurationDescriptor() const {
    std::vector<uint8_t> d = {9, kDescConfiguration, 0, 0, 1, 1, 0, 0x80, 50}; // bus-powered, 100 mA
    d.insert(d.end(), {9, kDescInterface, 0, 0, static_cast<uint8_t>(description_.endpoints.size()),
                       description_.interfaceClass, description_.interfaceSubClass,
                       description_.interfaceProtocol, 0});
    if (!description_.hidReportDescriptor.empty()) {
        std::vector<uint8_t> hid = hidDescriptor();
        d.insert(d.end(), hid.begin(), hid.end());
    }
    for (const Endpoint& e : description_.endpoints) {
        d.insert(d.end(), {7, kDescEndpoint, e.address, e.attributes});
        sPut16(d, e.maxPacket);
        d.push_back(e.interval);
    }
    d[2] = static_cast<uint8_t>(d.size());
    d[3] = static_cast<uint8_t>(d.size() >> 8);
    return d;
}

std::vector<uint8_t> UsbIpDevice::hidDescriptor() const {
    std::vector<uint8_t> d = {9, kDescHid, 0x11, 0x01, 0, 1, kDescHidReport};
    sPut16(d, static_cast<uint16_t>(description_.hidReportDescriptor.size()));
    return d;
}

// Index 0 is the language table (US English only); then manufacturer, product,
// serial. An empty answer: no such string.
std::vector<uint8_t> UsbIpDevice::stringDescriptor(uint8_t index) const {
    if (index == 0) return {4, kDescString, 0x09, 0x04};
    const std::string* text = index == 1   ? &description_.manufacturer
                              : index == 2 ? &description_.product
                              : index == 3 ? &description_.serial
                                           : nullptr;
    if (!text || text->empty()) return {};
    std::vector<uint8_t> d = {static_cast<uint8_t>(2 + 2 * text->size()), kDescString};
    for (char c : *text)
        sPut16(d, static_cast<uint8_t>(c));
    return d;
}

std::optional<std::vector<uint8_t>> UsbIpDevice::hidRequest(const Setup& setup,
                                                            const std::vector<uint8_t>& data) {
    uint8_t type = static_cast<uint8_t>(setup.value >> 8);
    uint8_t id = static_cast<uint8_t>(setup.value);
    switch (setup.request) {
    case kHidSetIdle:
    case kHidSetProtocol:
        return std::vector<uint8_t>{};
    case kHidGetIdle:
        return std::vector<uint8_t>{0};
    case kHidGetProtocol:
        return std::vector<uint8_t>{1}; // report protocol
    case kHidSetReport: {
        // The host sends the report id in front of a numbered report.
        bool idInFront = id != 0 && !data.empty() && data[0] == id;
        std::vector<uint8_t> report(data.begin() + (idInFront ? 1 : 0), data.end());
        if (!setReport(type, id, report)) return std::nullopt;
        return std::vector<uint8_t>{};
    }
    case kHidGetReport:
        return getReport(type, id);
    default:
        return std::nullopt;
    }
}

UsbIpDevice::EndpointState* UsbIpDevice::admit(const Submit& urb, Fault& fault) {
    EndpointState* state = endpoint(urb.address());
    if (state && !state->halted && configuration_ != 0) {
        uint64_t all = ++bulkTransfers_;
        uint64_t mine = ++state->transfers;
        uint64_t n = faults_.endpoint == 0 ? all : urb.address() == faults_.endpoint ? mine : 0;
        fault = n == 0                 ? Fault::None
                : n == faults_.stallAt ? Fault::Stall
                : n == faults_.shortAt ? Fault::Short
                                       : Fault::None;
        if (fault != Fault::None && faults_.hit)
            faults_.hit(fault == Fault::Stall ? "stall" : "short", n, urb.address());
        if (fault != Fault::Stall) return state;
        state->halted = true;
    }
    reply(UsbIp::encodeRetSubmit(urb, UsbIp::kStatusStall, {}));
    return nullptr;
}

void UsbIpDevice::bulkOut(const Submit& urb) {
    size_t take = urb.data.size();
    bool vanish = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Fault fault = Fault::None;
        if (!admit(urb, fault)) return;
        if (fault == Fault::Short) take /= 2;
        if (faults_.vanishAfterOutBytes >= 0 && outBytes_ + take >= uint64_t(faults_.vanishAfterOutBytes)) {
            take = static_cast<size_t>(uint64_t(faults_.vanishAfterOutBytes) - outBytes_);
            vanish = true;
        }
        outBytes_ += take;
    }
    size_t taken = take ? takeOut(urb.address(), urb.data.data(), take) : 0;
    if (vanish) {
        // Gone in the middle of the transfer: the host hears nothing more.
        {
            std::lock_guard<std::mutex> lock(mutex_);
            vanished_ = true;
        }
        setPresent(false);
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    reply(UsbIp::encodeRetSubmit(urb, 0, {}, static_cast<uint32_t>(taken)));
}

void UsbIpDevice::bulkIn(const Submit& urb) {
    std::lock_guard<std::mutex> lock(mutex_);
    Fault fault = Fault::None;
    EndpointState* state = admit(urb, fault);
    if (!state) return;
    state->pending.push_back({urb, fault == Fault::Short});
    serveIn(*state);
}

// Completes waiting IN URBs while there are data: a stream endpoint fills an URB
// from as many queued pieces as fit, a report endpoint gives one report per URB.
void UsbIpDevice::serveIn(EndpointState& state) {
    while (!state.pending.empty() && !state.data.empty()) {
        PendingIn in = std::move(state.pending.front());
        state.pending.pop_front();
        size_t room = in.urb.bufferLength;
        std::vector<uint8_t> out;
        if (state.endpoint.packets) {
            out = std::move(state.data.front());
            state.data.pop_front();
            out.resize(std::min(out.size(), room));
        } else {
            size_t available = 0;
            for (const auto& piece : state.data)
                available += piece.size();
            size_t want = std::min(room, available);
            if (in.shortened) want = std::min(room, std::max<size_t>(1, want / 2));
            while (out.size() < want) {
                std::vector<uint8_t>& piece = state.data.front();
                size_t n = std::min(want - out.size(), piece.size());
                out.insert(out.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n));
                piece.erase(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n));
                if (piece.empty()) state.data.pop_front();
            }
        }
        reply(UsbIp::encodeRetSubmit(in.urb, 0, out));
    }
}

void UsbIpDevice::unlink(const UsbIp::Unlink& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [address, state] : endpoints_) {
        auto it = std::find_if(state.pending.begin(), state.pending.end(),
                               [&](const PendingIn& in) { return in.urb.seqnum == request.victim; });
        if (it == state.pending.end()) continue;
        state.pending.erase(it);
        reply(UsbIp::encodeRetUnlink(request.seqnum, UsbIp::kStatusUnlinked));
        return;
    }
    // Already answered: the host gave that URB back on its RET_SUBMIT.
    reply(UsbIp::encodeRetUnlink(request.seqnum, 0));
}

} // namespace Veltrano::Sim
