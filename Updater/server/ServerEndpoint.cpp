#include "ServerEndpoint.h"

#define VELTRANO_STR2(x) #x
#define VELTRANO_STR(x) VELTRANO_STR2(x)

namespace {

const char kQueryPath[] = "/cgi/u";

} // namespace

std::string defaultServerHostPort() {
    return VELTRANO_DEFAULT_SERVER_HOST ":" VELTRANO_STR(VELTRANO_DEFAULT_SERVER_PORT);
}

std::string defaultServerEndpoint() {
    return serverEndpointFor(defaultServerHostPort());
}

std::string serverEndpointFor(const std::string& value) {
    if (value.find("://") != std::string::npos) return value;
    // "host:port/" names the same server as "host:port".
    std::string hostPort = value;
    while (!hostPort.empty() && hostPort.back() == '/')
        hostPort.pop_back();
    return "http://" + hostPort + kQueryPath;
}
