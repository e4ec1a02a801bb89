// An entity value get (SystemClass serial number) through a link-sharing server
// in another process, as a ratio to the floor ZeroMQ itself sets: a bare
// request/reply echo of the same bytes between this process and a forked one
// over loopback TCP, measured in the same run. The sharing server's module sits
// on the virtual USB bus of the sharedmodule process.
//
// Two more figures put the shared get beside a direct USB link (this process's
// own virtual bus) and a direct TCP link to a module in another process (vmodule).
#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zmq.h>

#include <cstdio>
#include <memory>
#include <string>

#include "ErrorCounter.h"
#include "ModuleUsbBus.h"
#include "RoundTripPeers.h"
#include "RunningProgram.h"
#include "SystemClass.h"

using namespace RoundTrip;
using namespace Veltrano::Halvorine;

namespace {

constexpr uint32 kSharedSerial = 0x5A4E00B1;
constexpr uint32 kDirectSerial = 0x5A4E00B2;
constexpr uint32 kNetworkSerial = 0x5A4E00B3;

double gDirectUs = 0, gSharedUs = 0, gRatio = 0, gNetworkUs = 0, gNetworkRatio = 0;
double gEchoUs = 0, gEchoRatio = 0;

// A Module connected from the specifier, and its system entity.
class SerialGet {
  public:
    bool connect(linkSpec spec, aSolvanConfig config) {
        if (host_.setConfig(config) != aErrNone || host_.connectFromSpec(spec) != aErrNone) return false;
        system_.init(&host_, 0);
        connected_ = true;
        return true;
    }
    bool roundTrip() {
        unsigned int serial = 0;
        return connected_ && system_.getSerialNumber(&serial) == aErrNone;
    }

  private:
    Module host_{kAddress, false, 0};
    SystemClass system_;
    bool connected_ = false;
};

// The module and its bus are made before the Module that connects to them and go after it.
class DirectGet {
  public:
    DirectGet() : module_(moduleIdentity(kDirectSerial, 4, kAddress)) {
        bus_.attach(module_);
        linkSpec spec{};
        spec.type = USB;
        spec.serialNumber = kDirectSerial;
        aSolvanConfig config;
        config.shareThroughServer = 0;
        get_.connect(spec, config);
    }
    bool roundTrip() { return get_.roundTrip(); }

  private:
    VirtualModule module_;
    ModuleUsbBus bus_;
    SerialGet get_;
};

// A module in another process, reached over loopback TCP with no server between.
class NetworkGet {
  public:
    NetworkGet()
        : module_(
              std::string(VELTRANO_BIN_DIR) + "/vmodule",
              {"--tcp", "0", "--serial", "5A4E00B3", "--model", "4", "--address", std::to_string(kAddress)}) {
        std::string line = module_.firstLine(); // "tcp 127.0.0.1:PORT"
        size_t colon = line.find(':');
        if (colon == std::string::npos) return;
        linkSpec spec{};
        spec.type = TCPIP;
        spec.serialNumber = kNetworkSerial;
        spec.ipAddress = htonl(INADDR_LOOPBACK);
        spec.ipPort = uint16(std::stoul(line.substr(colon + 1)));
        aSolvanConfig config;
        config.shareThroughServer = 0;
        get_.connect(spec, config);
    }
    bool roundTrip() { return get_.roundTrip(); }

  private:
    RunningProgram module_;
    SerialGet get_;
};

class SharedGet {
  public:
    SharedGet()
        : server_(std::string(VELTRANO_BIN_DIR) + "/sharedmodule",
                  {"--serial", "5A4E00B1", "--model", "4", "--address", std::to_string(kAddress)}) {
        std::string line = server_.firstLine(); // "asolvan 127.0.0.1:PORT SERIAL"
        size_t colon = line.find(':');
        if (colon == std::string::npos || server_.nextLine() != "ready") return;
        linkSpec spec{};
        spec.type = ASOLVAN;
        spec.serialNumber = kSharedSerial;
        spec.ipAddress = htonl(INADDR_LOOPBACK);
        spec.ipPort = uint16(std::stoul(line.substr(colon + 1)));
        get_.connect(spec, aSolvanConfig());
    }
    bool roundTrip() { return get_.roundTrip(); }

