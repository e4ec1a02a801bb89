// What an emulated i.MX chip is, whichever bus carries it: its ROM's settings,
// its unique identifier, and the liveloader module it becomes after a jump.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <vector>

#include "SdpRom.h"
#include "VirtualModule.h"

namespace Veltrano::Sim {

struct ImxChipProfile {
    SdpRom::Settings rom;
    std::array<uint32_t, 4> identifier = {0x0A1B2C3D, 0x4E5F6071, 0x8293A4B5, 0xC6D7E8F9};
    uint32_t liveloaderSerial = 0xDEADDEAD;
    uint32_t serialNumber = 0x5E1A0C01; // the chip's own, once its firmware runs
    uint8_t model = 17;                 // VT-Acquire
    uint8_t address = 4;
    uint32_t liveloaderVersion = 0x01000000; // 1.0.0
    uint32_t rebootAwayMs = 300;
    // The liveloader's blocks by load address. When given, a jump starts the
    // liveloader only when the ROM's RAM holds exactly them; other bytes run as
    // something else: the chip leaves its ROM and nothing appears.
    std::map<uint32_t, std::vector<uint8_t>> liveloaderImage;

    ModuleIdentity liveloaderIdentity() const {
        return moduleIdentity(liveloaderSerial, model, address, liveloaderVersion, 0);
    }
    // The liveloader reports the chip's identifier and stays away this long on a reboot.
    void configureLiveloader(VirtualModule& module) const {
        module.system().setIdentifier(identifier);
        UpgradeArea::Settings upgrade = module.upgrade().settings();
        upgrade.rebootAwayMs = rebootAwayMs;
        upgrade.loaderResident = true;
        module.upgrade().configure(upgrade);
    }
};

} // namespace Veltrano::Sim
