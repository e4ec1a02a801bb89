// An NXP LPC17xx boot ROM's In-System Programming handler as a state machine:
// bytes from the host in, the chip's bytes out, no transport. It auto-bauds on
// "?", echoes while echo is on, and answers U, A, P, E, W, C, G, J, K, N, R, M
// and I with the published return codes, on 512 KiB of flash (sectors 0-15 of
// 4 KiB, 16-29 of 32 KiB) and 32 KiB of RAM at 0x10000000.
//
// Bytes that arrive while the host's port runs at another rate than the one the
// chip locked onto at "?" are garbled, and so are the replies to them, as on a
// real UART at the wrong rate.
//
// Timed as the silicon is (unless told otherwise): an erase takes 100 ms a sector
// and a copy to flash 1 ms per 256 bytes before its return code goes out; the
// caller learns of the wait through IspBusy and keeps the chip deaf meanwhile. The
// chip starts user code (at reset and after "G") only when the first eight vector
// words sum to 0; otherwise it stays in ISP.
//
// Thread-safe: receive() from the line's thread, the observers from any other.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace Veltrano::Sim {

// The n-th command (from 1) with a given letter; letter 0 names none.
struct IspCommandPoint {
    char letter = 0;
    uint32_t occurrence = 1;
};

struct IspRomSettings {
    uint32_t partId = 0x26013F37; // LPC1768
    uint32_t uid[4] = {0x0A1B2C3D, 0x4E5F6071, 0x8293A4B5, 0xC6D7E8F9};
    uint32_t bootCodeMajor = 4;
    uint32_t bootCodeMinor = 1;
    // Faults.
    IspCommandPoint silentFrom; // nothing more goes out from this command on
    IspCommandPoint garbleAt;   // this command's reply is garbled
    IspCommandPoint earlyAt;    // this command is answered at its "\r", before the line end
    IspCommandPoint failAt;     // this command answers failCode instead of acting
    uint32_t failCode = 0;
    int resendTimes = 0;       // the first checksums of W are answered "RESEND" (-1: all)
    std::string checksumReply; // non-empty: answered to every checksum instead of "OK\r\n"
    bool stayInRom = false;    // "G" answers but the chip stays in ISP
    // Timing: 0 for eraseMsPerSector makes erases instant; copyMs 0 takes 1 ms per
    // 256 bytes, timed false makes every command instant.
    bool timed = true;
    uint32_t eraseMsPerSector = 100;
    uint32_t copyMs = 0;
    std::string babble;         // non-empty: every command after sync is answered this line
    uint32_t flipBitAtCopy = 0; // this copy (from 1) programs one bit wrong
    bool ispEntryHeld = false;  // the ISP entry pin is held at reset: ISP whatever the flash
};

// A reply whose tail waits for the chip: the bytes from at on go out after ms.
struct IspBusy {
    size_t at = 0;
    uint32_t ms = 0;
};

// Whether the first eight words of a vector table sum to 0 (the image holds at
// least 32 bytes).
bool vectorChecksumValid(const uint8_t* image);

// Sets the vector table's checksum word (0x1C) so that the first eight words sum
// to 0: the mark of valid user code the boot ROM looks for, which ISP hosts such
// as lpc21isp patch in otherwise. The image holds at least 32 bytes.
void setVectorChecksum(std::vector<uint8_t>& image);

class IspRom {
  public:
    static constexpr uint32_t kFlashSize = 0x80000;
    static constexpr uint32_t kRamBase = 0x10000000;
    static constexpr uint32_t kRamSize = 0x8000;
    // RAM the ROM keeps for itself: its variables below, its stack at the top.
    static constexpr uint32_t kRamUserStart = kRamBase + 0x200;
    static constexpr uint32_t kRamUserEnd = kRamBase + kRamSize - 32;
    static constexpr uint32_t kSectors = 30;

    explicit IspRom(IspRomSettings settings = {});

    // One byte from the host and its port's rate (0: unknown, taken as matching);
    // answers what the chip sends back. With busy given, a timed erase or copy
    // says there how long its return code waits; without, everything is at once.
    std::string receive(uint8_t byte, uint32_t hostBaud, IspBusy* busy = nullptr);

