// Fixtures for the firmware transfer tests: a virtual module on loopback TCP with
// a Module connected to it, a loader that answers as a test scripts it, a display
// that counts what the transfer draws, and BIRD files built in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "../updater/LogCapture.h"
#include "../updater/RecordingDisplay.h"
#include "BirdFile.h"
#include "BirdWriter.h"
#include "Module.h"
#include "ModuleTcpServer.h"
#include "VirtualModule.h"

namespace TransferTest {

using Bytes = std::vector<uint8_t>;
using Veltrano::Halvorine::Module;
using Veltrano::Sim::ModuleArea;
using Veltrano::Sim::ModuleFrame;
using Veltrano::Sim::ModuleIdentity;
using Veltrano::Sim::VirtualModule;

constexpr uint32_t kSerial = 0x5A17C0DE;
// Model 4 (VT-CoreUSB).
ModuleIdentity vtIdentity(uint32_t serialNumber = kSerial);

// Faults the module's replies to one request type, as ReplyFault says.
void fault(VirtualModule& device, const char* request, Veltrano::Sim::ReplyFaultKind kind, uint32_t skip = 0,
           int32_t times = -1);

// A display that also keeps the activity frames and progress it is shown.
class CountingDisplay : public RecordingDisplay {
  public:
    void showActivity(bool active, const char*) override { activityFrames += active ? 1 : 0; }
    void showProgress(double fraction, const char*) override { progress.push_back(fraction); }
    int activityFrames = 0;
    std::vector<double> progress;
};

// A virtual module served on loopback TCP, and a Module (direct configuration,
// no automatic networking) connected to it. The areas given are offered every
// frame before the module's own.
class ServedModule {
  public:
    explicit ServedModule(std::vector<std::unique_ptr<ModuleArea>> areas = {},
                          ModuleIdentity id = vtIdentity());
    ~ServedModule();
    ServedModule(const ServedModule&) = delete;
    ServedModule& operator=(const ServedModule&) = delete;

    VirtualModule device;
    Module module;
    aErr connected = aErrConnection;
    // The loopback port the module is served on.
    uint16_t port() const { return server_->port(); }

  private:
    std::unique_ptr<Veltrano::Sim::ModuleTcpServer> server_;
};

// Answers UPGRADE packets (command 0x5F) as the test's responder says: each
// request is kept, and the frames the responder returns are sent back from the
// module's address (none: silence).
class ScriptedLoader : public ModuleArea {
  public:
    using Responder = std::function<std::vector<Bytes>(const Bytes& request)>;
    explicit ScriptedLoader(Responder responder) : responder_(std::move(responder)) {}

    bool handle(VirtualModule& module, const ModuleFrame& frame) override;
    // Any thread.
    std::vector<Bytes> requests() const;

  private:
    Responder responder_;
    mutable std::mutex mutex_;
    std::vector<Bytes> requests_;
};

// A module whose only loader is a ScriptedLoader; loader points at it.
struct ScriptedModule {
    explicit ScriptedModule(ScriptedLoader::Responder responder);
    ScriptedLoader* loader;
    std::unique_ptr<ServedModule> served;
    Module& module() { return served->module; }
};

// The image bytes 0, 1, 2, ... of the given length (mod 251, so sums are not trivial).
Bytes image(size_t length, uint8_t seed = 0);
// A payload as the BIRD file holds it: the address big-endian, then the image.
Bytes payload(uint32_t address, const Bytes& image);

// Starts the module's loader (INIT) and opens a block at address (PREPARE), as
// a module's loader needs before it takes image data; aErrNone when both passed.
aErr openBlock(Module& module, uint32_t address = 0x1000);

// Polls the condition every millisecond for at most timeoutMs.
bool eventually(const std::function<bool()>& condition, uint32_t timeoutMs = 2000);

// Loads the file that the writer builds.
BirdFile birdFile(const BirdWriter& writer, const std::string& name = "transfer.bird");

} // namespace TransferTest
