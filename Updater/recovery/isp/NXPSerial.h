// The host side of the NXP LPC17xx boot ROM's serial In-System Programming
// protocol: a line-oriented ASCII dialogue (auto-baud, numeric return codes,
// UU-encoded data with a checksum every 20 lines) over a serial-port stream.
//
// One operation per ISP command; each returns aErrNone, aErrParam for a refused
// argument (nothing is sent) or a nonzero return code from the chip, or the
// stream's error. Every wait on the chip is bounded by the time what was sent
// takes on the line, then by a budget of reads that find nothing (100, or 2000
// for a checksum reply), each waiting at most one character time (1 ms at
// 115200 baud) for input. Erase and copy replies wait seconds instead, in
// proportion to the sectors or bytes: the chip reads nothing while its flash is
// busy, and a reply given up on leaves it half programmed. Single-threaded; the port is closed by Close, by a
// new Open and by the destructor.
#ifndef UPDATER_NXPSERIAL_H
#define UPDATER_NXPSERIAL_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "aStream.h"

// The chip parameters (one constant record): crystal 14.7456 MHz and its label
// "Crystal", RAM buffer 0x10001000, 45 bytes a line, 20 lines a checksum, 3 retries.
struct NXPChipParameters {
    const char* crystalLabel;
    float crystalMHz;
    uint32_t ramBuffer;
    uint32_t bytesPerLine;
    uint32_t linesPerChecksum;
    uint32_t resendRetries;
};
extern const NXPChipParameters kNXPChip;

// Largest count one copy to flash takes.
constexpr uint32_t kNXPMaxCopy = 4096;
// The sector number sectorOf gives an address outside the flash.
constexpr uint32_t kNXPNoSector = 30;

class NXPSerial {
  public:
    NXPSerial();
    ~NXPSerial(); // closes
    NXPSerial(const NXPSerial&) = delete;
    NXPSerial& operator=(const NXPSerial&) = delete;

    // Closes an open port, then opens portName at the table rate for baud (see
    // baudIndexFor) with 8 data bits, no parity, one stop bit. Answers the serial
    // stream's error when the port cannot be opened.
    aErr Open(const std::string& portName, uint32_t baud);
    // The system's reason the last Open failed ("No such file or directory" ...).
    const std::string& openFailure() const { return openFailure_; }
    // Auto-baud: "?", "Synchronized", then the crystal frequency in kHz. "?" goes
    // out a few times while nothing at all comes back (a chip may miss the first);
    // nothing else is sent until the chip answered "Synchronized". aErrNone only
    // when every answer was the expected one; aErrIO for a wrong answer, else the
    // read's error.
    aErr Sync();
    // Whether the last Sync found a chip that is synchronised already: it echoed
    // the "?" as part of a command line, so Resume can take it up.
    bool answeredAsSynchronised() const { return echoedQuestion_; }
    // Takes up a chip that an earlier connection left synchronised at this rate
    // (its "?" then reads as part of a command line): ends the line the chip holds,
    // drops its answer and turns its echo on. aErrNone when the chip accepted that.
    aErr Resume();
    aErr Unlock();
    // Sector ranges: last < first is refused.
    aErr Prepare(uint32_t firstSector, uint32_t lastSector);
    aErr Erase(uint32_t firstSector, uint32_t lastSector);
    // Writes size bytes (a nonzero multiple of 4) into RAM: UU lines of 45 bytes, a
    // checksum after every 20 lines and after the last. "RESEND" sends the group
    // again; the third one over the whole write fails with aErrTimeout; any reply
    // other than "OK" or "RESEND" fails with aErrIO.
    aErr Write(uint32_t ramAddress, uint32_t size, const uint8_t* data);
    // flashAddress on a 256-byte boundary, count 256, 512, 1024 or 4096.
    aErr Copy(uint32_t flashAddress, uint32_t ramAddress, uint32_t count);
    // Starts the code at address in Thumb mode. The chip answers before it jumps:
    // a nonzero code fails (returnCode() names it).
    aErr Go(uint32_t address);
    // Compares count bytes at two addresses (flash against the RAM it was copied
    // from): aErrNone when equal, aErrParam on COMPARE_ERROR or any other code.
    aErr Compare(uint32_t address1, uint32_t address2, uint32_t count);
    // The return code of the last command whose reply was checked (-1: none read).
    long returnCode() const { return lastCode_; }
    // The echo flag changes only when the chip accepted the change.
    aErr SetEcho(bool on);
    // Reads the four words of the chip's unique id into uid(). aErrIO unless the
    // return code is 0 and each of the four lines is one number (uid() is then
    // left as it was).
    aErr ReadUID();
    const uint32_t* uid() const;
    void Close();

    bool echo() const { return echo_; }
    uint32_t baud() const { return baud_; }
    const std::string& portName() const { return portName_; }

    // Flash sector of an address; kNXPNoSector outside the flash.
    static uint32_t sectorOf(uint32_t address);
    // n rounded up to 256, 512, 1024 or 4096; above 4096, n itself (logged).
    static uint32_t copyLength(uint32_t n);
    // The rate Open uses for a requested baud and its stream index: up to 2400 →
    // 2400, else the first of 2400 ... 230400 at least the request, above 230400 →
    // 9600.
    static uint32_t baudRateFor(uint32_t requested, uint32_t* index);
    // Whether the port can run at exactly this rate, and the rates it can, as
    // "2400, 4800, ..., 230400".
    static bool isSupportedRate(uint32_t baud);
    static std::string supportedRates();

  private:
    aErr SendCommand(const char* text);
    aErr SectorCommand(char letter, uint32_t firstSector, uint32_t lastSector);
    aErr CheckedCommand(const char* text, const char* errorPrefix, uint32_t errorMask, bool logCode,
                        uint32_t budgetMs = 0);
    // Reads that may find nothing within budgetMs (0: the general reply budget).
    uint32_t triesFor(uint32_t budgetMs) const;
    aErr SendQuestionMarks(char* response, size_t size);
    // Reads n bytes that must be the start of expected: aErrIO when they differ.
    aErr ExpectResponse(const char* expected, size_t n);
    aErr Test_Serial_Send(const char* text, size_t length, bool echo);
    aErr Test_Serial_Response(char* buffer, size_t size, const char* expected, size_t n);
    size_t GetEcho(const char* text, size_t n);
    aErr GetLine(char* buffer, size_t max, uint32_t tries);
    aErr SendGroup(const uint8_t* data, uint32_t count);
    aErr ReadByte(uint8_t* byte);
    bool AwaitInput();
    aErr WriteBytes(const char* text, size_t length);
    // Milliseconds that chars characters take on the line at the rate in use.
    uint32_t lineMs(size_t chars) const;

    aStream* stream_ = nullptr;
    bool echo_ = true;
    uint32_t baud_ = 0;
    // Millisecond tick by which the bytes written have crossed the line.
    uint32_t lineFreeMs_ = 0;
    std::string portName_;
    uint32_t uid_[4] = {0, 0, 0, 0};
    long lastCode_ = -1;
    std::string openFailure_;
    bool echoedQuestion_ = false;
};

#endif
