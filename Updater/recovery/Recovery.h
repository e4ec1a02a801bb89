// Bringing back a module whose firmware no longer starts, through its processor's
// boot ROM: serial ISP (NXP LPC class) programs the flash directly; the i.MX serial
// download protocol loads a liveloader that then takes the firmware as a module.
// The flows of the recovery command (-U -t RECOVER) and of -N are UpdaterApp
// members; these are the steps they share.
#ifndef UPDATER_RECOVERY_H
#define UPDATER_RECOVERY_H

#include <cstdint>
#include <string>

#include "BirdFile.h"
#include "Module.h"
#include "UpdaterDisplayInterface.h"
#include "aError.h"

// Recovery device kinds that identification leaves in the application.
constexpr uint8_t kRecoveryImx = 1;
constexpr uint8_t kRecoverySerialIsp = 2;

// The serial number a liveloader answers to until the module is given its own.
constexpr uint32_t kPlaceholderSerialNumber = 0xDEADDEAD;

// The port name that selects the i.MX boot ROM on USB (HID) rather than a serial port.
extern const char kUsbPortName[];

// Where the i.MX liveloader starts when the file names no start address.
constexpr uint32_t kDefaultImxStartAddress = 0x20000400;

// Serial ISP identification: synchronises the chip at baud and reads its unique
// id into fingerprint. The port is closed again on every path. When the port
// cannot be opened, portProblem (if given) says so for the user.
bool _get_fingerprint_serial(const std::string& port, uint32_t baud, uint32_t fingerprint[4],
                             std::string* portProblem = nullptr);

// Loads the file's loader blocks into the i.MX chip through its boot ROM (over USB
// HID for the port "USB", else over the serial port) and jumps to the loader:
// aErrNone, aErrNotFound when the start address lies in no loader block (nothing
// is sent), aErrNotReady when the ROM's transport could not be opened (on a UART:
// or the ROM never answered its association), aErrConnection when a loader block
// could not be written (a silent ROM included), aErrPermission when the ROM
// refused the jump (its status word in jumpRefusal, if given).
aErr _load_liveloader(const BirdFile& file, const std::string& port, uint32_t* jumpRefusal = nullptr);

// The liveloader's start: the first four bytes of the file's start-address block,
// else kDefaultImxStartAddress.
uint32_t liveloaderStartAddress(const BirdFile& file);
// Whether the liveloader's start lies inside one of the file's loader blocks.
bool startsInLoader(const BirdFile& file);

// Looks for the liveloader on USB under the placeholder serial number and under
// serialNumber, 15 times a second apart; true once connected.
bool connectLiveloader(Veltrano::Halvorine::Module& module, uint32_t serialNumber);

// Sends the firmware into a running liveloader (found on USB by the placeholder
// serial number or serialNumber) through the firmware loader protocol.
bool _recover_imx(UpdaterDisplayInterface* display, const BirdFile& file, uint32_t serialNumber,
                  bool useUEIData);

// Programs the file's firmware blocks into the flash of a serial ISP chip that is
// still synchronised from its identification, then starts it.
bool _recover_serial(UpdaterDisplayInterface* display, const BirdFile& file, const std::string& port,
                     uint32_t baud);

#endif
