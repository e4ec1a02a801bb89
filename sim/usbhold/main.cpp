// usbhold: opens the USB module with the given serial number and keeps its interface
// claimed until SIGINT or SIGTERM, as another program using the module would. Prints
// "ready" once it holds the module; a module not found within --wait-ms fails.
#include <memory>
#include <stdexcept>
#include <string>

#include "ProgramOptions.h"
#include "aError.h"
#include "aStream.h"
#include "aTime.h"

using namespace Veltrano::Sim;

namespace {

const char* kUsage = "usage: usbhold [--wait-ms MS] SERIAL\n"
                     "  SERIAL        the module's serial number (hexadecimal)\n"
                     "  --wait-ms MS  how long to look for it (default 5000)\n";

struct Options {
    uint32 serial = 0;
    bool serialGiven = false;
    unsigned long waitMs = 5000;
};

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--wait-ms" && i + 1 < argc)
            options.waitMs = programNumber(argv[++i], 10, 600000);
        else if (!options.serialGiven && arg.rfind("--", 0) != 0) {
            options.serial = static_cast<uint32>(programNumber(arg.c_str(), 16, 0xFFFFFFFF));
            options.serialGiven = true;
        } else
            throw std::invalid_argument("unexpected argument " + arg);
    }
    if (!options.serialGiven) throw std::invalid_argument("no serial number");
    return options;
}

// The module may still be enumerating: it is looked for again until the time is up.
std::shared_ptr<void> hold(const Options& options) {
    constexpr uint32 kRetryMs = 100;
    aStream* stream = nullptr;
    aErr err = aErrNotFound;
    for (unsigned long waited = 0;; waited += kRetryMs) {
        err = aStream_CreateUSB(options.serial, &stream);
        if (err != aErrNotFound || waited >= options.waitMs) break;
        aTime_MSSleep(kRetryMs);
    }
    if (err != aErrNone)
        throw std::runtime_error(std::string("cannot hold the module: ") + aError_GetErrorText(err));
    return std::shared_ptr<void>(stream, [](void* held) {
        aStream* s = static_cast<aStream*>(held);
        aStream_Destroy(&s);
    });
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    return runEmulatorProgram(
        "usbhold", kUsage, argc, argv, [&](int count, char** args) { options = parse(count, args); },
        [&] { return hold(options); });
}
