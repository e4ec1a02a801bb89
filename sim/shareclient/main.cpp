// shareclient: a program that uses a module through a link-sharing server, for
// the sharing tests. It sends echo requests that carry its own id and checks that
// every reply it gets is the echo of its own request; or (--vanish) sends a slow
// echo and goes away before the answer. It may subscribe to one of a sharedmodule's
// streamed counters meanwhile, and finds the server by beacon with --discover.
//
// Output, one line each: "ok N" after N good exchanges, else "wrong ..." or
// "missing ..."; with --subscribe the tally of the samples ("stream N first F gaps
// G disorder D foreign X drops R"); "stray N": stream samples that reached the
// link's ordinary traffic at the end, once no subscription stood (with --subscribe
// or --await-streaming). Exit status: 0 all good, 1 a wrong reply,
// 3 a missing one, 4 no link, 5 fewer samples than --samples or a failed (un)subscription, 6 no server found.
#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Link.h"
#include "ProgramOptions.h"
#include "SampleTally.h"
#include "StreamedCounters.h"
#include "aDiscovery.h"
#include "aTime.h"

using namespace Veltrano::Sim;
using Veltrano::Halvorine::Link;

namespace {

const char* kUsage = "usage: shareclient (--port P | --discover SERIAL) [options]\n"
                     "  --host ADDRESS      server address (default 127.0.0.1)\n"
                     "  --discover SERIAL   find the server of this module (hexadecimal) by beacon\n"
                     "  --interface ADDRESS discovery's interface (default: any)\n"
                     "  --module A          module address (default 4)\n"
                     "  --id N              this client's id byte (default 1)\n"
                     "  --count N           echo exchanges (default 100)\n"
                     "  --vanish            send one slow echo and leave without its answer\n"
                     "  --subscribe I       subscribe to streamed counter I (0-3) first\n"
                     "  --samples N         then wait for N samples of it (default 0)\n"
                     "  --await-streaming   wait until the module streams before the exchanges\n";

constexpr uint8_t kEcho = 23;
constexpr uint8_t kSlowMarker = 0xDE;
constexpr uint32_t kReplyWaitMs = 3000;
constexpr uint32_t kSamplesWaitMs = 20000;
constexpr uint32_t kStreamingWaitMs = 10000;
constexpr uint8_t kNoCounter = 0xFF;
// Long enough for several heartbeats, each of which sends a batch of samples.
constexpr uint32_t kStrayWaitMs = 300;

struct Options {
    uint32_t host = 0x0100007F;
    uint16_t port = 0;
    uint32_t discover = 0;
    uint32_t interface = 0;
    uint8_t module = 4;
    uint8_t id = 1;
    uint32_t count = 100;
    bool vanish = false;
    uint8_t counter = kNoCounter;
    uint32_t samples = 0;
    bool awaitStreaming = false;
};

uint32_t address(const char* text) {
    in_addr a;
    if (inet_pton(AF_INET, text, &a) != 1) throw std::invalid_argument(std::string("bad address ") + text);
    return a.s_addr;
}

void parse(Options* o, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--vanish" || option == "--await-streaming") {
            (option == "--vanish" ? o->vanish : o->awaitStreaming) = true;
            continue;
        }
        if (i + 1 >= argc) throw std::invalid_argument("missing value for " + option);
        const char* value = argv[++i];
        if (option == "--port")
            o->port = uint16_t(programNumber(value, 0, 65535));
        else if (option == "--discover")
            o->discover = uint32_t(programNumber(value, 16, 0xFFFFFFFF));
        else if (option == "--module")
            o->module = uint8_t(programNumber(value, 0, 254));
        else if (option == "--id")
            o->id = uint8_t(programNumber(value, 0, 255));
        else if (option == "--count")
            o->count = uint32_t(programNumber(value, 0, 1000000));
        else if (option == "--subscribe")
            o->counter = uint8_t(programNumber(value, 0, kCounters - 1));
        else if (option == "--samples")
            o->samples = uint32_t(programNumber(value, 0, 1000000));
        else if (option == "--host")
            o->host = address(value);
        else if (option == "--interface")
            o->interface = address(value);
        else
            throw std::invalid_argument("unknown option " + option);
    }
    if (o->port == 0 && o->discover == 0) throw std::invalid_argument("--port or --discover is required");
}

// The server to connect to: the one given, or the one that answers a beacon.
bool locate(const Options& o, linkSpec* spec) {
    std::memset(spec, 0, sizeof *spec);
    if (o.discover == 0) {
        spec->type = ASOLVAN;
        spec->ipAddress = o.host;
        spec->ipPort = o.port;
        return true;
    }
    linkSpec* found = aDiscovery_FindModule(ASOLVAN, o.discover, o.interface);
    if (!found) return false;
    *spec = *found;
    aLinkSpec_Destroy(&found);
    char text[INET_ADDRSTRLEN] = {0};
    in_addr in;
    in.s_addr = spec->ipAddress;
    inet_ntop(AF_INET, &in, text, sizeof text);
    std::printf("found %s:%u\n", text, unsigned(spec->ipPort));
    return true;
}

