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

} // namespace

struct aShareSubscriptions {
    std::map<std::string, std::set<uint32>> held; /* by client identity */
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
    if (!subscriptions || !identity || !aVALIDPACKET(request) || request->dataSize != kRequestSize ||
        request->data[0] != kStreamCommand || (request->data[1] != kEnable && request->data[1] != kDisable))
        return false;
    const uint32 word = uint32(request->data[3]) << 24 | uint32(request->data[4]) << 16 |
                        uint32(request->data[5]) << 8 | request->data[6];
    const std::string client(reinterpret_cast<const char*>(identity), identitySize);
    if (request->data[1] == kEnable) {
        subscriptions->held[client].insert(word);
        return false;
    }
    auto own = subscriptions->held.find(client);
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

bool aShareSubscriptions_Holds(const aShareSubscriptions* subscriptions, const uint8* identity,
                               size_t identitySize) {
    return subscriptions && identity &&
           subscriptions->held.count(std::string(reinterpret_cast<const char*>(identity), identitySize)) > 0;
}

void aShareSubscriptions_Forget(aShareSubscriptions* subscriptions, const uint8* identity,
                                size_t identitySize) {
    if (!subscriptions || !identity) return;
    subscriptions->held.erase(std::string(reinterpret_cast<const char*>(identity), identitySize));
}

} // extern "C"
