// The UPGRADE steps on arbitrary module replies: a virtual module on loopback TCP
// whose loader answers each request with the next replies the input holds (none,
// one or several packets, any bytes), while the host runs INIT, PREPARE, the
// firmware and loader transfers, WRITE and REBOOT with a short reply wait.
// Whatever comes back, every step ends with a known result, a granted block size
// never outlives its PREPARE, and nothing waits without bound. LOAD is left to
// the tests: its reply has no fields, and its reconnect takes the link down,
// which alone costs a hundred times a step.
#include <arpa/inet.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "Module.h"
#include "ModuleTcpServer.h"
#include "UpdaterEntity.h"
#include "VirtualModule.h"

using namespace Veltrano::Halvorine;
using Veltrano::Sim::ModuleArea;
using Veltrano::Sim::ModuleFrame;
using Veltrano::Sim::VirtualModule;

namespace {

using Bytes = std::vector<uint8_t>;

void check(bool condition) {
    if (!condition) std::abort();
}

bool knownResult(aErr err) {
    return err >= aErrNone && err <= aErrUnknown;
}

// One scripted reply; a headed one starts with 0x5F and the byte that the
// request's reply begins with.
struct Reply {
    bool headed = false;
    Bytes bytes;
};
using Script = std::deque<std::vector<Reply>>;

// The first two bytes of the reply a request waits for.
Bytes replyHead(const Bytes& request) {
    uint8_t step = request.size() > 1 ? request[1] : 0;
    switch (step) {
    case UpdaterEntity::val_UPGRADE_PREPARE:
    case UpdaterEntity::val_UPGRADE_SUM:
    case UpdaterEntity::val_UPGRADE_WRITE:
        step = UpdaterEntity::val_UPGRADE_STATUS;
        break;
    default:
        break;
    }
    return {UpdaterEntity::cmdUPGRADE, step};
}

// Answers every UPGRADE packet with the next group of scripted replies.
class ScriptedReplies : public ModuleArea {
  public:
    bool handle(VirtualModule& module, const ModuleFrame& frame) override {
        if (frame.data.empty() || frame.data[0] != UpdaterEntity::cmdUPGRADE) return false;
        std::vector<Reply> replies;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (script_.empty()) return true;
            replies = std::move(script_.front());
            script_.pop_front();
        }
        for (const Reply& reply : replies) {
            Bytes bytes = reply.headed ? replyHead(frame.data) : Bytes{};
            bytes.insert(bytes.end(), reply.bytes.begin(), reply.bytes.end());
            bytes.resize(std::min<size_t>(bytes.size(), 28));
            module.send(ModuleFrame{module.identity().address, std::move(bytes)});
        }
        return true;
    }

    void setScript(Script script) {
        std::lock_guard<std::mutex> lock(mutex_);
        script_ = std::move(script);
    }

  private:
    std::mutex mutex_;
    Script script_;
};

// The module and the host's connection to it live for the whole run.
struct Rig {
    Rig() : device(identity()), module(4, false, 0) {
        auto area = std::make_unique<ScriptedReplies>();
        replies = area.get();
        device.addFirstArea(std::move(area));
        server = std::make_unique<Veltrano::Sim::ModuleTcpServer>(device);
        aSolvanConfig config;
        config.shareThroughServer = 0;
        config.allowFallback = 0;
        module.setConfig(config);
        linkSpec spec{};
        spec.type = TCPIP;
        spec.ipAddress = htonl(INADDR_LOOPBACK);
        spec.ipPort = server->port();
        check(module.connectFromSpec(spec) == aErrNone);
    }
    static Veltrano::Sim::ModuleIdentity identity() {
        Veltrano::Sim::ModuleIdentity id;
        id.address = 4;
        return id;
    }

    VirtualModule device;
    Module module;
    ScriptedReplies* replies = nullptr;
    std::unique_ptr<Veltrano::Sim::ModuleTcpServer> server;
};

// Input: a flags byte, an image length byte, then reply groups, one per request.
// A group is a count byte (0-3 replies) and per reply a length byte: bit 7 heads
// the reply (see Reply), bits 0-4 give the bytes that follow.
Script parseScript(const uint8_t* data, size_t size) {
    Script script;
    size_t at = 0;
    while (at < size) {
        std::vector<Reply> group;
        unsigned int count = data[at++] % 4;
        for (unsigned int r = 0; r < count && at < size; ++r) {
            uint8_t head = data[at++];
            size_t n = std::min<size_t>(head & 0x1F, size - at);
            group.push_back(Reply{(head & 0x80) != 0, Bytes(data + at, data + at + n)});
            at += n;
        }
        script.push_back(std::move(group));
    }
    return script;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Rig rig;
    if (size < 2) return 0;
    const uint8_t flags = data[0];
    const Bytes payload = [&] {
        Bytes p(4 + data[1] % 120);
        p[2] = 0x10;
        for (size_t i = 4; i < p.size(); ++i)
            p[i] = static_cast<uint8_t>(i * 7);
        return p;
    }();
    rig.replies->setScript(parseScript(data + 2, size - 2));
    if (!rig.module.isConnected()) {
        rig.module.disconnect();
        if (rig.module.reconnect() != aErrNone) return 0;
    }

    UpdaterEntity entity(&rig.module, 0, flags & 1, true);
    entity.setReplyTimeoutMs(1);
    entity.setRebootDropWaitMs(0);
    check(knownResult(entity.LoaderInit()));
    unsigned short blockSize = 0;
    aErr err = entity.TransferPrepare(payload.data(), static_cast<unsigned int>(payload.size()), flags >> 4,
                                      &blockSize);
    check(knownResult(err));
    if (err != aErrNone) check(blockSize == 0);
    check(knownResult(entity.FirmwareTransfer(payload.data(), static_cast<unsigned int>(payload.size()),
                                              blockSize, nullptr)));
    check(knownResult(entity.LoaderTransfer(payload.data(), static_cast<unsigned int>(payload.size()))));
    check(knownResult(entity.FirmwareWrite(static_cast<unsigned short>(payload.size()))));
    check(knownResult(entity.LoaderReboot(nullptr)));
    return 0;
}
