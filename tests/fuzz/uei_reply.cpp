// The UEI reply filters and the reply decoding on arbitrary packets: whatever a
// module sends, a matched reply is decoded without reading or writing out of
// bounds, a scalar comes out only with the type its length gives, and a
// streamed get never takes more than its buffer holds, whatever its count.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "EntityClass.h"

using namespace Veltrano::Halvorine;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    // The exchange the host waits for, then the packet the module sent.
    uei record{};
    record.module = data[0];
    record.command = data[1];
    record.option = data[2];
    record.specifier = data[3];
    uint8_t capacity = data[4] % 64;
    aPacket packet{};
    packet.check = aPACKET_CHECK;
    packet.address = data[0];
    packet.dataSize = static_cast<uint8>(std::min<size_t>(size - 5, aPACKET_MAX_DATA));
    packet.curSize = static_cast<uint8>(packet.dataSize + 2);
    std::memcpy(packet.data, data + 5, packet.dataSize);

    if (Link::sUEIReplyFilter(&packet, &record)) {
        check(packet.dataSize >= 3 && packet.data[0] == record.command && packet.data[1] == record.option);
        uei scalar = record;
        scalar.type = ueiNone;
        aErr err = Link::sDecodeUEIReply(&packet, &scalar);
        if (err == aErrNone) {
            const size_t lengths[] = {3, 4, 5, 0, 7};
            check(lengths[scalar.type] == packet.dataSize);
        }
    }

    uint8_t buffer[64];
    // The count is the caller's: mostly inside the buffer, sometimes far past it.
    const uint32_t start = data[4] & 0x40 ? 0xFFFFFF00u | data[0] : capacity / 2;
    uint32_t received = start;
    uei chunk = record;
    chunk.type = ueiBytes;
    chunk.value.bytes = ueiBytesValue{buffer, static_cast<uint8>(data[4] & 0x7F), false, capacity, &received};
    if (EntityClass::sUEIBytesFilter(&packet, &chunk)) {
        aErr err = Link::sDecodeUEIReply(&packet, &chunk);
        check(start > capacity ? received == start : received <= capacity);
        if (err == aErrNone) check(packet.dataSize >= 4);
    }
    return 0;
}