    // Called after every change of the flash (E, C), with the lock held.
    void onFlashChanged(std::function<void(const std::vector<uint8_t>&)> callback);
    // Resets the chip with this flash image (shorter: the rest stays erased): it
    // starts the image when its vector table is valid, unless the ISP entry pin is
    // held.
    void loadFlash(const std::vector<uint8_t>& image);

    std::vector<uint8_t> flash() const;
    std::vector<uint8_t> ram(uint32_t address, uint32_t count) const;
    bool synchronized() const;
    uint32_t lockedBaud() const;
    bool echo() const;
    // "G" left ISP; the address it started.
    bool started() const;
    uint32_t startAddress() const;
    // Command lines as received, without their line ends.
    std::vector<std::string> commands() const;
    // Data bytes of each UU line received by W, in order, resent ones included.
    std::vector<uint32_t> dataLines() const;
    // Data lines between consecutive checksums of W, one entry per checksum line.
    std::vector<uint32_t> checksumGroups() const;
    // Checksums answered "RESEND".
    uint32_t resends() const;

  private:
    enum class State { AutoBaud, SyncLine, Crystal, Command, WriteData, ReadAck, Started };

    void take(uint8_t byte, std::string& out, size_t& replyAt);
    void lineComplete(std::string& out);
    void command(const std::string& line, std::string& out);
    void writeDataLine(const std::string& line, std::string& out);
    void readAck(const std::string& line, std::string& out);
    void sendReadGroup(std::string& out);
    uint32_t dispatch(char letter, const std::vector<uint32_t>& args, size_t argc, const std::string& rest,
                      std::string& extra);
    uint32_t unlock(const std::vector<uint32_t>& a, size_t n);
    uint32_t setEcho(const std::vector<uint32_t>& a, size_t n);
    uint32_t prepare(const std::vector<uint32_t>& a, size_t n);
    uint32_t erase(const std::vector<uint32_t>& a, size_t n);
    uint32_t writeRam(const std::vector<uint32_t>& a, size_t n);
    uint32_t copy(const std::vector<uint32_t>& a, size_t n);
    uint32_t go(const std::vector<uint32_t>& a, size_t n, const std::string& rest);
    uint32_t readMemory(const std::vector<uint32_t>& a, size_t n);
    uint32_t compare(const std::vector<uint32_t>& a, size_t n, std::string& extra);
    uint32_t blankCheck(const std::vector<uint32_t>& a, size_t n, std::string& extra);
    bool sectorsPrepared(uint32_t first, uint32_t last) const;
    const uint8_t* memory(uint32_t address, uint32_t count) const;
    bool matches(const IspCommandPoint& point, char letter, uint32_t occurrence) const;
    void flashChanged();
    bool userCodeValid() const;

    IspRomSettings settings_;
    mutable std::mutex mutex_;
    State state_ = State::AutoBaud;
    uint32_t lockedBaud_ = 0;
    bool echo_ = true;
    bool unlocked_ = false;
    bool silent_ = false;
    bool answeredEarly_ = false;
    uint32_t startAddress_ = 0;
    // Milliseconds the command being answered keeps the chip busy.
    uint32_t busyMs_ = 0;
    uint32_t copies_ = 0;
    std::string line_;
    std::vector<uint8_t> flash_;
    std::vector<uint8_t> ram_;
    std::vector<bool> prepared_;
    std::map<char, uint32_t> occurrences_;
    std::function<void(const std::vector<uint8_t>&)> flashChanged_;
    // A W in progress: where it writes, how much in all, what is accepted, the
    // group waiting for its checksum.
    uint32_t writeAddress_ = 0;
    uint32_t writeCount_ = 0;
    uint32_t writeAccepted_ = 0;
    std::vector<uint8_t> group_;
    uint32_t groupLines_ = 0;
    int resendsLeft_ = 0;
    // An R in progress.
    uint32_t readAddress_ = 0;
    uint32_t readCount_ = 0;
    uint32_t readSent_ = 0;
    uint32_t readGroupBytes_ = 0;
    std::vector<std::string> commands_;
    std::vector<uint32_t> dataLines_;
    std::vector<uint32_t> checksumGroups_;
    uint32_t resends_ = 0;
};

} // namespace Veltrano::Sim
