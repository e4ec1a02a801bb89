/* The process-wide list of links, newest first. */
#include <list>

#include "aLinkInternal.h"

namespace {

struct Registry {
    std::mutex mutex;
    std::list<aLinkEntryPtr> entries;
    uint32 nextRef = 1;
};

Registry& sRegistry() {
    static Registry* registry = new Registry; /* outlives every static destructor that might use it */
    return *registry;
}

template <class Match> aLinkEntryPtr sFind(Match match) {
    Registry& registry = sRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (const aLinkEntryPtr& entry : registry.entries)
        if (match(*entry)) return entry;
    return nullptr;
}

} // namespace

std::recursive_mutex& sCreationMutex() {
    static std::recursive_mutex* mutex = new std::recursive_mutex;
    return *mutex;
}

aLinkEntryPtr sCreate(uint32 key, uint16 port, uint32 instance, int type) {
    aLinkEntryPtr entry;
    try {
        entry = std::make_shared<aLinkEntry>();
        entry->link = std::make_shared<aLink>();
    } catch (...) {
        return nullptr;
    }
    entry->key = key;
    entry->port = port;
    entry->instance = instance;
    entry->type = type;
    Registry& registry = sRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    entry->linkRef = registry.nextRef++;
    if (registry.nextRef == 0) registry.nextRef = 1;
    registry.entries.push_front(entry);
    return entry;
}

aLinkEntryPtr sLookupEntryByID(uint32 linkRef) {
    if (linkRef == 0) return nullptr;
    return sFind([linkRef](const aLinkEntry& e) { return e.linkRef == linkRef; });
}

namespace {

bool sKeyMatches(const aLinkEntry& e, uint32 key, int type, uint16 port) {
    return e.key == key && e.type == type && (type != kLinkTypeTCPIP || e.port == port);
}

} // namespace

aLinkEntryPtr sLookupEntryByKey(uint32 key, int type, uint16 port) {
    return sFind([=](const aLinkEntry& e) { return sKeyMatches(e, key, type, port); });
}

aLinkEntryPtr sAddUserByKey(uint32 key, int type, uint16 port) {
    Registry& registry = sRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (const aLinkEntryPtr& entry : registry.entries) {
        /* An entry without users is still being made (or going). */
        if (!sKeyMatches(*entry, key, type, port) || entry->useCount <= 0) continue;
        ++entry->useCount;
        return entry;
    }
    return nullptr;
}

aLinkEntryPtr sLookupClientEntry(uint32 key, uint16 port, uint32 instance) {
    return sFind([=](const aLinkEntry& e) {
        return e.type == kLinkTypeClient && e.key == key && e.port == port && e.instance == instance;
    });
}

void sChangeUseCount(const aLinkEntryPtr& entry, int delta) {
    std::lock_guard<std::mutex> lock(sRegistry().mutex);
    entry->useCount = static_cast<int16>(entry->useCount + delta);
}

aLinkEntryPtr sReleaseUser(uint32 linkRef, bool* found) {
    Registry& registry = sRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    *found = false;
    for (auto it = registry.entries.begin(); it != registry.entries.end(); ++it) {
        if ((*it)->linkRef != linkRef) continue;
        *found = true;
        aLinkEntryPtr entry = *it;
        if (--entry->useCount > 0) return nullptr;
        registry.entries.erase(it);
        return entry;
    }
    return nullptr;
}

void sExtractEntry(const aLinkEntryPtr& entry) {
    Registry& registry = sRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.entries.remove(entry);
}

std::shared_ptr<aLink> sLookupLink(uint32 linkRef) {
    aLinkEntryPtr entry = sLookupEntryByID(linkRef);
    return entry ? entry->link : nullptr;
}
