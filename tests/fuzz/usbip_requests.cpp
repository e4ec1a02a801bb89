// The USB/IP request parser on arbitrary host bytes, fed in input-chosen pieces:
// it never reads outside what it was given, every request it yields is whole
// (an OUT carries exactly its buffer length), and a failed stream yields nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "UsbIpCodec.h"

using namespace Veltrano::Sim::UsbIp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte chooses the piece size; the rest is the stream.
    size_t piece = data[0] % 97 + 1;
    ++data;
    --size;
    RequestParser parser;
    for (size_t at = 0; at < size; at += piece) {
        parser.feed(data + at, std::min(piece, size - at));
        while (auto request = parser.next()) {
            if (const auto* submit = std::get_if<Submit>(&*request)) {
                size_t expected = submit->direction == kDirOut ? submit->bufferLength : 0;
                if (submit->data.size() != expected || submit->ep > 15) std::abort();
            }
            if (parser.failed()) std::abort();
        }
    }
    return 0;
}
