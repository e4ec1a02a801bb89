// The command line as a record, and the parser that fills it.
#ifndef UPDATER_OPTIONS_H
#define UPDATER_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

#include "ServerEndpoint.h"
#include "UpdaterDisplayInterface.h"

// Command flags, one bit per command switch.
enum UpdaterCommand : uint32_t {
    CMD_DISCOVER = 0x001,    // -D
    CMD_UPDATE = 0x002,      // -U
    CMD_BUILDS = 0x004,      // -B
    CMD_GET = 0x008,         // -G
    CMD_INFO = 0x010,        // -I
    CMD_CHECK = 0x020,       // -C
    CMD_FINGERPRINT = 0x040, // -N
    CMD_Z = 0x080,           // -Z
    CMD_LOCAL_BUILDS = 0x100 // -L
};

enum UpdaterTransport : uint32_t {
    TRANSPORT_INVALID = 0,
    TRANSPORT_USB = 1,
    TRANSPORT_TCPIP = 2,
    TRANSPORT_RECOVER = 255,
};

struct UpdaterOptions {
    uint32_t commands = 0;
    uint32_t serialNumber = 0;
    std::vector<uint32_t> serialNumbers; // every valid -d, in command-line order
    // -j: modules updated at once in a fleet update; 0: all of them.
    uint32_t jobs = 0;
    // --json: one JSON document on standard output, everything else on standard error.
    bool json = false;
    uint32_t routerSerialNumber = 0;
    uint32_t transport = TRANSPORT_USB;
    bool transportGiven = false;
    std::string serialPort;
    uint32_t baudRate = 115200;
    uint8_t moduleAddress = 0;
    std::string birdFilePath;
    std::string historyMessage;
    std::string build; // empty: the latest build
    bool echo = false;
    std::string serverEndpoint = defaultServerEndpoint(); // see serverEndpointFor for -u
    bool nFlag = false;
    std::string storeBase; // empty: home directory + ".veltrano"
    std::string programName;
    std::string homeDirectory;
    std::string logFileName = "Updater.log";
    bool override = false;
    // --allow-unsigned: an unsigned build may be used in this run, with a warning.
    bool allowUnsigned = false;
    bool useUEIBytes = true;
    bool useUEIBytesGiven = false; // -m was on the command line
    uint32_t logMask = 0;
    bool extendedUsage = true;
    bool help = false;

    bool has(UpdaterCommand command) const { return (commands & command) != 0; }
};

// Reads argv[1..] into options. Messages go to the display's error line; a switch
// that fails makes the result 1 and parsing goes on. A help switch ends parsing at
// once with 0.
int parseUpdaterOptions(UpdaterDisplayInterface* display, int argc, const char* const* argv,
                        UpdaterOptions& options);

#endif
