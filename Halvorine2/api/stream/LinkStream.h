// The streaming state a Link's copies share: subscriptions, the filter on the
// engine link, and the delivery of samples to callbacks. Not part of the
// public API.
//
// Locks, always taken in this order: control (installing or removing the
// filter, starting or stopping delivery), then the filter groups' lock, then
// the engine's filter lock, then a filter group's lock, then mutex (the
// subscription map). The filter runs on the engine's reader thread
// with the engine's filter lock held and takes only mutex, so the filter is
// never installed or removed while mutex is held.
#ifndef HALVORINE_LINKSTREAM_H
#define HALVORINE_LINKSTREAM_H

#include <map>
#include <mutex>

#include "LinkStreamTypes.h"
#include "StreamDelivery.h"

namespace Veltrano::Halvorine {

struct StreamSubscription {
    streamCallback callback; // empty: the value is kept, nothing is called
    void* reference = nullptr;
    uint32 value = 0;
    bool fresh = false; // set by a sample, cleared when the value is read
};

struct LinkStream {
    // Removes the filter from the engine link it is on, forgets every
    // subscription and stops delivery, joining the thread unless called on it.
    // Always before the engine link is released. owner: the LinkState holding
    // this stream.
    void shutdown(struct LinkState* owner);

    std::mutex control;
    uint32 filterRef = 0; // engine link the filter is on; under control
    StreamDelivery delivery;

    std::mutex mutex; // the stream mutex
    std::map<uint64, StreamSubscription> subscriptions;
};

} // namespace Veltrano::Halvorine

#endif
