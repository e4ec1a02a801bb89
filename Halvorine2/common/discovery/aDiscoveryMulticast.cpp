// Multicast discovery of modules with their own Ethernet interface: one request through
// every interface, then the replies until the network has been quiet for a while.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "aDiscoveryReport.h"
#include "aDiscoveryWire.h"
#include "aTime.h"

namespace {

const uint32 kQuietMs = 2000;
// However many replies keep coming, discovery ends by then.
const uint32 kDeadlineMs = 10000;
// Larger than a reply, so that a longer datagram is seen whole enough to be skipped.
const size_t kReceiveBuffer = 64;

class Socket {
  public:
    Socket() : fd_(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)) {
        const int on = 1;
        if (fd_ >= 0 && setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) reset();
    }
    ~Socket() { reset(); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    void reset() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }
    int fd_;
};

sockaddr_in sAddress(uint32 address, uint16 port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = address;
    a.sin_port = htons(port);
    return a;
}

bool sBindReplies(const Socket& replies) {
    sockaddr_in any = sAddress(htonl(INADDR_ANY), aDISCOVERY_REPLY_PORT);
    return replies && bind(replies.fd(), reinterpret_cast<sockaddr*>(&any), sizeof any) == 0;
}

// One request through the interface with this address (0: the system's choice).
bool sRequest(uint32 interfaceAddress) {
    Socket s;
    in_addr interface;
    interface.s_addr = interfaceAddress;
    if (!s || setsockopt(s.fd(), IPPROTO_IP, IP_MULTICAST_IF, &interface, sizeof interface) != 0)
        return false;
    uint8 request[aDISCOVERY_DATAGRAM_SIZE];
    aDiscovery_EncodeRequest(request);
    in_addr group;
    inet_pton(AF_INET, aDISCOVERY_GROUP, &group);
    sockaddr_in to = sAddress(group.s_addr, aDISCOVERY_REQUEST_PORT);
    return sendto(s.fd(), request, sizeof request, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(sizeof request);
}

// Requests through every IPv4 address of an interface that is up, but loopback; without
// an address list, one through the system's choice. Answers how many went out.
uint32 sRequestEverywhere() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return sRequest(0) ? 1 : 0;
    uint32 sent = 0;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !(entry->ifa_flags & IFF_UP))
            continue;
        uint32 address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr;
        if (address != 0 && address != aDISCOVERY_LOCALHOST && sRequest(address)) sent++;
    }
    freeifaddrs(list);
    return sent;
}

bool sSetTimeout(int fd, uint32 ms) {
    timeval timeout{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
    return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0;
}

// Replies until kQuietMs pass without one or the deadline comes. A datagram that is not a
// reply (any length but 16, also one too long for the buffer) is skipped and does not
// count as a reply.
void sCollect(int fd, aDiscoveryReport* report) {
    const uint32 start = aTime_GetMSTicks();
    uint32 lastReply = start;
    for (;;) {
        const uint32 now = aTime_GetMSTicks();
        const uint32 quietLeft = kQuietMs - (now - lastReply < kQuietMs ? now - lastReply : kQuietMs);
        const uint32 deadlineLeft = kDeadlineMs - (now - start < kDeadlineMs ? now - start : kDeadlineMs);
        const uint32 wait = quietLeft < deadlineLeft ? quietLeft : deadlineLeft;
        if (wait == 0 || !sSetTimeout(fd, wait)) return;
        uint8 datagram[kReceiveBuffer];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        ssize_t length = recvfrom(fd, datagram, sizeof datagram, MSG_TRUNC,
                                  reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length < 0) {
            if (errno == EINTR) continue;
            return;
        }
        linkSpec spec;
        if (!aDiscovery_DecodeReply(datagram, static_cast<size_t>(length), from.sin_addr.s_addr, &spec))
            continue;
        lastReply = aTime_GetMSTicks();
        if (!aDiscoveryReport_Module(report, &spec)) return;
    }
}

} // namespace

extern "C" uint8 aDiscovery_EnumerateMulticast(aDiscoveryCallback callback, void* ref) {
    Socket replies;
    if (!sBindReplies(replies) || sRequestEverywhere() == 0) return 0;
    aDiscoveryReport report = {callback, ref, 0};
    sCollect(replies.fd(), &report);
    return report.count;
}
