// Link: construction, configuration, connecting and raw packets.
#include "Link.h"

#include <cstring>

#include "LinkState.h"
#include "aTime.h"

namespace Veltrano::Halvorine {

namespace {

// Two threads never create engine links at the same time.
std::mutex gCreationMutex;

constexpr uint32 kStatusPollMs = 10;
constexpr int kStatusPolls = 200;
constexpr uint8 kMaxPacketArguments = aPACKET_MAX_DATA - 1;

// What a connect makes of the engine link's status.
aErr sStatusResult(linkStatus status, bool final) {
    switch (status) {
    case RUNNING:
        return aErrNone;
    case STOPPING:
        return aErrBusy;
    case STOPPED:
    case INITIALIZING:
    case SYNCING:
        return final ? aErrConnection : aErrNotReady;
    case INVALID_LINK_STREAM:
    case IO_ERROR:
    case UNKNOWN_ERROR:
        return aErrConnection;
    default:
        return aErrDuplicate;
    }
}

aErr sAwaitRunning(uint32 ref) {
    for (int poll = 0; poll < kStatusPolls; ++poll) {
        aErr err = sStatusResult(aLink_GetStatus(ref), false);
        if (err != aErrNotReady) return err;
        aTime_MSSleep(kStatusPollMs);
    }
    return sStatusResult(aLink_GetStatus(ref), true);
}

aErr sCreateEngineLink(const linkSpec& spec, aSolvanConfig& config, uint32 existingRef, uint32* ref) {
    *ref = 0;
    // The record may come from elsewhere: read its type as the 32 bits it is.
    uint32 type;
    std::memcpy(&type, &spec.type, sizeof type);
    switch (type) {
    case USB:
        if (config.shareThroughServer) return sOpenSharedUSB(spec, config, ref);
        *ref = aLink_CreateUSB(spec.serialNumber);
        return aErrNone;
    case TCPIP:
        *ref = aLink_CreateTCPIP(spec.ipAddress, spec.ipPort);
        return aErrNone;
    case SERIAL: {
        char portName[sizeof spec.portName + 1] = {0};
        std::memcpy(portName, spec.portName, sizeof spec.portName);
        *ref = aLink_CreateSerial(spec.serialNumber, portName, spec.baudRate);
        return aErrNone;
    }
    case ASOLVAN:
        if (!config.shareThroughServer) return aErrConfiguration;
        return sOpenSharingClient(spec, existingRef, ref);
    default:
        return aErrMode;
    }
}

bool sLeadingBytesMatch(const aPacket* packet, void* ref) {
    const aPacket* match = static_cast<const aPacket*>(ref);
    return packet->dataSize >= match->dataSize &&
           std::memcmp(packet->data, match->data, match->dataSize) == 0;
}

bool sNoData(const aPacket* packet, void*) {
    return packet->dataSize == 0;
}

// A reply of one module: modules behind a router share the link's queue.
struct FromModule {
    uint8 module;
    aPacketFilter filter;
    void* ref;
};

bool sFromModule(const aPacket* packet, void* ref) {
    const FromModule* want = static_cast<const FromModule*>(ref);
    return packet->address == want->module && want->filter(packet, want->ref);
}

} // namespace

LinkState::LinkState(const char* name) : name(name ? std::string(name).substr(0, kLinkNameMax) : "Link") {}

LinkState::~LinkState() {
    release();
}

void LinkState::release() {
    aLogger* log = nullptr;
    uint32 held = 0;
    {
        // Both at once, so that no packet log can be made for the reference
        // once its logger is taken.
        std::lock_guard<std::mutex> lock(mutex);
        std::swap(log, logger);
        held = ref.exchange(0);
    }
    // The reference is cleared first: a copy subscribing meanwhile finds no
    // engine link and cannot put the filter back after the shutdown.
    stream.shutdown(this);
    if (log) aLogger_Destroy(&log);
    if (held) aLink_Destroy(&held);
}

Link::Link() : Link("Link") {}

Link::Link(const char* name) : state_(std::make_shared<LinkState>(name)) {}

Link::Link(linkSpec spec, const char* name) : Link(name) {
    state_->spec = spec;
}

Link::Link(const Link& other) = default;
Link& Link::operator=(const Link& other) = default;
Link::~Link() = default;

const char* Link::getName() const {
    return state_->name.c_str();
}

aErr Link::getLinkSpecifier(linkSpec* spec) const {
    if (!spec) return aErrParam;
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->spec) return aErrNotFound;
    *spec = *state_->spec;
    return aErrNone;
}

