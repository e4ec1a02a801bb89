// shareclient: a program that uses a module through a link-sharing server, for
// the sharing tests. It sends echo requests that carry its own id and checks that
// every reply it gets is the echo of its own request; or (--vanish) sends a slow
// echo and goes away before the answer. Prints "ok N" after N good exchanges
// (exit 0); "wrong ..." (exit 1) or "missing ..." (exit 3) otherwise.
#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "ProgramOptions.h"
#include "aLink.h"
#include "aStream_ZeroMQClient.h"
#include "aTime.h"

using namespace Veltrano::Sim;

namespace {

const char* kUsage = "usage: shareclient --port P [options]\n"
                     "  --host ADDRESS  server address (default 127.0.0.1)\n"
                     "  --module A      module address (default 4)\n"
                     "  --id N          this client's id byte (default 1)\n"
                     "  --count N       echo exchanges (default 100)\n"
                     "  --vanish        send one slow echo and leave without its answer\n";

constexpr uint8_t kEcho = 23;
constexpr uint8_t kSlowMarker = 0xDE;
constexpr uint32_t kReplyWaitMs = 3000;
constexpr uint32_t kRunWaitMs = 3000;

struct Options {
    uint32_t host = 0x0100007F;
    uint16_t port = 0;
    uint8_t module = 4;
    uint8_t id = 1;
    uint32_t count = 100;
    bool vanish = false;
};

void parse(Options* o, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--vanish") {
            o->vanish = true;
            continue;
        }
        if (i + 1 >= argc) throw std::invalid_argument("missing value for " + option);
        const char* value = argv[++i];
        if (option == "--port")
            o->port = uint16_t(programNumber(value, 0, 65535));
        else if (option == "--module")
            o->module = uint8_t(programNumber(value, 0, 254));
        else if (option == "--id")
            o->id = uint8_t(programNumber(value, 0, 255));
        else if (option == "--count")
            o->count = uint32_t(programNumber(value, 0, 1000000));
        else if (option == "--host") {
            in_addr a;
            if (inet_pton(AF_INET, value, &a) != 1) throw std::invalid_argument("bad host");
            o->host = a.s_addr;
        } else
            throw std::invalid_argument("unknown option " + option);
    }
    if (o->port == 0) throw std::invalid_argument("--port is required");
}

bool awaitRunning(uint32_t ref) {
    for (uint32_t waited = 0; waited < kRunWaitMs; waited += 10) {
        if (aLink_GetStatus(ref) == RUNNING) return true;
        aTime_MSSleep(10);
    }
    return false;
}

// The request of exchange i: the id, the exchange number and a length that varies.
std::vector<uint8_t> request(uint8_t id, uint32_t i) {
    std::vector<uint8_t> data = {kEcho, id, uint8_t(i), uint8_t(i >> 8)};
    for (uint32_t extra = 0; extra < i % 20; ++extra)
        data.push_back(uint8_t(id ^ extra));
    return data;
}

int exchange(const Options& o, uint32_t ref) {
    for (uint32_t i = 0; i < o.count; ++i) {
        std::vector<uint8_t> data = request(o.id, i);
        aPacket* packet = aPacket_CreateWithData(o.module, uint8_t(data.size()), data.data());
        aLink_PutPacket(ref, packet);
        aPacket_Destroy(&packet);
        aPacket* reply = aLink_AwaitPacket(ref, kReplyWaitMs);
        if (!reply) {
            std::printf("missing reply %u\n", unsigned(i));
            return 3;
        }
        bool same = reply->dataSize == data.size() && std::memcmp(reply->data, data.data(), data.size()) == 0;
        unsigned from = reply->dataSize > 1 ? reply->data[1] : 0;
        aPacket_Destroy(&reply);
        if (!same) {
            std::printf("wrong reply %u (id %u)\n", unsigned(i), from);
            return 1;
        }
    }
    std::printf("ok %u\n", unsigned(o.count));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    try {
        parse(&o, argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "shareclient: %s\n%s", e.what(), kUsage);
        return 2;
    }
    uint32_t ref = aLink_CreateClient(o.host, o.port, 0);
    if (!ref || !awaitRunning(ref)) {
        std::printf("no link\n");
        return 4;
    }
    if (o.vanish) {
        const uint8_t slow[] = {kEcho, kSlowMarker, o.id};
        aPacket* packet = aPacket_CreateWithData(o.module, sizeof slow, slow);
        aLink_PutPacket(ref, packet);
        aPacket_Destroy(&packet);
        aTime_MSSleep(200); // long enough for the request to leave, far shorter than the echo's delay
        std::printf("gone\n");
        std::fflush(stdout);
        _exit(0); // no goodbye: the connection just ends
    }
    int status = exchange(o, ref);
    std::fflush(stdout);
    aLink_Destroy(&ref);
    return status;
}