// The request of exchange i: the id, the exchange number and a length that varies.
std::vector<uint8_t> request(uint8_t id, uint32_t i) {
    std::vector<uint8_t> data = {kEcho, id, uint8_t(i), uint8_t(i >> 8)};
    for (uint32_t extra = 0; extra < i % 20; ++extra)
        data.push_back(uint8_t(id ^ extra));
    return data;
}

int exchange(const Options& o, Link& link) {
    for (uint32_t i = 0; i < o.count; ++i) {
        std::vector<uint8_t> data = request(o.id, i);
        link.sendPacket(o.module, data[0], uint8_t(data.size() - 1), data.data() + 1);
        unsigned char reply[aPACKET_MAX_DATA];
        unsigned char length = 0; // any packet
        if (link.receivePacket(o.module, nullptr, &length, reply, kReplyWaitMs) != aErrNone) {
            std::printf("missing reply %u\n", unsigned(i));
            return 3;
        }
        if (length != data.size() || std::memcmp(reply, data.data(), length) != 0) {
            std::printf("wrong reply %u (id %u)\n", unsigned(i), length > 1 ? unsigned(reply[1]) : 0u);
            return 1;
        }
    }
    std::printf("ok %u\n", unsigned(o.count));
    return 0;
}

bool awaitStreaming(const Options& o, Link& link) {
    for (uint32_t waited = 0; waited < kStreamingWaitMs; waited += 20) {
        unsigned char state = 0;
        if (link.isLinkStreaming(o.module, &state) == aErrNone && state) return true;
        aTime_MSSleep(20);
    }
    return false;
}

// Stream samples left among the link's received packets: none should be there.
unsigned countStrays(const Options& o, Link& link) {
    unsigned strays = 0;
    unsigned char data[aPACKET_MAX_DATA];
    unsigned char length = 0;
    // A wait of 0 would look at nothing: the shortest wait takes what is there.
    while (link.receivePacket(o.module, nullptr, &length, data, 1) == aErrNone) {
        aPacket* packet = aPacket_CreateWithData(o.module, length, data);
        if (packet && Link::isStreamPacket(packet)) ++strays;
        aPacket_Destroy(&packet);
        length = 0;
    }
    return strays;
}

aErr subscribe(const Options& o, Link& link, SampleTally* tally, bool enable) {
    return link.registerStreamCallback(o.module, kCounterCommand, kCounterOption, o.counter, enable,
                                       enable ? SampleTally::callback() : nullptr, tally);
}

[[noreturn]] void vanish(const Options& o, Link& link) {
    const uint8_t slow[] = {kSlowMarker, o.id};
    link.sendPacket(o.module, kEcho, sizeof slow, slow);
    aTime_MSSleep(200); // long enough for the request to leave, far shorter than the echo's delay
    std::printf("gone\n");
    std::fflush(stdout);
    _exit(0); // no goodbye: the connection just ends
}

int run(const Options& o) {
    linkSpec spec;
    if (!locate(o, &spec)) {
        std::printf("not found\n");
        return 6;
    }
    // Made before the Link, so it goes after it on every return: the Link's
    // delivery thread calls into it until the Link goes.
    auto tally = std::make_unique<SampleTally>(kCounterCommand, kCounterOption, o.counter);
    Link link(spec, "shareclient");
    if (link.connect() != aErrNone) {
        std::printf("no link\n");
        return 4;
    }
    const bool subscribing = o.counter != kNoCounter;
    if (subscribing && subscribe(o, link, tally.get(), true) != aErrNone) {
        std::printf("subscription failed\n");
        return 5;
    }
    if (o.vanish) vanish(o, link);
    if (o.awaitStreaming && !awaitStreaming(o, link)) {
        std::printf("the module does not stream\n");
        return 5;
    }
    int status = exchange(o, link);
    if (subscribing) {
        bool complete = status == 0 && tally->awaitSamples(o.samples, kSamplesWaitMs);
        if (status == 0 && !complete) status = 5;
        std::printf("%s drops %llu\n", tally->summary().c_str(), link.getStreamDrops());
        if (status == 0 && subscribe(o, link, tally.get(), false) != aErrNone) {
            std::printf("unsubscribing failed\n");
            status = 5;
        }
    }
    if (status == 0 && (subscribing || o.awaitStreaming)) {
        // Samples sent before the server took the unsubscription arrive before its
        // confirmation and find no filter any more: those are let go.
        if (subscribing) countStrays(o, link);
        aTime_MSSleep(kStrayWaitMs);
        std::printf("stray %u\n", countStrays(o, link));
    }
    link.disconnect(); // delivery ends before the tally goes
    return status;
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
    int status = run(o);
    std::fflush(stdout);
    return status;
}
