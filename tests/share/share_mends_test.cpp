// Link sharing where it used to go wrong: packets the module sends unasked, a
// pooled client link, a Ctrl+C that czmq caught, the beacon-interface lock
// while a server sets up its beacon, beacons from elsewhere reaching a
// loopback-only server, handled signals on the sharing threads, replies that
// come after their client gave up, and a server whose beacon cannot start.
#include <arpa/inet.h>
#include <dirent.h>
#include <sys/syscall.h>
#include <czmq.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "BeaconPublisher.h"
#include "ExtraPacketsArea.h"
#include "ModuleTcpServer.h"
#include "ModuleUsbBus.h"
#include "ShareFixtures.h"
#include "StreamedCounters.h"
#include "Testbed.h"
#include "VirtualModule.h"
#include "aDiscovery.h"
#include "aDiscoveryWire.h"
#include "aLink.h"
#include "aServer_ZeroMQ.h"
#include "aShareFrames.h"
#include "aStream_ZeroMQClient.h"
#include "aTime.h"
#include "zBeaconInterface.h"
#include "Required.h"

using namespace ShareTest;
using Bytes = std::vector<uint8_t>;
using Veltrano::Sim::ExtraPacketsArea;
using Veltrano::Sim::ModuleIdentity;
using Veltrano::Sim::VirtualModule;

namespace {

// [kCommand, kMarker, hi, lo] is answered with hi * 256 + lo full packets, each
// announcing one more but the last, as a long get-bytes answer is.
class LongAnswerArea : public Veltrano::Sim::ModuleArea {
  public:
    static constexpr uint8_t kCommand = 0x30;
    static constexpr uint8_t kMarker = 0xE8;
    bool handle(VirtualModule& module, const Veltrano::Sim::ModuleFrame& frame) override {
        if (frame.data.size() != 4 || frame.data[0] != kCommand || frame.data[1] != kMarker) return false;
        const unsigned count = frame.data[2] * 256u + frame.data[3];
        for (unsigned i = 0; i < count; ++i) {
            Bytes data(28, 0);
            data[0] = kCommand;
            data[1] = kMarker;
            data[2] = uint8_t(i >> 8);
            data[3] = uint8_t(i);
            data[27] = i + 1 < count ? 0x80 : 0;
            module.send(Veltrano::Sim::ModuleFrame{frame.address, data});
        }
        return true;
    }
};

ModuleIdentity sharedIdentity() {
    ModuleIdentity id;
    id.serialNumber = kSerial;
    id.model = kModel;
    id.address = kModuleAddress;
    return id;
}

// A module on this process's virtual USB bus, served on loopback by a server
// of this process.
class ServedHere {
  public:
    ServedHere() : module_(sharedIdentity()) {
        module_.addFirstArea(std::make_unique<ExtraPacketsArea>());
        module_.addFirstArea(std::make_unique<LongAnswerArea>());
        bus_.attach(module_);
        ref_ = aLink_CreateServer(kSerial, &port_, &address_, true);
        if (!ref_) throw std::runtime_error("the server did not start");
    }
    ~ServedHere() { aLink_Destroy(&ref_); }
    ServedHere(const ServedHere&) = delete;
    ServedHere& operator=(const ServedHere&) = delete;
    uint16_t port() const { return port_; }
    VirtualModule& module() { return module_; }

