// The three commands of the boot ROM's serial download protocol that a recovery
// needs: ERROR_STATUS (the handshake), WRITE_FILE (a loader image into RAM) and
// JUMP_ADDRESS (start it), over one owned transport.
//
// A command packet is 17 bytes: report id 1, then the 16-byte command, big-endian:
// type (2), address (4), format (1), data count (4), five zero bytes. WRITE_FILE's
// data follow as packets of report id 2 and up to 1024 bytes.
//
// Single-threaded. Every line it logs goes under DEBUG_iMXSerial.
#ifndef UPDATER_SDPPROTOCOL_H
#define UPDATER_SDPPROTOCOL_H

#include <cstdint>
#include <memory>
#include <vector>

#include "SDPLoader_Interface.h"

class SDPProtocol {
  public:
    enum WriteResult {
        kWriteOk = 0,
        kWriteNoHandshake = 2,
        // The device sent something during the data phase.
        kWriteDeviceError = 3,
        // The completion status after the data was not 0x88888888.
        kWriteBadCompletion = 4,
        // A command or data packet did not go out whole.
        kWriteShort = 5,
    };

    // Takes the loader when it holds none yet (a second one is destroyed).
    void setLoader(std::unique_ptr<SDPLoader_Interface> loader);
    // Opens the loader's transport; false without a loader.
    bool openLoader();
    // The handshake: up to 5 ERROR_STATUS commands until one is answered with a status.
    bool sdpErrorStatus();
    // Writes data to RAM at address after a handshake: a WriteResult.
    int sdpWriteFile(uint32_t address, const std::vector<uint8_t>& data);
    // Sends JUMP_ADDRESS and reads the answer: false, with the ROM's status word in
    // refusal, when the ROM answered with a status and stayed (an address it will
    // not start); true otherwise, though whether the code runs shows only later.
    bool sdpJumpAddress(uint32_t address, uint32_t* refusal = nullptr);

  private:
    std::unique_ptr<SDPLoader_Interface> loader_;
};

#endif