aErr Link::setLinkSpecifier(linkSpec spec) {
    if (isConnected()) return aErrBusy;
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->spec = spec;
    return aErrNone;
}

aErr Link::getConfig(aSolvanConfig* config) const {
    if (!config) return aErrParam;
    std::lock_guard<std::mutex> lock(state_->mutex);
    *config = state_->config;
    return aErrNone;
}

aErr Link::setConfig(aSolvanConfig config) {
    if (isConnected()) return aErrMode;
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->config = config;
    return aErrNone;
}

aErr Link::open(uint32 existingRef) {
    linkSpec spec;
    aSolvanConfig config;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (!state_->spec) return aErrConfiguration;
        spec = *state_->spec;
        config = state_->config;
    }
    uint32 ref = 0;
    aErr err;
    {
        std::lock_guard<std::mutex> creation(gCreationMutex);
        err = sCreateEngineLink(spec, config, existingRef, &ref);
    }
    if (err == aErrNone && ref == 0) err = aErrConnection;
    if (err == aErrNone) err = sAwaitRunning(ref);
    if (err != aErrNone) {
        // A link that never ran is given back, so a later attempt starts afresh.
        if (ref) aLink_Destroy(&ref);
        return err;
    }
    uint32 none = 0;
    if (!state_->ref.compare_exchange_strong(none, ref)) {
        // Another thread connected this Link meanwhile: it holds one reference, never two.
        aLink_Destroy(&ref);
        return aErrConnection;
    }
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->config = config; // a shared USB link writes back its server's port and address
    return aErrNone;
}

aErr Link::connect() {
    if (state_->ref) return aErrConnection;
    return open(0);
}

aErr Link::discoverAndOpen(linkType type, unsigned int serialNumber, unsigned char model) {
    uint32 networkInterface;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        networkInterface = state_->config.interfaceAddress;
    }
    linkSpec found;
    aErr err = sFindLinkSpec(type, serialNumber, model, networkInterface, &found);
    if (err != aErrNone) return err;
    if (state_->ref) return aErrConnection;
    err = setLinkSpecifier(found);
    if (err != aErrNone) return err;
    return open(0);
}

aErr Link::discoverAndConnect(linkType type, unsigned int serialNumber, unsigned char model) {
    aErr err = discoverAndOpen(type, serialNumber, model);
    bool fallback = err == aErrNotFound || err == aErrInitialization || err == aErrConnection;
    bool sharable = type == USB || type == ASOLVAN;
    aSolvanConfig config;
    getConfig(&config);
    if (fallback && sharable && config.allowFallback)
        err = discoverAndOpen(type == USB ? ASOLVAN : USB, serialNumber, model);
    return err;
}

aErr Link::connectThroughLinkModule(Link& other) {
    if (!other.state_) return aErrInitialization;
    uint32 routerRef = other.state_->ref;
    if (!routerRef) return aErrInitialization;
    // Through its own state (a copy): nothing to take, only to report.
    if (state_ == other.state_) return requireConnected();
    state_->release();
    return open(routerRef);
}

bool Link::isConnected() const {
    uint32 ref = state_->ref;
    return ref != 0 && aLink_GetStatus(ref) == RUNNING;
}

linkStatus Link::getStatus() const {
    uint32 ref = state_->ref;
    return ref ? aLink_GetStatus(ref) : UNKNOWN_ERROR;
}

aErr Link::disconnect() {
    state_->release();
    return aErrNone;
}

aErr Link::reset() {
    uint32 ref = state_->ref;
    if (ref) aLink_Reset(ref);
    return aErrNone;
}

aErr Link::enablePooledPackets(bool enable) {
    return aLink_EnablePooledPackets(state_->ref, enable);
}

