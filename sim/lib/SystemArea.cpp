#include "SystemArea.h"

#include "UeiMessage.h"
#include "VirtualModule.h"

namespace Veltrano::Sim {

bool SystemArea::handle(VirtualModule& module, const ModuleFrame& frame) {
    std::optional<UeiRequest> request = UeiRequest::parse(frame);
    if (!request || request->command != kCommand || !request->get || request->index != 0) return false;
    const ModuleIdentity& id = module.identity();
    switch (request->option) {
    case kModule:
        module.send(ueiReplyValue(id.address, *request, id.address, 1));
        break;
    case kVersion:
        module.send(ueiReplyValue(id.address, *request, id.version, 4));
        break;
    case kModel:
        module.send(ueiReplyValue(id.address, *request, id.model, 1));
        break;
    case kSerialNumber:
        module.send(ueiReplyValue(id.address, *request, id.serialNumber, 4));
        break;
    default:
        return false;
    }
    ++answered_;
    return true;
}

} // namespace Veltrano::Sim
