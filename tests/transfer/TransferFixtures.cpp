#include "TransferFixtures.h"

#include <arpa/inet.h>

#include <algorithm>

#include "UpdaterEntity.h"
#include "aTime.h"

namespace TransferTest {

void fault(VirtualModule& device, const char* request, Veltrano::Sim::ReplyFaultKind kind, uint32_t skip,
           int32_t times) {
    Veltrano::Sim::ModuleFaults faults;
    faults.replies[request] = Veltrano::Sim::ReplyFault{kind, skip, times};
    device.setFaults(faults);
}

ModuleIdentity vtIdentity(uint32_t serialNumber) {
    ModuleIdentity id;
    id.address = 4;
    id.serialNumber = serialNumber;
    id.model = 4;
    return id;
}

ServedModule::ServedModule(std::vector<std::unique_ptr<ModuleArea>> areas, ModuleIdentity id)
    : device(id), module(id.address, false, 0) {
    for (auto& area : areas)
        device.addFirstArea(std::move(area));
    server_ = std::make_unique<Veltrano::Sim::ModuleTcpServer>(device);
    linkSpec spec{};
    spec.type = TCPIP;
    spec.serialNumber = id.serialNumber;
    spec.model = id.model;
    spec.ipAddress = htonl(INADDR_LOOPBACK);
    spec.ipPort = server_->port();
    Veltrano::Halvorine::aSolvanConfig config;
    config.shareThroughServer = 0;
    config.allowFallback = 0;
    connected = module.setConfig(config);
    if (connected == aErrNone) connected = module.connectFromSpec(spec);
}

aErr openBlock(Module& module, uint32_t address) {
    UpdaterEntity entity(&module, 0, true, false);
    aErr err = entity.LoaderInit();
    if (err != aErrNone) return err;
    const Bytes header = payload(address, {});
    unsigned short blockSize = 0;
    return entity.TransferPrepare(header.data(), static_cast<unsigned int>(header.size()), 0, &blockSize);
}

ServedModule::~ServedModule() {
    module.disconnect();
    server_.reset();
}

bool ScriptedLoader::handle(VirtualModule& module, const ModuleFrame& frame) {
    if (frame.data.empty() || frame.data[0] != 0x5F) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(frame.data);
    }
    for (Bytes& reply : responder_(frame.data))
        module.send(ModuleFrame{module.identity().address, std::move(reply)});
    return true;
}

std::vector<Bytes> ScriptedLoader::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

ScriptedModule::ScriptedModule(ScriptedLoader::Responder responder) {
    auto area = std::make_unique<ScriptedLoader>(std::move(responder));
    loader = area.get();
    std::vector<std::unique_ptr<ModuleArea>> areas;
    areas.push_back(std::move(area));
    served = std::make_unique<ServedModule>(std::move(areas));
}

Bytes image(size_t length, uint8_t seed) {
    Bytes bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<uint8_t>((i + seed) % 251);
    return bytes;
}

Bytes payload(uint32_t address, const Bytes& image) {
    Bytes bytes(4 + image.size());
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(address >> (24 - 8 * i));
    std::copy(image.begin(), image.end(), bytes.begin() + 4);
    return bytes;
}

bool eventually(const std::function<bool()>& condition, uint32_t timeoutMs) {
    for (uint32_t waited = 0; !condition(); ++waited) {
        if (waited >= timeoutMs) return false;
        aTime_MSSleep(1);
    }
    return true;
}

BirdFile birdFile(const BirdWriter& writer, const std::string& name) {
    Bytes bytes = writer.file();
    return BirdFile::fromMemory(name, bytes.data(), bytes.size());
}

} // namespace TransferTest
