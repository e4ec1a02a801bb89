#include "ModuleInfoArea.h"

#include <algorithm>

#include "I2CArea.h"
#include "SystemArea.h"
#include "UpgradeArea.h"
#include "VirtualModule.h"

namespace Veltrano::Sim {

namespace {

constexpr uint8_t kBuild = 0xFF;
constexpr uint8_t kHasUei = 1;
constexpr uint8_t kClassQuantity = 4;
constexpr uint8_t kSubClassQuantity = 5;
constexpr uint8_t kEntityGroup = 6;
constexpr uint8_t kErrUnimplemented = 21;
constexpr uint8_t kGet = 0x40;
constexpr uint8_t kSet = 0x80;

struct Implemented {
    uint8_t option;
    uint8_t directions;
};
// The system entity's options, and how each may be used.
const Implemented kSystemOptions[] = {
    {SystemArea::kModule, kGet},       {SystemArea::kRouter, kGet | kSet},
    {SystemArea::kVersion, kGet},      {SystemArea::kModel, kGet},
    {SystemArea::kSerialNumber, kGet}, {SystemArea::kReset, kSet},
    {SystemArea::kRouteToMe, kSet},    {SystemArea::kName, kGet | kSet},
    {SystemArea::kBuild, kGet},        {SystemArea::kProtocolFeatures, kGet},
};

bool implemented(VirtualModule& module, uint8_t command, uint8_t option, uint8_t index, uint8_t direction) {
    if (index != 0) return false;
    if (command == I2CArea::kCommand) return true;
    if (command == UpgradeArea::kCommand)
        return option == UpgradeArea::kDataOption && (direction == 0 || direction == kSet) &&
               module.upgrade().settings().ueiData;
    if (command != SystemArea::kCommand) return false;
    return std::any_of(std::begin(kSystemOptions), std::end(kSystemOptions), [&](const Implemented& i) {
        return i.option == option && (direction == 0 || (i.directions & direction));
    });
}

uint8_t classQuantity(uint8_t command) {
    return command == SystemArea::kCommand || command == I2CArea::kCommand ? 1 : 0;
}

const char* faultName(uint8_t request) {
    switch (request) {
    case kBuild:
        return "build";
    case kHasUei:
        return "has-uei";
    case kClassQuantity:
        return "class-quantity";
    case kSubClassQuantity:
        return "subclass-quantity";
    default:
        return "entity-group";
    }
}

} // namespace

bool ModuleInfoArea::handle(VirtualModule& module, const ModuleFrame& frame) {
    const std::vector<uint8_t>& d = frame.data;
    if (d.size() < 2 || d[0] != kCommand) return false;
    ModuleFrame reply{frame.address, d};
    size_t echoed = 2;
    switch (d[1]) {
    case kBuild: {
        if (d.size() != 2) return false;
        uint32_t build = module.identity().build;
        for (int shift = 24; shift >= 0; shift -= 8)
            reply.data.push_back(static_cast<uint8_t>(build >> shift));
        break;
    }
    case kHasUei:
        if (d.size() != 6) return false;
        reply.data[5] = implemented(module, d[2], d[3], d[4], d[5]) ? 0 : kErrUnimplemented;
        echoed = 4;
        break;
    case kClassQuantity:
        if (d.size() != 3) return false;
        reply.data.push_back(classQuantity(d[2]));
        break;
    case kSubClassQuantity:
    case kEntityGroup:
        if (d.size() != 4) return false;
        reply.data.push_back(0);
        echoed = 3;
        break;
    default:
        return false;
    }
    module.answer(
        faultName(d[1]), reply,
        [&](uint8_t error) {
            return ModuleFrame{frame.address, {kCommand, uint8_t(d[1] | 0x80), error}};
        },
        echoed);
    return true;
}

} // namespace Veltrano::Sim
