// Links whose transport takes nothing more: puts never wait for it, a request's
// time-out holds, and a stop ends the threads wherever they wait, without
// cancelling them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "LinkFixtures.h"
#include "ModuleUsbBus.h"
#include "VirtualModule.h"

using namespace LinkTest;
using Veltrano::Sim::ModuleIdentity;
using Veltrano::Sim::ModuleUsbBus;
using Veltrano::Sim::VirtualModule;

namespace {

// Writes to a non-blocking descriptor until it takes no more.
void fill(int fd) {
    static const char junk[4096] = {};
    while (::write(fd, junk, sizeof junk) > 0) {
    }
}

// A link whose transport is jammed: the peer never reads (or the module takes no
// data), so every write waits for room until its own bound.
class JammedLink {
  public:
    virtual ~JammedLink() = default;
    uint32 ref = 0;
};

// A socketpair whose buffers the test has filled before the link got it.
class JammedDescriptor : public JammedLink {
  public:
    JammedDescriptor() {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
        fill(fds[0]);
        peer_ = fds[1];
        aStream* stream = nullptr;
        EXPECT_EQ(aStream_CreateDescriptor(fds[0], &stream), aErrNone);
        ref = aLink_Create(stream);
    }
    ~JammedDescriptor() override {
        if (ref) aLink_Destroy(&ref);
        ::close(peer_);
    }

  private:
    int peer_ = -1;
};

// A virtual USB module that stops taking data once the link is made.
class JammedUsb : public JammedLink {
  public:
    JammedUsb() : module_(identity()) {
        bus_.attach(module_);
        ref = aLink_CreateUSB(identity().serialNumber);
        bus_.setStalled(module_, true);
    }
    ~JammedUsb() override {
        if (ref) aLink_Destroy(&ref);
    }

  private:
    static ModuleIdentity identity() {
        ModuleIdentity id;
        id.serialNumber = 0x0051A11E;
        return id;
    }
    ModuleUsbBus bus_;
    VirtualModule module_;
};

// A serial port at 9600 baud (a pseudo-terminal) whose far end reads nothing, with
// pooling on: a whole 4 KiB batch takes seconds on such a line.
class JammedSerial : public JammedLink {
  public:
    JammedSerial() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {0};
        EXPECT_TRUE(master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0 &&
                    ::ptsname_r(master_, name, sizeof name) == 0);
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(slave_, 0);
        fill(slave_);
        ref = aLink_CreateSerial(0x0051A11F, name, 9600);
        if (ref) aLink_EnablePooledPackets(ref, true);
    }
    ~JammedSerial() override {
        if (ref) aLink_Destroy(&ref);
        ::close(slave_);
        ::close(master_);
    }

  private:
    int master_ = -1;
    int slave_ = -1;
};

// A caller's stream whose read waits for a byte that never comes, until the stream
// is interrupted (or a minute has passed).
class WaitingReadStream {
  public:
    static aStream* make(std::shared_ptr<WaitingReadStream> state) {
        aStream* stream = aStream_Create(getByte, nullptr, writeBuffer, destroy, new auto(state));
        aStream_SetInterrupt(stream, interrupt);
        return stream;
    }
    bool reading() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reading_;
    }

  private:
    using Ref = std::shared_ptr<WaitingReadStream>;
    static WaitingReadStream& of(void* ref) { return **static_cast<Ref*>(ref); }
    static aErr getByte(uint8*, void* ref) {
        WaitingReadStream& s = of(ref);
        std::unique_lock<std::mutex> lock(s.mutex_);
        s.reading_ = true;
        s.changed_.wait_for(lock, std::chrono::seconds(60), [&s] { return s.interrupted_; });
        return aErrCancel;
    }
    static aErr writeBuffer(const uint8*, uint32, void*) { return aErrNone; }
    static aErr interrupt(void* ref) {
        WaitingReadStream& s = of(ref);
        std::lock_guard<std::mutex> lock(s.mutex_);
        s.interrupted_ = true;
        s.changed_.notify_all();
        return aErrNone;
    }
    static aErr destroy(void* ref) {
        delete static_cast<Ref*>(ref);
        return aErrNone;
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    bool reading_ = false;
    bool interrupted_ = false;
};

class JammedCallerStream : public JammedLink {
  public:
    JammedCallerStream() : state_(std::make_shared<WaitingReadStream>()) {
        ref = aLink_Create(WaitingReadStream::make(state_));
        EXPECT_TRUE(eventually([this] { return state_->reading(); }));
    }
    ~JammedCallerStream() override {
        if (ref) aLink_Destroy(&ref);
    }

  private:
    std::shared_ptr<WaitingReadStream> state_;
};

struct Case {
    const char* name;
    std::function<std::unique_ptr<JammedLink>()> make;
};

const Case kCases[] = {
    {"descriptor", [] { return std::make_unique<JammedDescriptor>(); }},
    {"usb", [] { return std::make_unique<JammedUsb>(); }},
    {"serial", [] { return std::make_unique<JammedSerial>(); }},
};

aPacket* request() {
    const uint8 data[] = {0x03, 0x49, 0x20};
    return aPacket_CreateWithData(0x04, sizeof data, data);
}

// 30 wire bytes: 300 of them are more than any of these transports takes at once.
aPacket* fullPacket() {
    const uint8 data[aPACKET_MAX_DATA] = {0x03, 0x49, 0x20};
    return aPacket_CreateWithData(0x04, sizeof data, data);
}

bool anyPacket(const aPacket*, void*) {
    return true;
}

// Puts go at once, a request still times out after its 1000 ms, and the stop ends
// the reader waiting on its stream (an input wait, a USB transfer, a caller's read)
// and the writer waiting for room (a descriptor or serial write, USB write attempts).
TEST(LinkStop, PutsNeverWaitAndDestroyEndsThreadsWhereverTheyWait) {
    std::vector<Case> cases(std::begin(kCases), std::end(kCases));
    cases.push_back({"caller's stream", [] { return std::make_unique<JammedCallerStream>(); }});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<JammedLink> link = c.make();
        ASSERT_NE(link->ref, 0u);
        aPacket* packet = fullPacket();
        uint32 slowest = 0;
        for (int i = 0; i < 300; ++i) {
            uint32 start = aTime_GetMSTicks();
            EXPECT_EQ(aLink_PutPacket(link->ref, packet), aErrNone);
            slowest = std::max(slowest, aTime_GetMSTicks() - start);
        }
        EXPECT_LT(slowest, 20u);
        aPacket_Destroy(&packet);

        packet = request();
        uint32 start = aTime_GetMSTicks();
        EXPECT_EQ(aLink_PutPacket(link->ref, packet), aErrNone);
        aPacket* reply = aLink_AwaitFirst(link->ref, anyPacket, nullptr, 1000);
        uint32 took = aTime_GetMSTicks() - start;
        EXPECT_EQ(reply, nullptr);
        EXPECT_LT(took, 1500u) << "the request's time-out holds";
        aPacket_Destroy(&packet);

        start = aTime_GetMSTicks();
        EXPECT_EQ(aLink_Destroy(&link->ref), aErrNone);
        EXPECT_LT(aTime_GetMSTicks() - start, 4000u);
    }
}

} // namespace
