// Link: stream subscriptions, the stream filter and the stream control
// exchange with the module.
#include "Link.h"

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

#include "LinkState.h"

namespace Veltrano::Halvorine {

namespace {

constexpr uint8 kStreamCommand = 93;
constexpr uint8 kStreamEnable = 1;
constexpr uint8 kStreamDisable = 2;
constexpr uint8 kWildcard = Link::STREAM_WILDCARD;
// Wildcard patterns: bit 0 index, bit 1 option, bit 2 command, bit 3 subindex.
constexpr unsigned kPatterns = 15;

bool sElementMatches(uint64 key, unsigned element, uint8 wanted) {
    return wanted == kWildcard || Link::getStreamKeyElement(key, static_cast<uint8>(element)) == wanted;
}

bool sKeyMatches(uint64 key, const uint8 (&wanted)[5]) {
    for (unsigned element = 0; element < 5; ++element)
        if (!sElementMatches(key, element, wanted[element])) return false;
    return true;
}

bool sHoldsWildcard(uint64 key) {
    for (unsigned element = 0; element < 5; ++element)
        if (Link::getStreamKeyElement(key, static_cast<uint8>(element)) == kWildcard) return true;
    return false;
}

uint64 sPatterned(uint8 module, uint8 command, uint8 option, uint8 index, uint8 subindex, unsigned pattern) {
    return Link::createStreamKey(module, pattern & 4 ? kWildcard : command, pattern & 2 ? kWildcard : option,
                                 pattern & 1 ? kWildcard : index, pattern & 8 ? kWildcard : subindex);
}

void sQueueFor(LinkStream& stream, const StreamSubscription& subscription, const aPacket* packet) {
    if (subscription.callback) stream.delivery.queue(subscription.callback, subscription.reference, packet);
}

// The module's confirmation of a stream control set (or its error reply).
bool sStreamControlReply(const aPacket* packet, void* ref) {
    uint8 option = *static_cast<const uint8*>(ref);
    return packet->dataSize >= 3 && packet->data[0] == kStreamCommand &&
           packet->data[1] == (option | kUEISetReply) && (packet->data[2] & ~kUEIError) == 0;
}

// Links made from the same specifier share one engine link, which has a
// single user filter: every Link streaming on it is a member of its group and
// the group's dispatcher is the filter. Lock order: the groups' mutex, then the
// engine's filter lock, then a group's mutex (the reader holds the filter
// lock while it dispatches).
struct FilterGroup {
    std::mutex mutex;
    std::vector<LinkState*> members;
};

struct FilterGroups {
    std::mutex mutex;
    std::map<uint32, std::shared_ptr<FilterGroup>> byRef;
};

// Never destroyed: a Link of static storage, and the reader of its engine
// link, may still use them after the program's own statics went.
FilterGroups& sGroups() {
    static FilterGroups* groups = new FilterGroups;
    return *groups;
}

bool sDispatch(const aPacket* packet, void* group) {
    FilterGroup* members = static_cast<FilterGroup*>(group);
    std::lock_guard<std::mutex> lock(members->mutex);
    bool taken = false;
    for (LinkState* state : members->members)
        taken = Link::linkStreamFilter(packet, state) || taken;
    return taken;
}

// Adds the Link to the group of its engine link and (re)installs the
// dispatcher: a reset of the engine link removed it.
aErr sJoinFilterGroup(uint32 ref, LinkState* state) {
    FilterGroups& groups = sGroups();
    std::lock_guard<std::mutex> lock(groups.mutex);
    std::shared_ptr<FilterGroup>& group = groups.byRef[ref];
    if (!group) group = std::make_shared<FilterGroup>();
    {
        std::lock_guard<std::mutex> held(group->mutex);
        if (std::find(group->members.begin(), group->members.end(), state) == group->members.end())
            group->members.push_back(state);
    }
    return aLink_InstallUserPacketFilter(ref, sDispatch, group.get());
}

// Takes the Link out of its engine link's group; the last one out removes the
// dispatcher, after which no reader can still be inside it.
void sLeaveFilterGroup(uint32 ref, LinkState* state) {
    FilterGroups& groups = sGroups();
    std::lock_guard<std::mutex> lock(groups.mutex);
    auto found = groups.byRef.find(ref);
    if (found == groups.byRef.end()) return;
    bool empty;
    {
        std::lock_guard<std::mutex> held(found->second->mutex);
        auto& members = found->second->members;
        members.erase(std::remove(members.begin(), members.end(), state), members.end());
        empty = members.empty();
    }
    if (!empty) return;
    aLink_InstallUserPacketFilter(ref, nullptr, nullptr);
    groups.byRef.erase(found);
}

} // namespace

void LinkStream::shutdown(LinkState* owner) {
    std::thread finished;
    {
        std::lock_guard<std::mutex> lock(control);
        if (filterRef) sLeaveFilterGroup(filterRef, owner);
        filterRef = 0;
        {
            std::lock_guard<std::mutex> map(mutex);
            subscriptions.clear();
        }
        finished = delivery.stop();
    }
    if (finished.joinable()) finished.join();
}

aErr Link::registerStreamCallback(unsigned char module, unsigned char command, unsigned char option,
                                  unsigned char index, bool enable, streamCallback callback,
                                  void* reference) {
    if ((module & 1) || module == kWildcard) return aErrParam;
    LinkStream& stream = state_->stream;
    if (enable) {
        std::lock_guard<std::mutex> lock(stream.mutex);
        StreamSubscription& subscription =
            stream.subscriptions[createStreamKey(module, command, option, index, kWildcard)];
        subscription.callback = std::move(callback);
        subscription.reference = reference;
    } else {
        removeStreamKeys(module, command, option, index);
    }
    aErr err = applyStreamFilter();
    if (err == aErrNone) err = tellModuleStream(module, command, option, index, enable);
    if (err != aErrNone) {
        removeStreamKeys(module, command, option, index);
        applyStreamFilter(); // the map may have become empty
    }
    return err;
}

aErr Link::enableStream(unsigned char module, unsigned char command, unsigned char option,
                        unsigned char index, bool enable) {
    return registerStreamCallback(module, command, option, index, enable, streamCallback(), nullptr);
}

void Link::removeStreamKeys(unsigned char module, unsigned char command, unsigned char option,
                            unsigned char index) {
    LinkStream& stream = state_->stream;
    std::lock_guard<std::mutex> lock(stream.mutex);
    for (uint64 key : filterActiveStreamKeys(module, command, option, index, kWildcard, false))
        stream.subscriptions.erase(key);
}

aErr Link::applyStreamFilter() {
    LinkStream& stream = state_->stream;
    std::thread finished;
    aErr err = aErrNone;
    {
        std::lock_guard<std::mutex> lock(stream.control);
        bool subscribed;
        {
            std::lock_guard<std::mutex> map(stream.mutex);
            subscribed = !stream.subscriptions.empty();
        }
        uint32 ref = state_->ref;
        if (subscribed && ref) {
            if (stream.filterRef && stream.filterRef != ref)
                sLeaveFilterGroup(stream.filterRef, state_.get());
            err = sJoinFilterGroup(ref, state_.get());
            if (err == aErrNone) {
                stream.filterRef = ref;
                stream.delivery.start();
            }
        } else if (!subscribed) {
            if (stream.filterRef) sLeaveFilterGroup(stream.filterRef, state_.get());
            stream.filterRef = 0;
            finished = stream.delivery.stop();
        }
        if (!ref) err = aErrConnection;
    }
    // A callback may be waiting for control: join only once it is free.
    if (finished.joinable()) finished.join();
    return err;
}

aErr Link::tellModuleStream(unsigned char module, unsigned char command, unsigned char option,
                            unsigned char index, bool enable) {
    uint8 which = enable ? kStreamEnable : kStreamDisable;
    const uint8 request[] = {
        kStreamCommand, static_cast<uint8>(which | kUEISet), kUEIRequest, module, command, option, index};
    aPacketPtr reply;
    aErr err = exchange(module, request, sizeof request, sStreamControlReply, &which, kReplyWaitMs, &reply);
    if (err != aErrNone) return err;
    if (reply->data[2] & kUEIError) return reply->dataSize > 3 ? aErr(reply->data[3]) : aErrUnknown;
    return aErrNone;
}

aErr Link::isLinkStreaming(unsigned char module, unsigned char* state) {
    if (!state) return aErrParam;
    uei record{};
    record.module = module;
    record.command = kStreamCommand;
    record.option = kStreamEnable | kUEIGet;
    record.specifier = kUEIRequest;
    record.type = ueiNone;
    aErr err = sendUEI(record);
    if (err == aErrNone) err = receiveUEI(module, kStreamCommand, kStreamEnable, 0, &record);
    if (err == aErrNone) *state = record.value.uchVal;
    return err;
}

aErr Link::getStreamValue(unsigned char module, unsigned char command, unsigned char option,
                          unsigned char index, unsigned char subindex, unsigned int* value) {
    if (!value) return aErrParam;
    LinkStream& stream = state_->stream;
    std::lock_guard<std::mutex> lock(stream.mutex);
    auto found = stream.subscriptions.find(createStreamKey(module, command, option, index, subindex));
    if (found == stream.subscriptions.end()) return aErrNotFound;
    *value = found->second.value;
    bool fresh = found->second.fresh;
    found->second.fresh = false;
    return fresh ? aErrNone : aErrStreamStale;
}

std::vector<unsigned long long> Link::filterActiveStreamKeys(unsigned char module, unsigned char command,
                                                             unsigned char option, unsigned char index,
                                                             unsigned char subindex, bool lock) {
    LinkStream& stream = state_->stream;
    std::unique_lock<std::mutex> held(stream.mutex, std::defer_lock);
    if (lock) held.lock();
    const uint8 wanted[5] = {module, command, option, index, subindex};
    std::vector<unsigned long long> keys;
    for (const auto& entry : stream.subscriptions)
        if (sKeyMatches(entry.first, wanted)) keys.push_back(entry.first);
    return keys;
}

aErr Link::getStreamStatus(unsigned char module, unsigned char command, unsigned char option,
                           unsigned char index, unsigned char subindex, StreamStatusEntry* entries,
                           unsigned int capacity, unsigned int* count) {
    aErr err = requireConnected();
    if (err != aErrNone) return err;
    if (!entries || !count || capacity == 0) return aErrParam;
    LinkStream& stream = state_->stream;
    std::lock_guard<std::mutex> lock(stream.mutex);
    unsigned int matching = 0;
    for (uint64 key : filterActiveStreamKeys(module, command, option, index, subindex, false)) {
        if (sHoldsWildcard(key)) continue;
        if (matching < capacity) entries[matching] = {key, stream.subscriptions.at(key).value};
        ++matching;
    }
    *count = matching;
    return matching > capacity ? aErrSize : aErrNone;
}

unsigned long long Link::getStreamDrops() const {
    return state_->stream.delivery.drops();
}

bool Link::linkStreamFilter(const aPacket* packet, void* linkState) {
    uint8 type = getStreamPacketType(packet);
    if (type == STREAM_PACKET_NONE) return false;
    LinkStream& stream = static_cast<LinkState*>(linkState)->stream;
    const uint8 module = packet->address;
    const uint8 command = packet->data[0];
    const uint8 option = packet->data[1] & kUEIOptionMask;
    const uint8 index = packet->data[2] & kUEIIndexMask;
    const uint8 subindex = isSubindexType(type) ? packet->data[4] : 0;
    uint32 value = 0;
    bool decoded = getStreamSample(packet, nullptr, &value, nullptr) == aErrNone;

    std::lock_guard<std::mutex> lock(stream.mutex);
    const uint64 key = createStreamKey(module, command, option, index, subindex);
    auto exact = stream.subscriptions.find(key);
    bool known = exact != stream.subscriptions.end();
    if (known) {
        sQueueFor(stream, exact->second, packet);
        if (decoded) {
            exact->second.value = value;
            exact->second.fresh = true;
        }
    }
    bool wildcardMatched = false;
    // An element that is 0xFF already (a subindex of 0xFF) makes patterns name keys
    // met before: each subscription hears of a sample once.
    uint64 looked[kPatterns + 1] = {key};
    unsigned lookedCount = 1;
    for (unsigned pattern = 1; pattern <= kPatterns; ++pattern) {
        const uint64 patterned = sPatterned(module, command, option, index, subindex, pattern);
        if (std::find(looked, looked + lookedCount, patterned) != looked + lookedCount) continue;
        looked[lookedCount++] = patterned;
        auto found = stream.subscriptions.find(patterned);
        if (found == stream.subscriptions.end()) continue;
        sQueueFor(stream, found->second, packet);
        wildcardMatched = true;
    }
    if (!known && wildcardMatched) {
        StreamSubscription& added = stream.subscriptions[key];
        added.value = value;
        added.fresh = decoded;
    }
    return true;
}

} // namespace Veltrano::Halvorine