  private:
    RunningProgram server_;
    SerialGet get_;
};

// A bare ZeroMQ REQ/REP echo of the request between this process and a forked
// one on loopback TCP. Forked before this process makes any ZeroMQ context.
class ZeroMQEcho {
  public:
    ZeroMQEcho() {
        int ports[2];
        if (pipe(ports) != 0) return;
        child_ = fork();
        if (child_ == 0) {
            close(ports[0]);
            serve(ports[1]);
        }
        close(ports[1]);
        uint16 port = 0;
        bool told = child_ > 0 && read(ports[0], &port, sizeof port) == ssize_t(sizeof port) && port != 0;
        close(ports[0]);
        if (!told) return;
        context_ = zmq_ctx_new();
        socket_ = context_ ? zmq_socket(context_, ZMQ_REQ) : nullptr;
        int linger = 0;
        if (socket_) zmq_setsockopt(socket_, ZMQ_LINGER, &linger, sizeof linger);
        char endpoint[64];
        std::snprintf(endpoint, sizeof endpoint, "tcp://127.0.0.1:%u", unsigned(port));
        connected_ = socket_ && zmq_connect(socket_, endpoint) == 0;
    }
    ~ZeroMQEcho() {
        if (socket_) zmq_close(socket_);
        if (context_) zmq_ctx_term(context_);
        if (child_ > 0) {
            kill(child_, SIGKILL);
            waitpid(child_, nullptr, 0);
        }
    }
    ZeroMQEcho(const ZeroMQEcho&) = delete;
    ZeroMQEcho& operator=(const ZeroMQEcho&) = delete;
    bool roundTrip() {
        uint8 reply[sizeof kReply];
        return connected_ && zmq_send(socket_, kRequest, sizeof kRequest, 0) == int(sizeof kRequest) &&
               zmq_recv(socket_, reply, sizeof reply, 0) == int(sizeof kReply);
    }

  private:
    // The child: answers each request with the module's reply until killed.
    [[noreturn]] static void serve(int tell) {
        void* context = zmq_ctx_new();
        void* socket = zmq_socket(context, ZMQ_REP);
        char endpoint[64];
        size_t size = sizeof endpoint;
        uint16 port = 0;
        if (zmq_bind(socket, "tcp://127.0.0.1:*") == 0 &&
            zmq_getsockopt(socket, ZMQ_LAST_ENDPOINT, endpoint, &size) == 0)
            port = uint16(std::stoul(std::string(endpoint).substr(std::string(endpoint).rfind(':') + 1)));
        if (write(tell, &port, sizeof port) != ssize_t(sizeof port) || port == 0) _exit(1);
        uint8 request[64];
        while (zmq_recv(socket, request, sizeof request, 0) >= 0)
            zmq_send(socket, kReply, sizeof kReply, 0);
        _exit(0);
    }

    pid_t child_ = -1;
    void* context_ = nullptr;
    void* socket_ = nullptr;
    bool connected_ = false;
};

// The peers in alternating blocks, so that the load of a shared machine weighs on
// both alike; the ratio is the median over blocks.
void BM_SharedVsDirectGet(benchmark::State& state) {
    constexpr int kBlock = 200;
    ZeroMQEcho echo;
    std::vector<double> echoAll, echoRatios;
    DirectGet direct;
    SharedGet shared;
    std::vector<double> directAll, sharedAll, ratios;
    NetworkGet network;
    std::vector<double> networkAll, networkRatios;
    for (auto _ : state) {
        std::vector<double> directBlock, sharedBlock, networkBlock, echoBlock;
        if (!timeRoundTrips(echo, kBlock, echoBlock) || !timeRoundTrips(direct, kBlock, directBlock) ||
            !timeRoundTrips(shared, kBlock, sharedBlock) || !timeRoundTrips(network, kBlock, networkBlock)) {
            state.SkipWithError("round trip failed");
            break;
        }
        directAll.insert(directAll.end(), directBlock.begin(), directBlock.end());
        sharedAll.insert(sharedAll.end(), sharedBlock.begin(), sharedBlock.end());
        networkAll.insert(networkAll.end(), networkBlock.begin(), networkBlock.end());
        echoAll.insert(echoAll.end(), echoBlock.begin(), echoBlock.end());
        echoRatios.push_back(median(sharedBlock) / median(echoBlock));
        ratios.push_back(median(sharedBlock) / median(directBlock));
        networkRatios.push_back(median(sharedBlock) / median(networkBlock));
    }
    gEchoUs = median(echoAll);
    gEchoRatio = median(echoRatios);
    state.counters["echo_median_us"] = gEchoUs;
    state.counters["shared_to_echo"] = gEchoRatio;
    gDirectUs = median(directAll);
    gSharedUs = median(sharedAll);
    gRatio = median(ratios);
    gNetworkUs = median(networkAll);
    gNetworkRatio = median(networkRatios);
    state.counters["direct_median_us"] = gDirectUs;
    state.counters["shared_median_us"] = gSharedUs;
    state.counters["shared_to_direct"] = gRatio;
    state.counters["network_median_us"] = gNetworkUs;
    state.counters["shared_to_network"] = gNetworkRatio;
}
BENCHMARK(BM_SharedVsDirectGet)->MinTime(4.0)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    ErrorCounter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (gEchoUs > 0)
        std::printf("round trip median: through the sharing server %.1f us, bare ZeroMQ echo between two "
                    "processes %.1f us; median block ratio shared/echo %.2f (goal <= 1.5)\n",
                    gSharedUs, gEchoUs, gEchoRatio);
    if (gDirectUs > 0)
        std::printf("beside a direct USB link: %.1f us; median block ratio shared/direct %.2f\n", gDirectUs,
                    gRatio);
    if (gNetworkUs > 0)
        std::printf("beside a direct TCP link to a module in another process: %.1f us; median block ratio "
                    "shared/network %.2f\n",
                    gNetworkUs, gNetworkRatio);
    return reporter.exitStatus();
}
