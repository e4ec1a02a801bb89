#include "IsolatedNetwork.h"

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>

namespace Veltrano::Sim {

namespace {

bool sLoopbackOrVeth(int probe, const char* name) {
    ifreq request{};
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    if (ioctl(probe, SIOCGIFFLAGS, &request) != 0) return false;
    if (request.ifr_flags & IFF_LOOPBACK) return true;
    ethtool_drvinfo info{};
    info.cmd = ETHTOOL_GDRVINFO;
    request.ifr_data = reinterpret_cast<char*>(&info);
    return ioctl(probe, SIOCETHTOOL, &request) == 0 && std::strcmp(info.driver, "veth") == 0;
}

} // namespace

bool inIsolatedNetwork() {
    int probe = socket(AF_INET, SOCK_DGRAM, 0);
    if (probe < 0) return false;
    struct if_nameindex* names = if_nameindex();
    bool isolated = names != nullptr;
    for (struct if_nameindex* n = names; isolated && n && n->if_index != 0; ++n)
        isolated = sLoopbackOrVeth(probe, n->if_name);
    if (names) if_freenameindex(names);
    close(probe);
    return isolated;
}

void requireIsolatedNetwork(const char* who) {
    if (!inIsolatedNetwork())
        throw std::runtime_error(std::string(who) + " runs only in a network namespace of loopback and veth "
                                                    "interfaces (ip netns exec, or a test's own namespace)");
}

} // namespace Veltrano::Sim
