#include "aShareSubscriptions.h"

#include <map>
#include <new>
#include <set>
#include <string>

namespace {

constexpr uint8 kStreamCommand = 0x5D;
constexpr uint8 kEnable = 0x81;
constexpr uint8 kDisable = 0x82;
constexpr uint8 kRequestSize = 7;
constexpr uint8 kConfirmedFlags = 0xC0;
constexpr uint8 kSetFlag = 0x80;
constexpr uint8 kRequestSpecifier = 0x20;
constexpr uint8 kErrorFlag = 0x80;

bool sIsControl(const aPacket* request, uint8 which) {
    return aVALIDPACKET(request) && request->dataSize == kRequestSize && request->data[0] == kStreamCommand &&
           request->data[1] == which;
}

uint32 sWord(const aPacket* request) {
    return uint32(request->data[3]) << 24 | uint32(request->data[4]) << 16 | uint32(request->data[5]) << 8 |
           request->data[6];
}

constexpr uint8 kOptionMask = 0x3F;
constexpr uint8 kIndexMask = 0x1F;
constexpr uint8 kAny = 0xFF;

/* A held value covers a sample's when every element matches or is 0xFF. */
bool sCovers(uint32 held, uint32 sample) {
    for (int shift = 0; shift < 32; shift += 8) {
        const uint8 element = uint8(held >> shift);
        if (element != kAny && element != uint8(sample >> shift)) return false;
    }
    return true;
}

std::string sClient(const uint8* identity, size_t identitySize) {
    return std::string(reinterpret_cast<const char*>(identity), identitySize);
}

} // namespace

struct aShareSubscriptions {
    std::map<std::string, std::set<uint32>> held;       /* by client identity */
    std::map<std::string, std::multiset<uint32>> asked; /* enables the module has not answered */
};

namespace {

bool sHeldByAnyone(const aShareSubscriptions* s, uint32 word) {
    for (const auto& client : s->held)
        if (client.second.count(word)) return true;
    return false;
}

} // namespace

extern "C" {

aShareSubscriptions* aShareSubscriptions_Create(void) {
    return new (std::nothrow) aShareSubscriptions;
}

void aShareSubscriptions_Destroy(aShareSubscriptions** subscriptions) {
    if (!subscriptions) return;
    delete *subscriptions;
    *subscriptions = nullptr;
}

bool aShareSubscriptions_Offer(aShareSubscriptions* subscriptions, const uint8* identity, size_t identitySize,
                               const aPacket* request, uint8* confirmation) {
    if (!subscriptions || !identity || !sIsControl(request, kDisable)) return false;
    const uint32 word = sWord(request);
    auto own = subscriptions->held.find(sClient(identity, identitySize));
    if (own != subscriptions->held.end()) {
        own->second.erase(word);
        if (own->second.empty()) subscriptions->held.erase(own);
    }
    if (!sHeldByAnyone(subscriptions, word)) return false;
    const uint8 reply[aSHARE_STREAM_CONFIRMATION_SIZE] = {request->address, 3, kStreamCommand,
                                                          uint8((kDisable & ~kSetFlag) | kConfirmedFlags), 0};
    for (size_t i = 0; i < sizeof reply; ++i)
        confirmation[i] = reply[i];
    return true;
}

bool aShareSubscriptions_EnableWord(const aPacket* request, uint32* word) {
    if (!word || !sIsControl(request, kEnable)) return false;
    *word = sWord(request);
    return true;
}

bool aShareSubscriptions_Confirms(const aPacket* reply) {
    return aVALIDPACKET(reply) && reply->dataSize >= 3 && reply->data[0] == kStreamCommand &&
           reply->data[1] == uint8((kEnable & ~kSetFlag) | kConfirmedFlags) &&
           (reply->data[2] & kErrorFlag) == 0;
}

void aShareSubscriptions_Expect(aShareSubscriptions* subscriptions, const uint8* identity,
                                size_t identitySize, uint32 word) {
    if (!subscriptions || !identity) return;
    try {
        subscriptions->asked[sClient(identity, identitySize)].insert(word);
    } catch (...) {
        /* Not expected: its first samples may be missed. */
    }
}

void aShareSubscriptions_Answered(aShareSubscriptions* subscriptions, const uint8* identity,
                                  size_t identitySize, uint32 word, bool confirmed) {
    if (!subscriptions || !identity) return;
    const std::string client = sClient(identity, identitySize);
    auto asked = subscriptions->asked.find(client);
    if (asked != subscriptions->asked.end()) {
        auto one = asked->second.find(word);
        if (one != asked->second.end()) asked->second.erase(one);
        if (asked->second.empty()) subscriptions->asked.erase(asked);
    }
    if (!confirmed) return;
    try {
        subscriptions->held[client].insert(word);
    } catch (...) {
        /* Not held: the client's samples then stay away, as if it was refused. */
    }
}

bool aShareSubscriptions_Held(const aShareSubscriptions* subscriptions, uint32 word) {
    return subscriptions && sHeldByAnyone(subscriptions, word);
}

aPacket* aShareSubscriptions_DisableRequest(uint32 word) {
    const uint8 data[kRequestSize] = {kStreamCommand,    kDisable,          kRequestSpecifier,
                                      uint8(word >> 24), uint8(word >> 16), uint8(word >> 8),
                                      uint8(word)};
    return aPacket_CreateWithData(uint8(word >> 24), kRequestSize, data);
}

uint32 aShareSubscriptions_SampleWord(const uint8* wire) {
    return uint32(wire[0]) << 24 | uint32(wire[2]) << 16 | uint32(wire[3] & kOptionMask) << 8 |
           (wire[4] & kIndexMask);
}

bool aShareSubscriptions_Wants(const aShareSubscriptions* subscriptions, const uint8* identity,
                               size_t identitySize, uint32 sampleWord) {
    if (!subscriptions || !identity) return false;
    const std::string client = sClient(identity, identitySize);
    auto held = subscriptions->held.find(client);
    if (held != subscriptions->held.end())
        for (uint32 word : held->second)
            if (sCovers(word, sampleWord)) return true;
    auto asked = subscriptions->asked.find(client);
    if (asked != subscriptions->asked.end())
        for (uint32 word : asked->second)
            if (sCovers(word, sampleWord)) return true;
    return false;
}

bool aShareSubscriptions_Holds(const aShareSubscriptions* subscriptions, const uint8* identity,
                               size_t identitySize) {
    if (!subscriptions || !identity) return false;
    const std::string client = sClient(identity, identitySize);
    return subscriptions->held.count(client) > 0 || subscriptions->asked.count(client) > 0;
}

void aShareSubscriptions_Forget(aShareSubscriptions* subscriptions, const uint8* identity,
                                size_t identitySize, aShareReleasedValue released, void* ref) {
    if (!subscriptions || !identity) return;
    subscriptions->asked.erase(sClient(identity, identitySize));
    auto own = subscriptions->held.find(sClient(identity, identitySize));
    if (own == subscriptions->held.end()) return;
    const std::set<uint32> words = std::move(own->second);
    subscriptions->held.erase(own);
    if (!released) return;
    for (uint32 word : words)
        if (!sHeldByAnyone(subscriptions, word)) released(word, ref);
}

} // extern "C"
