#include "ModuleCarrier.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace LinkTest {

using namespace Veltrano::Sim;

std::string carrierName(Carrier carrier) {
    switch (carrier) {
    case Carrier::Socketpair:
        return "Socketpair";
    case Carrier::Tcp:
        return "Tcp";
    case Carrier::Pty:
        return "Pty";
    }
    return "?";
}

uint32 loopback() {
    return htonl(INADDR_LOOPBACK);
}

ModuleCarrier::ModuleCarrier(Carrier carrier, ModuleIdentity identity)
    : carrier_(carrier), module_(identity) {
    switch (carrier) {
    case Carrier::Socketpair: {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
            throw std::runtime_error("socketpair");
        runner_ = std::make_unique<ModuleRunner>(module_, fds[0]);
        hostFd_ = fds[1];
        break;
    }
    case Carrier::Tcp:
        tcp_ = std::make_unique<ModuleTcpServer>(module_);
        break;
    case Carrier::Pty:
        pty_ = std::make_unique<ModulePty>(module_);
        break;
    }
}

ModuleCarrier::~ModuleCarrier() {
    if (hostFd_ >= 0) ::close(hostFd_);
    runner_.reset();
    tcp_.reset();
    pty_.reset();
}

uint32 ModuleCarrier::open() {
    switch (carrier_) {
    case Carrier::Socketpair: {
        aStream* stream = nullptr;
        if (hostFd_ < 0 || aStream_CreateDescriptor(hostFd_, &stream) != aErrNone) return 0;
        hostFd_ = -1;
        return aLink_Create(stream);
    }
    case Carrier::Tcp:
        return aLink_CreateTCPIP(loopback(), tcp_->port());
    case Carrier::Pty:
        return aLink_CreateSerial(module_.identity().serialNumber, pty_->slavePath().c_str(), 115200);
    }
    return 0;
}

namespace {
struct ReplyMatch {
    uint8_t address, command, option;
};
bool matchesReply(const aPacket* p, void* ref) {
    const ReplyMatch* m = static_cast<const ReplyMatch*>(ref);
    return p->address == m->address && p->dataSize >= 3 && p->data[0] == m->command &&
           p->data[1] == m->option;
}
} // namespace

std::vector<uint8_t> entityGet(uint32 ref, uint8_t address, uint8_t command, uint8_t option,
                               uint32 timeoutMs) {
    const uint8 request[] = {command, static_cast<uint8>(option | 0x40), 0x20};
    aPacket* packet = aPacket_CreateWithData(address, sizeof request, request);
    aErr err = aLink_PutPacket(ref, packet);
    aPacket_Destroy(&packet);
    if (err != aErrNone) return {};
    ReplyMatch match{address, command, option};
    aPacket* reply = aLink_AwaitFirst(ref, matchesReply, &match, timeoutMs);
    if (!reply) return {};
    std::vector<uint8_t> data(reply->data, reply->data + reply->dataSize);
    aPacket_Destroy(&reply);
    return data;
}

} // namespace LinkTest
