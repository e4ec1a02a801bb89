#include "ApiFixtures.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <time.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace ApiTest {

std::string carrierName(Carrier carrier) {
    switch (carrier) {
    case Carrier::Tcp:
        return "Tcp";
    case Carrier::Pty:
        return "Pty";
    case Carrier::Usb:
        return "Usb";
    }
    return "?";
}

ModuleIdentity identity(uint8_t address, uint32_t serialNumber) {
    ModuleIdentity id;
    id.address = address;
    id.serialNumber = serialNumber;
    return id;
}

ModuleOn::ModuleOn(Carrier carrier, ModuleIdentity id)
    : carrier_(carrier), module_(std::make_unique<VirtualModule>(id)) {
    switch (carrier) {
    case Carrier::Tcp:
        tcp_ = std::make_unique<Veltrano::Sim::ModuleTcpServer>(*module_);
        break;
    case Carrier::Pty:
        pty_ = std::make_unique<Veltrano::Sim::ModulePty>(*module_);
        break;
    case Carrier::Usb:
        usb_ = std::make_unique<Veltrano::Sim::ModuleUsbBus>();
        usb_->attach(*module_);
        break;
    }
}

ModuleOn::~ModuleOn() {
    tcp_.reset();
    pty_.reset();
    usb_.reset();
}

linkSpec ModuleOn::spec() const {
    linkSpec spec{};
    spec.serialNumber = module_->identity().serialNumber;
    spec.model = module_->identity().model;
    switch (carrier_) {
    case Carrier::Tcp:
        spec.type = TCPIP;
        spec.ipAddress = htonl(INADDR_LOOPBACK);
        spec.ipPort = tcp_->port();
        break;
    case Carrier::Pty:
        spec.type = SERIAL;
        spec.baudRate = 115200;
        std::strncpy(spec.portName, pty_->slavePath().c_str(), sizeof spec.portName - 1);
        break;
    case Carrier::Usb:
        spec.type = USB;
        spec.usbSerialNumber = spec.serialNumber;
        break;
    }
    return spec;
}

void ModuleOn::fault(const std::string& request, ReplyFaultKind kind, uint32_t skip, int32_t times,
                     uint8_t error) {
    ModuleFaults faults;
    faults.replies[request] = ReplyFault{kind, skip, times, error};
    module_->setFaults(faults);
}

void ModuleOn::clearFaults() {
    module_->setFaults(ModuleFaults{});
}

void ModuleOn::loseStep() {
    ModuleFaults faults;
    faults.replies["sync"] = ReplyFault{ReplyFaultKind::ErrorReply, 0, 1};
    faults.silentAfterPackets = 2; // the force route, then the address query
    module_->setFaults(faults);
}

aSolvanConfig directConfig() {
    aSolvanConfig config;
    config.shareThroughServer = 0;
    config.allowFallback = 0;
    return config;
}

aErr connectModule(Module& module, const linkSpec& spec) {
    aErr err = module.setConfig(directConfig());
    return err != aErrNone ? err : module.connectFromSpec(spec);
}

ConnectedModule::ConnectedModule(ModuleIdentity id, Carrier carrier)
    : device(carrier, id), module(0, 0), connected(connectModule(module, device.spec())) {}

double processCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

size_t openDescriptors() {
    size_t count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return 0;
    while (readdir(dir))
        ++count;
    closedir(dir);
    return count;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace ApiTest
