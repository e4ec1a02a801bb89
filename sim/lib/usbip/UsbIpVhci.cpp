#include "UsbIpVhci.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace Veltrano::Sim {

namespace {

constexpr unsigned kPortFree = 4; // the kernel's VDEV_ST_NULL

// Writes the whole text in one write, as sysfs wants it; false with errno set.
bool sWriteAttribute(const std::string& path, const std::string& text) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t n = ::write(fd, text.data(), text.size());
    int error = errno;
    ::close(fd);
    errno = error;
    return n == static_cast<ssize_t>(text.size());
}

} // namespace

std::vector<int> vhciFreePorts(const std::string& status, UsbIpDevice::Speed) {
    // "hub port sta spd dev sockfd local_busid"; kernels before 4.13 had no hub
    // column and only high-speed ports.
    std::vector<int> ports;
    std::istringstream lines(status);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string first;
        if (!(fields >> first)) continue;
        std::string hub = "hs";
        std::string portText = first;
        if (first == "hs" || first == "ss") {
            hub = first;
            if (!(fields >> portText)) continue;
        }
        unsigned state = 0;
        if (hub != "hs" || !(fields >> state) || state != kPortFree) continue;
        try {
            ports.push_back(std::stoi(portText));
        } catch (const std::exception&) {
            // the header line
        }
    }
    return ports;
}

UsbIpVhci::UsbIpVhci(std::string directory) : directory_(std::move(directory)) {}

int UsbIpVhci::attach(int fd, uint32_t devid, UsbIpDevice::Speed speed) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::ifstream file(directory_ + "/status");
    if (!file) throw std::runtime_error("no virtual host controller at " + directory_);
    std::stringstream status;
    status << file.rdbuf();
    // Another program may take a port between our look and our write: try the next.
    std::string why = "no free port";
    for (int port : vhciFreePorts(status.str(), speed)) {
        std::string line = std::to_string(port) + " " + std::to_string(fd) + " " + std::to_string(devid) +
                           " " + std::to_string(static_cast<unsigned>(speed));
        if (sWriteAttribute(directory_ + "/attach", line)) return port;
        why = std::string("attach: ") + std::strerror(errno);
    }
    throw std::runtime_error(why);
}

void UsbIpVhci::detach(int port) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Fails when the host already let the port go; the device is gone either way.
    sWriteAttribute(directory_ + "/detach", std::to_string(port));
}

} // namespace Veltrano::Sim
