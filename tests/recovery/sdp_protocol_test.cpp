// SDPProtocol's own checks, through a scripted transport: a packet that does not go
// out whole fails the file write with 5 instead of going unnoticed.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "SDPProtocol.h"
#include "SDPResponse.h"
#include "sdp_fixtures.h"

namespace {

// Answers every read with a serial-style HAB mode and status; the write numbered
// shortAt (from 0) moves one byte less than asked.
class ScriptedLoader : public SDPLoader_Interface {
  public:
    explicit ScriptedLoader(int shortAt) : shortAt_(shortAt) {}
    bool openDevice() override { return true; }
    int writePacket(const std::vector<uint8_t>& packet) override {
        int whole = static_cast<int>(packet.size());
        return writes_++ == shortAt_ ? whole - 1 : whole;
    }
    int readResponse(std::vector<uint8_t>& out, uint32_t ms) override {
        if (ms == 0) return 0; // quiet during the data phase
        const uint8_t answer[] = {0x56, 0x78, 0x78, 0x56, 0x88, 0x88, 0x88, 0x88};
        out.insert(out.end(), answer, answer + sizeof answer);
        return sizeof answer;
    }
    bool statusWord(const std::vector<uint8_t>& response, uint32_t index, uint32_t& status) override {
        return sdpSerial_StatusWord(response, index, status);
    }

  private:
    int shortAt_;
    int writes_ = 0;
};

TEST(SdpProtocol, APacketNotWrittenWholeFailsTheWriteWithFive) {
    struct Case {
        const char* what;
        int shortAt; // write 0 is the handshake
        int result;
    };
    for (const Case& c : {Case{"every packet whole", -1, SDPProtocol::kWriteOk},
                          Case{"the WRITE_FILE command", 1, SDPProtocol::kWriteShort},
                          Case{"the first data packet", 2, SDPProtocol::kWriteShort},
                          Case{"the last data packet", 4, SDPProtocol::kWriteShort}}) {
        SdpLogCapture log;
        SDPProtocol sdp;
        sdp.setLoader(std::make_unique<ScriptedLoader>(c.shortAt));
        ASSERT_TRUE(sdp.openLoader());
        EXPECT_EQ(sdp.sdpWriteFile(0x20000400, sdpPattern(2500)), c.result) << c.what;
    }
}

TEST(SdpProtocol, TheLoaderIsSetOnce) {
    SDPProtocol sdp;
    sdp.setLoader(std::make_unique<ScriptedLoader>(-1));
    sdp.setLoader(std::make_unique<ScriptedLoader>(1)); // ignored: one is held
    EXPECT_EQ(sdp.sdpWriteFile(0x20000400, sdpPattern(10)), SDPProtocol::kWriteOk);
}

} // namespace
