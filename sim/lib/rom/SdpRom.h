// The i.MX boot ROM's serial download protocol, apart from any carrier: a state
// machine fed the host's 16-byte commands and data bytes, answering through a sink.
// SdpRomSerial (a pseudo-terminal) and SdpRomHid (the HID seam) carry it.
//
// Commands, big-endian: type (2), address (4), format (1), data count (4), data (4),
// one reserved byte. Every answer starts with the HAB mode (4 bytes), then:
//   ERROR_STATUS   0x0505  the status of the last command (kStatusOk)
//   WRITE_FILE     0x0404  nothing until `count` data bytes came, then 0x88888888
//   DCD_WRITE      0x0A0A  likewise with `count` bytes of DCD, then 0x128A8A12
//   WRITE_REGISTER 0x0202  the data word stored at address, then 0x128A8A12
//   READ_REGISTER  0x0101  `count` bytes from address (unwritten bytes read 0)
//   SKIP_DCD_HEADER 0x0D0D 0x900DD009
//   JUMP_ADDRESS   0x0B0B  an address holding an image vector table (tag 0xD1,
//                          length 0x0020, version 0x4x) whose self pointer is that
//                          address: the chip leaves the ROM (the jump observer
//                          decides; a chip that stays keeps answering); any other
//                          address: kJumpRefused, and it stays.
// Status words travel little-endian. Unknown commands are answered with HAB mode
// and kUnknownCommand. Data and commands outside the RAM windows are refused.
//
// Threads: one carrier thread feeds it at a time; the observers may be used from
// any thread. The sink and the jump observer are called without the ROM's lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace Veltrano::Sim {

class SdpRom {
  public:
    static constexpr size_t kCommandSize = 16;
    enum Command : uint16_t {
        kReadRegister = 0x0101,
        kWriteRegister = 0x0202,
        kWriteFile = 0x0404,
        kErrorStatus = 0x0505,
        kDcdWrite = 0x0A0A,
        kJumpAddress = 0x0B0B,
        kSkipDcdHeader = 0x0D0D,
    };
    static constexpr uint32_t kHabOpen = 0x56787856;
    static constexpr uint32_t kHabClosed = 0x12343412;
    // Values of our own where the ROM's are not relied upon.
    static constexpr uint32_t kStatusOk = 0xF0F0F0F0;
    static constexpr uint32_t kJumpRefused = 0x8D8D8D8D;
    static constexpr uint32_t kUnknownCommand = 0x0A0A0A0A;
    static constexpr uint32_t kWriteRefused = 0x8E8E8E8E;
    // Real completion words.
    static constexpr uint32_t kWriteComplete = 0x88888888;
    static constexpr uint32_t kRegisterWritten = 0x128A8A12;
    static constexpr uint32_t kSkipDcdDone = 0x900DD009;

    struct Window {
        uint32_t start;
        uint32_t size;
    };

    enum class ErrorStatusReply {
        Full,    // HAB mode and status
        HabOnly, // a short answer: no status
        None,    // no answer at all
    };

    struct Faults {
        bool silent = false; // answers nothing at all
        ErrorStatusReply errorStatus = ErrorStatusReply::Full;
        uint32_t writeFileStatus = kWriteComplete;
        // WRITE_FILE sends its HAB mode once this many data bytes came (0: right
        // after the command, an early reply); -1 never.
        int64_t talkAtDataByte = -1;
        bool garble = false; // every answer byte inverted
    };

    struct Settings {
        uint32_t habMode = kHabOpen;
        // On-chip RAM and external memory.
        std::vector<Window> ram = {
            {0x00900000, 0x00040000}, {0x20000000, 0x00040000}, {0x80000000, 0x10000000}};
        Faults faults;
    };

    // Answer bytes as the carrier sends them.
    enum class Part { Hab, Status, Data };
    using Sink = std::function<void(Part part, const std::vector<uint8_t>& bytes)>;
    // Called after an accepted jump; answers whether the chip leaves the ROM.
    using JumpObserver = std::function<bool(uint32_t address)>;

    using Memory = std::map<uint32_t, std::vector<uint8_t>>;

    SdpRom();
    explicit SdpRom(Settings settings);

    void setSink(Sink sink);
    void setJumpObserver(JumpObserver observer);

    // Carrier side.
    void command(const uint8_t (&bytes)[kCommandSize]);
    // Bytes after a WRITE_FILE or DCD_WRITE command; taken up to the count it gave,
    // the rest ignored (as is data nobody asked for).
    void data(const uint8_t* bytes, size_t count);
    // Data bytes still expected (a serial carrier routes its bytes by this).
    uint32_t dataExpected() const;
    // True once the chip left the ROM: it answers nothing until restart().
    bool left() const;

    // Any thread.
    // The ROM starts again (a reset without firmware to run): RAM kept, state fresh.
    void restart();
    void setFaults(const Faults& faults);
    // What was written to RAM, merged where it touches.
    Memory memory() const;
    // The n bytes at address (never written: 0).
    std::vector<uint8_t> bytes(uint32_t address, size_t n) const;
    uint64_t commands() const;
    uint64_t jumps() const;
    uint32_t lastJump() const;

  private:
    struct Reply {
        Part part;
        std::vector<uint8_t> bytes;
    };
    void dispatch(uint16_t type, uint32_t address, uint8_t format, uint32_t count, uint32_t value,
                  std::vector<Reply>& out, bool& jumped);
    void finishData(std::vector<Reply>& out);
    void hab(std::vector<Reply>& out) const;
    void status(std::vector<Reply>& out, uint32_t word) const;
    bool inRam(uint32_t address, uint32_t count) const;
    bool inImage(uint32_t address) const;
    bool vectorTableAt(uint32_t address) const;
    std::vector<uint8_t> read(uint32_t address, size_t n) const;
    void store(uint32_t address, const std::vector<uint8_t>& bytes);
    void emit(const std::vector<Reply>& replies);

    mutable std::mutex mutex_;
    Settings settings_;
    Sink sink_;
    JumpObserver jumpObserver_;
    Memory memory_;
    bool left_ = false;
    uint32_t lastStatus_ = kStatusOk;
    // The data phase in progress.
    uint16_t dataCommand_ = 0;
    uint32_t dataAddress_ = 0;
    uint32_t dataCount_ = 0;
    std::vector<uint8_t> incoming_;
    bool talked_ = false;
    uint64_t commands_ = 0;
    uint64_t jumps_ = 0;
    uint32_t lastJump_ = 0;
};

} // namespace Veltrano::Sim