  private:
    VirtualModule module_;
    Veltrano::Sim::ModuleUsbBus bus_;
    uint32_t ref_ = 0;
    uint16_t port_ = 0;
    uint32_t address_ = 0;
};

// A client link of this process, running, destroyed with the object.
class Client {
  public:
    explicit Client(uint16_t port) : ref_(aLink_CreateClient(kLoopback, port, 0)) {
        for (int i = 0; ref_ && i < 300 && aLink_GetStatus(ref_) != RUNNING; ++i)
            aTime_MSSleep(10);
    }
    ~Client() {
        if (ref_) aLink_Destroy(&ref_);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    uint32_t ref() const { return ref_; }
    bool running() const { return ref_ && aLink_GetStatus(ref_) == RUNNING; }

    void send(const Bytes& data) {
        aPacket* packet = aPacket_CreateWithData(kModuleAddress, uint8_t(data.size()), data.data());
        aLink_PutPacket(ref_, packet);
        aPacket_Destroy(&packet);
    }
    // The data of the next packet from the module, or nothing within 3 s.
    Bytes next() {
        aPacket* reply = aLink_AwaitPacket(ref_, 3000);
        if (!reply) return {};
        Bytes got(reply->data, reply->data + reply->dataSize);
        aPacket_Destroy(&reply);
        return got;
    }
    Bytes echo(const Bytes& data) {
        send(data);
        return next();
    }

  private:
    uint32_t ref_;
};

// Sends the signal to every thread of this process but the calling one; the
// number of threads signalled.
int signalEveryOtherThread(int signal) {
    int signalled = 0;
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks) return 0;
    const pid_t self = pid_t(syscall(SYS_gettid));
    while (dirent* entry = readdir(tasks)) {
        const pid_t tid = pid_t(std::atoi(entry->d_name));
        if (tid <= 0 || tid == self) continue;
        signalled += syscall(SYS_tgkill, getpid(), tid, signal) == 0;
    }
    closedir(tasks);
    return signalled;
}

// Whatever the module put on its link besides the reply to the request before
// (answers to a resync's sync burst, a packet sent on its own account) is not
// taken for the reply to the next request, whoever sends it.
TEST(ShareMends, PacketsTheModuleSentUnaskedAreNoOnesReply) {
    ServedHere served;
    Client first(served.port());
    Client second(served.port());
    ASSERT_TRUE(first.running());
    ASSERT_TRUE(second.running());
    for (uint8_t extra : {1, 4}) {
        SCOPED_TRACE(int(extra));
        const Bytes asking = {23, ExtraPacketsArea::kMarker, extra};
        ASSERT_EQ(first.echo(asking), asking);
        aTime_MSSleep(50); // the extra packets are in the server's queue by now
        for (uint8_t i = 0; i < 3; ++i) {
            EXPECT_EQ(second.echo({23, 0x51, i}), (Bytes{23, 0x51, i}));
            EXPECT_EQ(first.echo({23, 0x52, i}), (Bytes{23, 0x52, i}));
        }
    }
}

// A pooled link writes many queued packets at once; each still reaches the
// server as a frame of its own, and gets its reply.
TEST(ShareMends, APooledClientLinkGetsEveryReply) {
    ServedHere served;
    Client client(served.port());
    ASSERT_TRUE(client.running());
    ASSERT_EQ(aLink_EnablePooledPackets(client.ref(), true), aErrNone);
    constexpr uint8_t kRequests = 40;
    for (uint8_t i = 0; i < kRequests; ++i)
        client.send({23, 0x60, i, uint8_t(i * 3)});
    for (uint8_t i = 0; i < kRequests; ++i)
        ASSERT_EQ(client.next(), (Bytes{23, 0x60, i, uint8_t(i * 3)})) << "request " << int(i);
}

// An answer longer than the server's internal queues reaches its client whole,
// and the next client's reply still goes to that client.
TEST(ShareMends, AnAnswerLongerThanTheServersQueuesReachesItsClient) {
    ServedHere served;
    Client asking(served.port());
    Client next(served.port());
    ASSERT_TRUE(asking.running());
    ASSERT_TRUE(next.running());
    constexpr unsigned kReplies = 1000; // as many as a link's queue holds
    asking.send({LongAnswerArea::kCommand, LongAnswerArea::kMarker, kReplies >> 8, kReplies & 0xFF});
    unsigned got = 0;
    for (Bytes reply = asking.next(); !reply.empty(); reply = got < kReplies ? asking.next() : Bytes()) {
        ASSERT_EQ(reply.size(), 28u);
        ASSERT_EQ(reply[2] * 256u + reply[3], got) << "replies in order";
        ++got;
    }
    EXPECT_EQ(got, kReplies);
    EXPECT_EQ(next.echo({23, 0x53, 7}), (Bytes{23, 0x53, 7}));
    EXPECT_EQ(asking.echo({23, 0x54, 8}), (Bytes{23, 0x54, 8}));
}

std::atomic<int> gInterrupts{0};

void sCountInterrupt(int) {
    gInterrupts++;
}

// As if czmq's handler had caught a Ctrl+C, with the program's own handler
// counting what it is handed; both undone at the end.
class CaughtCtrlC {
  public:
    CaughtCtrlC() {
        struct sigaction counting {};
        counting.sa_handler = sCountInterrupt;
        sigemptyset(&counting.sa_mask);
        sigaction(SIGINT, &counting, &previous_);
        gInterrupts = 0;
        zsys_interrupted = 1;
    }
    ~CaughtCtrlC() {
        zsys_interrupted = 0;
        sigaction(SIGINT, &previous_, nullptr);
    }

