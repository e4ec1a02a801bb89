// The private state that the copies of one Link share, and the pieces of the
// Link that live in files of their own. Not part of the public API.
#ifndef HALVORINE_LINKSTATE_H
#define HALVORINE_LINKSTATE_H

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include "Link.h"
#include "LinkStream.h"
#include "aLinkLogger.h"

namespace Veltrano::Halvorine {

struct LinkState {
    explicit LinkState(const char* name);
    ~LinkState();
    LinkState(const LinkState&) = delete;
    LinkState& operator=(const LinkState&) = delete;

    // Clears the engine reference (so no copy can subscribe on it any more),
    // stops streaming and closes the packet log, then destroys the engine
    // link (the stream filter and the log's writer read through it, so they
    // go first).
    void release();

    std::atomic<uint32> ref{0};
    LinkStream stream;
    mutable std::mutex mutex; // guards the fields below
    aLogger* logger = nullptr;
    aSolvanConfig config;
    std::string name;
    std::optional<linkSpec> spec;
};

// Longest name a Link keeps.
constexpr size_t kLinkNameMax = 1024;

// Request/reply waits.
constexpr uint32 kReplyWaitMs = 1000;
constexpr uint32 kLongReplyWaitMs = 4000;

// Engine links through a link-sharing server. Each answers the new reference
// in *ref (0 on failure) and aErrNone, or why it could not try.
aErr sOpenSharedUSB(const linkSpec& spec, aSolvanConfig& config, uint32* ref);
aErr sOpenSharingClient(const linkSpec& spec, uint32 existingRef, uint32* ref);

// Finds a module by serial number, or with 0 the first of the type whose model
// matches (model 0: any). aErrNotFound when there is none.
aErr sFindLinkSpec(linkType type, uint32 serialNumber, uint8 model, uint32 networkInterface, linkSpec* found);

} // namespace Veltrano::Halvorine

#endif
