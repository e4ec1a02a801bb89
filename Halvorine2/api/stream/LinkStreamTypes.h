// The types of link value streaming: the callback a subscription calls, the
// entries of a stream status, and the sample types a module streams.
#ifndef HALVORINE_LINKSTREAMTYPES_H
#define HALVORINE_LINKSTREAMTYPES_H

#include <functional>

#include "aPacket.h"

namespace Veltrano::Halvorine {

// Called on the Link's delivery thread with a copy of one sample (freed after
// the call) and the subscription's reference. Its result is not used.
typedef std::function<uint8(const aPacket* packet, void* reference)> streamCallback;

// One subscribed value: its stream key and the latest value streamed for it.
struct StreamStatusEntry {
    unsigned long long key;
    unsigned int value;
};

// Byte 3 of a streamed packet. A streamed packet whose last byte is not 0 is a
// chunk of a streamed bytes value whatever byte 3 says.
enum STREAM_PACKET : uint8 {
    STREAM_PACKET_NONE = 0,
    STREAM_PACKET_U8 = 1,
    STREAM_PACKET_U16 = 2,
    STREAM_PACKET_U32 = 3,
    STREAM_PACKET_BYTES = 4,
    STREAM_PACKET_SUBINDEX_U8 = 5,
    STREAM_PACKET_SUBINDEX_U16 = 6,
    STREAM_PACKET_SUBINDEX_U32 = 7,
};

} // namespace Veltrano::Halvorine

#endif
