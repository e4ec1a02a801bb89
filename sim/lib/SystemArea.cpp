#include "SystemArea.h"

#include "UeiMessage.h"
#include "VirtualModule.h"

namespace Veltrano::Sim {

bool SystemArea::handle(VirtualModule& module, const ModuleFrame& frame) {
    std::optional<UeiRequest> request = UeiRequest::parse(frame);
    if (!request || request->command != kCommand || !request->get || request->index != 0) return false;
    const ModuleIdentity& id = module.identity();
    switch (request->option) {
    case kModule: module.send(ueiReply8(id.address, *request, id.address)); break;
    case kVersion: module.send(ueiReply32(id.address, *request, id.version)); break;
    case kModel: module.send(ueiReply8(id.address, *request, id.model)); break;
    case kSerialNumber: module.send(ueiReply32(id.address, *request, id.serialNumber)); break;
    default: return false;
    }
    ++answered_;
    return true;
}

} // namespace Veltrano::Sim
