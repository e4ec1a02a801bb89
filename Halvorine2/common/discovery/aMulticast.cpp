#include "aMulticast.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <new>

#include "aDiscovery.h"

namespace {

const uint32 kCheck = 0xCA57;
const int kTtl = 1;
const int kReceiveTimeoutMs = 1000;
const uint32 kLoopback = aDISCOVERY_LOCALHOST;

} // namespace

struct aMulticast {
    uint32 check;
    int socket;
    addrinfo* group;
    addrinfo* bindAddress;
    addrinfo* interfaceAddress;
    bool sender;
};

namespace {

addrinfo* sResolve(const char* host, const char* port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    if (!host) hints.ai_flags = AI_PASSIVE;
    addrinfo* result = nullptr;
    return getaddrinfo(host, port, &hints, &result) == 0 ? result : nullptr;
}

in_addr sAddressOf(const addrinfo* info) {
    return reinterpret_cast<const sockaddr_in*>(info->ai_addr)->sin_addr;
}

void sRelease(aMulticast* endpoint) {
    if (endpoint->group) freeaddrinfo(endpoint->group);
    if (endpoint->bindAddress) freeaddrinfo(endpoint->bindAddress);
    if (endpoint->interfaceAddress) freeaddrinfo(endpoint->interfaceAddress);
    if (endpoint->socket >= 0) close(endpoint->socket);
    endpoint->check = 0;
    delete endpoint;
}

bool sResolveAll(aMulticast* endpoint, uint32 interfaceAddress, uint32 groupAddress, uint16 port) {
    char group[22], interface[22], portText[8];
    if (!aDiscovery_ConvertIPv4Interface(groupAddress, group, sizeof group) ||
        !aDiscovery_ConvertIPv4Interface(interfaceAddress, interface, sizeof interface))
        return false;
    std::snprintf(portText, sizeof portText, "%u", port);
    endpoint->group = sResolve(group, portText);
    endpoint->bindAddress = endpoint->sender ? sResolve(interface, "0") : sResolve(nullptr, portText);
    endpoint->interfaceAddress = sResolve(interface, "0");
    return endpoint->group && endpoint->bindAddress && endpoint->interfaceAddress;
}

bool sJoin(aMulticast* endpoint) {
    int s = endpoint->socket;
    ip_mreq membership{};
    membership.imr_multiaddr = sAddressOf(endpoint->group);
    membership.imr_interface = sAddressOf(endpoint->interfaceAddress);
    const unsigned char ttl = kTtl, loop = 1;
    timeval timeout{kReceiveTimeoutMs / 1000, (kReceiveTimeoutMs % 1000) * 1000};
    return setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) == 0 &&
           setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, &membership.imr_interface,
                      sizeof membership.imr_interface) == 0 &&
           setsockopt(s, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) == 0 &&
           setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0 &&
           setsockopt(s, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) == 0;
}

bool sValid(const aMulticast* endpoint) {
    return endpoint && endpoint->check == kCheck;
}

} // namespace

extern "C" {

aMulticast* aMulticast_Create(uint32 interfaceAddress, uint32 groupAddress, uint16 port, bool sender) {
    aMulticast* endpoint = new (std::nothrow) aMulticast{kCheck, -1, nullptr, nullptr, nullptr, sender};
    if (!endpoint) return nullptr;
    if (interfaceAddress == 0) interfaceAddress = kLoopback;
    const int on = 1;
    bool made = sResolveAll(endpoint, interfaceAddress, groupAddress, port) &&
                (endpoint->socket = socket(endpoint->group->ai_family, endpoint->group->ai_socktype,
                                           endpoint->group->ai_protocol)) >= 0 &&
                setsockopt(endpoint->socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                (sender || bind(endpoint->socket, endpoint->bindAddress->ai_addr,
                                endpoint->bindAddress->ai_addrlen) == 0) &&
                sJoin(endpoint);
    if (!made) {
        sRelease(endpoint);
        return nullptr;
    }
    return endpoint;
}

int aMulticast_Send(aMulticast* endpoint, const char* data, int length) {
    if (!sValid(endpoint)) return aMULTICAST_NULL;
    if (!endpoint->sender) return aMULTICAST_WRONG_WAY;
    if (!data || length < 0) return aMULTICAST_ERROR;
    ssize_t sent = sendto(endpoint->socket, data, static_cast<size_t>(length), MSG_NOSIGNAL,
                          endpoint->group->ai_addr, endpoint->group->ai_addrlen);
    return sent < 0 ? aMULTICAST_ERROR : static_cast<int>(sent);
}

int aMulticast_Receive(aMulticast* endpoint, char* buffer, int size) {
    if (!sValid(endpoint)) return aMULTICAST_NULL;
    if (endpoint->sender) return aMULTICAST_WRONG_WAY;
    if (!buffer || size < 0) return aMULTICAST_ERROR;
    ssize_t received = recvfrom(endpoint->socket, buffer, static_cast<size_t>(size), 0, nullptr, nullptr);
    return received < 0 ? aMULTICAST_ERROR : static_cast<int>(received);
}

int aMulticast_Destroy(aMulticast** endpoint) {
    if (!endpoint || !sValid(*endpoint)) return aMULTICAST_NULL;
    sRelease(*endpoint);
    *endpoint = nullptr;
    return 0;
}

} // extern "C"