aErr Link::requireConnected() const {
    return isConnected() ? aErrNone : aErrConnection;
}

aErr Link::requireModule(unsigned char module) const {
    aErr err = requireConnected();
    if (err != aErrNone) return err;
    return module != 0 && (module & 1) == 0 ? aErrNone : aErrPacket;
}

aPacket* Link::awaitFirst(aPacketFilter filter, void* ref, uint32 timeoutMs) const {
    return aLink_AwaitFirst(state_->ref, filter, ref, timeoutMs);
}

aErr Link::exchange(unsigned char module, const unsigned char* request, unsigned char length,
                    aPacketFilter filter, void* ref, uint32 waitMs, aPacketPtr* reply) {
    aErr err = sendPacket(module, request[0], static_cast<uint8>(length - 1), request + 1);
    if (err != aErrNone) return err;
    FromModule want{module, filter, ref};
    reply->reset(awaitFirst(sFromModule, &want, waitMs));
    return *reply ? aErrNone : aErrTimeout;
}

aErr Link::getModuleAddress(unsigned char* address) {
    if (!address) return aErrParam;
    *address = 0;
    if (!isConnected()) return aErrNotReady;
    const uint8 none = 0;
    aPacket* query = aPacket_CreateWithData(aPACKET_ADDRESS_SYNC, 0, &none);
    aErr err = query ? aLink_PutPacket(state_->ref, query) : aErrMemory;
    aPacket_Destroy(&query);
    if (err != aErrNone) return aErrNotReady;
    aPacket* reply = awaitFirst(sNoData, nullptr, kReplyWaitMs);
    if (!reply) return aErrNotReady;
    *address = reply->address;
    aPacket_Destroy(&reply);
    return aErrNone;
}

aErr Link::sendPacket(unsigned char module, unsigned char command, unsigned char length,
                      const unsigned char* data) {
    aErr err = requireConnected();
    if (err != aErrNone) return err;
    if (length > kMaxPacketArguments || (length > 0 && !data)) return aErrParam;
    err = requireModule(module);
    if (err != aErrNone) return err;
    uint8 bytes[aPACKET_MAX_DATA];
    bytes[0] = command;
    if (length) std::memcpy(bytes + 1, data, length);
    aPacket* packet = aPacket_CreateWithData(module, static_cast<uint8>(length + 1), bytes);
    if (!packet) return aErrMemory;
    err = aLink_PutPacket(state_->ref, packet);
    aPacket_Destroy(&packet);
    return err;
}

aErr Link::receivePacket(unsigned char module, const unsigned char* match, unsigned char* length,
                         unsigned char* data) {
    return receivePacket(module, match, length, data, kReplyWaitMs);
}

aErr Link::receivePacket(unsigned char, const unsigned char* match, unsigned char* length,
                         unsigned char* data, unsigned int timeoutMs) {
    if (!length || !data || (*length > 0 && !match) || *length > aPACKET_MAX_DATA) return aErrParam;
    aErr err = requireConnected();
    if (err != aErrNone) return err;
    aPacket pattern{};
    pattern.dataSize = *length;
    if (*length) std::memcpy(pattern.data, match, *length);
    aPacket* reply = awaitFirst(sLeadingBytesMatch, &pattern, timeoutMs);
    if (!reply) return aErrTimeout;
    *length = reply->dataSize;
    std::memcpy(data, reply->data, reply->dataSize);
    aPacket_Destroy(&reply);
    return aErrNone;
}

aErr Link::dropMatchingPackets(unsigned char module, const unsigned char* match, unsigned char length) {
    if ((length > 0 && !match) || length > aPACKET_MAX_DATA) return aErrParam;
    aErr err = requireConnected();
    if (err != aErrNone) return err;
    aPacket pattern{};
    pattern.dataSize = length;
    if (length) std::memcpy(pattern.data, match, length);
    FromModule want{module, sLeadingBytesMatch, &pattern};
    aLink_DrainPackets(state_->ref, sFromModule, &want);
    return aErrNone;
}

} // namespace Veltrano::Halvorine