  private:
    struct sigaction previous_ {};
};

// czmq caught a Ctrl+C meant for the program (some part of the process let it
// install its handler): the client links' threads hand it on to the program
// once, not each time one of them next polls.
TEST(ShareMends, ACtrlCCaughtByCzmqIsPassedOnOnce) {
    std::vector<aStream*> streams(3, nullptr);
    {
        CaughtCtrlC caught; // before the client threads start: they read the flag
        for (aStream*& stream : streams)
            ASSERT_EQ(aStream_CreateClient(kLoopback, 9, &stream), aErrNone);
        // Each thread polls within its one-second poll interval.
        aTime_MSSleep(1500);
        for (aStream*& stream : streams)
            aStream_Destroy(&stream);
    }
    EXPECT_EQ(gInterrupts, 1);
}

// A module that never answers one client holds up the request another client
// queued behind it, which gives up after 1000 ms, as a Link does, and asks the
// same again. The late reply to its first request must not answer the second
// (which would leave it one reply behind for ever).
TEST(ShareMends, NoLateReplyAnswersAClientsNextRequest) {
    ServedHere served;
    Client silent(served.port()), asking(served.port());
    ASSERT_TRUE(silent.running() && asking.running());
    Veltrano::Sim::ModuleFaults faults;
    faults.replies["echo"] = Veltrano::Sim::ReplyFault{Veltrano::Sim::ReplyFaultKind::NoReply, 0, 1, 0};
    served.module().setFaults(faults);
    silent.send({23, 0x70, 0});
    aTime_MSSleep(20); // it reaches the module first
    const Bytes get{23, 0x71, 1};
    asking.send(get);
    aPacket* first = aLink_AwaitPacket(asking.ref(), 1000);
    EXPECT_EQ(first, nullptr) << "queued behind a request the server waits 2000 ms for";
    aPacket_Destroy(&first);
    for (int again = 0; again < 2; ++again) {
        SCOPED_TRACE(again);
        EXPECT_EQ(asking.echo(get), get);
        aPacket* late = aLink_AwaitPacket(asking.ref(), again == 0 ? 1500 : 300);
        EXPECT_EQ(late, nullptr) << "a reply too many: the client is one behind";
        aPacket_Destroy(&late);
    }
}

// Another program holds UDP 8585 (without address reuse): the server starts
// without its beacon and serves all the same.
TEST(ShareMends, AServerStartsWithoutItsBeaconWhenThePortIsHeld) {
    const int holder = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(holder, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(8585);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    {
        ServedHere served;
        Client client(served.port());
        ASSERT_TRUE(client.running());
        EXPECT_EQ(client.echo({23, 0x61, 1}), (Bytes{23, 0x61, 1}));
    }
    close(holder);
}

// A handled signal on each thread of the process in turn (as glibc's own
// signal for setuid and setgid reaches every thread) interrupts the sharing
// tasks' polls: the client task, the broker and the sync task all go on.
TEST(ShareMends, HandledSignalsOnEveryThreadEndNoSharingTask) {
    // Left installed: a thread the scheduler has not run yet still has its
    // signal pending when the test ends.
    struct sigaction handled {};
    handled.sa_handler = [](int) {};
    sigemptyset(&handled.sa_mask); // no SA_RESTART: a poll answers EINTR
    ASSERT_EQ(sigaction(SIGUSR1, &handled, nullptr), 0);
    ServedHere served;
    Client client(served.port());
    ASSERT_TRUE(client.running());
    ASSERT_EQ(client.echo({23, 0x60, 0}), (Bytes{23, 0x60, 0}));
    for (uint8_t round = 1; round <= 3; ++round) {
        SCOPED_TRACE(int(round));
        const int signalled = signalEveryOtherThread(SIGUSR1);
        EXPECT_GE(signalled, 5) << "the link, server and client threads";
        EXPECT_EQ(client.echo({23, 0x60, round}), (Bytes{23, 0x60, round}));
    }
}

// Another beacon owner changes the shared beacon interface setting all the while.
// A server's beacon is given its own interface and never reads the setting, so it
// always starts on its own interface, never on the other owner's (which does not
// exist here), and no ThreadSanitizer report comes of the setting changing.
TEST(ShareMends, AServerStartsWhileAnotherBeaconOwnerChangesTheInterface) {
    VELTRANO_REQUIRE(ApiTest::Testbed::unavailableReason());
    ApiTest::Testbed testbed;
    // An interface czmq's own beacon serves; its beacons stay on the veth pair.
    ApiTest::VethLink veth = testbed.addLink();
    in_addr near{};
    ASSERT_EQ(inet_pton(AF_INET, veth.nearAddress.c_str(), &near), 1);
    VirtualModule module(sharedIdentity());
    Veltrano::Sim::ModuleTcpServer tcp(module);
    uint32_t ref = aLink_CreateTCPIP(kLoopback, tcp.port());
    ASSERT_NE(ref, 0u);
    std::atomic<bool> stop{false};
    std::atomic<int> changes{0};
    std::thread other([&] {
        // Always waiting for the lock, so it takes it the moment it is free.
        while (!stop) {
            if (zBeaconInterface_setAndLock("10.99.0.1")) {
                changes++;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                zBeaconInterface_unlock();
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    int failed = 0;
    for (int round = 0; round < 40; ++round) {
        aServer* server = aServer_Create(ref, near.s_addr, false);
        ASSERT_NE(server, nullptr);
        if (!aServer_Start(server)) failed++;
        aServer_Destroy(&server);
    }
    stop = true;
    other.join();
    aLink_Destroy(&ref);
    EXPECT_GT(changes, 0);
    EXPECT_EQ(failed, 0) << "servers whose beacon got the other owner's interface";
}

// Counts a server's beacon answers heard on loopback.
class AnswerListener {
  public:
    AnswerListener() : socket_(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)) {
        const int on = 1;
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(aDISCOVERY_BEACON_PORT);
        at.sin_addr.s_addr = htonl(INADDR_ANY);
        if (socket_ < 0 || setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            setsockopt(socket_, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0 ||
            bind(socket_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
            throw std::runtime_error("cannot listen for beacons");
    }
    ~AnswerListener() { close(socket_); }
    AnswerListener(const AnswerListener&) = delete;
    AnswerListener& operator=(const AnswerListener&) = delete;

    // Answers naming our server heard within forMs.
    int answersWithin(int forMs) {
        int answers = 0;
        const uint32_t start = aTime_GetMSTicks();
        for (uint32_t waited = 0; waited < uint32_t(forMs); waited = aTime_GetMSTicks() - start) {
            pollfd ready = {socket_, POLLIN, 0};
            if (poll(&ready, 1, forMs - int(waited)) <= 0) continue;
            linkSpec spec{};
            ssize_t n = recv(socket_, &spec, sizeof spec, MSG_DONTWAIT);
            if (n == ssize_t(sizeof spec) && spec.type == ASOLVAN && spec.serialNumber == kSerial) answers++;
        }
        return answers;
    }

  private:
    int socket_;
};

// Discovery beacons from another address of the loopback network pass for
// another host's: a loopback-only server never answers them, and goes on
// answering this host's discoveries while they flood in.
TEST(ShareMends, ALoopbackServerIgnoresForeignBeacons) {
    ServedHere served;
    AnswerListener listener;
    Veltrano::Sim::BeaconPublisherOptions foreign;
    foreign.from = "127.0.0.2";
    foreign.payload = "Halvorine2-Discovery";
    foreign.intervalMs = 5;
    Veltrano::Sim::BeaconPublisher flood(foreign);
    EXPECT_EQ(listener.answersWithin(1000), 0) << "answered another host";
    EXPECT_GT(flood.sent(), 50u);

    linkSpec* found = aDiscovery_FindModule(ASOLVAN, kSerial, 0);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->ipAddress, kLoopback);
    EXPECT_EQ(found->ipPort, served.port());
    aLinkSpec_Destroy(&found);
}

} // namespace

namespace {

constexpr uint8_t kCounterCommand = 18, kCounterOption = 5;

Bytes streamControl(bool enable, uint8_t index) {
    return {93, uint8_t(enable ? 0x81 : 0x82), 0x20, kModuleAddress, kCounterCommand, kCounterOption, index};
}

// What a raw client link got within forMs: confirmations of stream controls, and
// the indexes of the counter samples.
struct Heard {
    int confirmations = 0;
    std::vector<uint8_t> sampleIndexes;
    int samplesAfterConfirmation = 0;
};

Heard listen(Client& client, uint32_t forMs) {
    Heard heard;
    const uint32_t start = aTime_GetMSTicks();
    for (uint32_t waited = 0; waited < forMs; waited = aTime_GetMSTicks() - start) {
        aPacket* packet = aLink_AwaitPacket(client.ref(), forMs - waited);
        if (!packet) continue;
        if (packet->dataSize >= 3 && packet->data[0] == 93 && (packet->data[1] & 0xC0) == 0xC0 &&
            packet->data[2] == 0)
            heard.confirmations++;
        else if (packet->dataSize >= 3 && packet->data[0] == kCounterCommand) {
            heard.sampleIndexes.push_back(packet->data[2] & 0x1F);
            if (heard.confirmations) heard.samplesAfterConfirmation++;
        }
        aPacket_Destroy(&packet);
    }
    return heard;
}

} // namespace

// Two clients of one server subscribe to different counters of a module that sends
// no heartbeats, streaming slowly (4 KB of samples would take seconds). Each gets
// its own counter's samples within moments, and only those; once its
// unsubscription is confirmed, no more.
TEST(ShareMends, EachSubscriberGetsOnlyItsValuesPromptlyWithoutHeartbeats) {
    ServedHere served;
    served.module().stream().setSources(Veltrano::Sim::streamedCounters());
    served.module().stream().setRate(40);
    Client first(served.port()), second(served.port());
    ASSERT_TRUE(first.running() && second.running());
    first.send(streamControl(true, 0));
    second.send(streamControl(true, 1));

    struct Case {
        Client* client;
        uint8_t index;
    } cases[] = {{&first, 0}, {&second, 1}};
    std::vector<std::future<Heard>> heard;
    for (const Case& c : cases)
        heard.push_back(std::async(std::launch::async, [&c] { return listen(*c.client, 1000); }));
    for (size_t i = 0; i < heard.size(); ++i) {
        Heard got = heard[i].get();
        const uint8_t own = cases[i].index;
        EXPECT_EQ(got.confirmations, 1) << "client " << i;
        EXPECT_GE(got.sampleIndexes.size(), 3u) << "client " << i << ": samples held back";
        for (uint8_t index : got.sampleIndexes)
            ASSERT_EQ(index, own) << "client " << i << " got another's sample";
    }

    first.send(streamControl(false, 0));
    Heard after = listen(first, 600);
    EXPECT_EQ(after.confirmations, 1);
    EXPECT_EQ(after.samplesAfterConfirmation, 0) << "samples after the unsubscription was confirmed";
    EXPECT_GE(listen(second, 600).sampleIndexes.size(), 3u) << "the other stream goes on";
}

// A set-bytes sequence longer than the server takes whole is refused to its client
// with a size error, as the module would refuse it; nothing of it reaches the
// module, and the client's next request is answered as usual.
TEST(ShareMends, AnOverlongSequenceIsRefusedWithASizeError) {
    ServedHere served;
    Client client(served.port());
    ASSERT_TRUE(client.running());
    const uint32_t packets = aSHARE_SEQUENCE_MAX_PACKETS + 1;
    for (uint32_t n = 0; n < packets; ++n) {
        const bool last = n + 1 == packets;
        Bytes data(last ? 10 : 28, 0x55);
        data[0] = 0x40;
        data[1] = 0x83; // a set of option 3
        data[2] = 0x21;
        data.back() = uint8_t((n & 0x7F) | (last ? 0 : 0x80));
        client.send(data);
        if (n % 64 == 63) aTime_MSSleep(2); // paced, so no queue of the way overflows
    }
    EXPECT_EQ(client.next(), (Bytes{0x40, 0xC3, 0x81, aErrSize}));
    EXPECT_EQ(client.echo({23, 1, 2}), (Bytes{23, 1, 2})) << "the next request is answered";
}
