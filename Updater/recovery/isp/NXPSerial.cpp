#include "NXPSerial.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ISPReply.h"
#include "ISPTrace.h"
#include "UUEncode.h"
#include "UpdaterLog.h"
#include "aTime.h"

const NXPChipParameters kNXPChip = {"Crystal", 14.7456f, 0x10001000, 45, 20, 3};

namespace {

const uint32_t kRates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
const uint32_t kRateCount = sizeof(kRates) / sizeof(kRates[0]);
// Rate index Open falls back to for a request beyond the table.
const uint32_t kFallbackRateIndex = 2;

// Reads that may find nothing before a wait for the chip ends.
const uint32_t kReplyTries = 100;
// The chip erases a sector in about 100 ms and programs 256 bytes in about 1 ms,
// reading nothing meanwhile; its reply gets five times that and a second more (a
// slow part, an adapter's latency).
const uint32_t kBusyReplySlackMs = 1000;
const uint32_t kEraseReplyMsPerSector = 500;
const uint32_t kCopyReplyMsPer256 = 5;
// "?" goes out this many times while nothing at all comes back.
const int kSyncTries = 3;
const uint32_t kChecksumTries = 2000;
const size_t kReplyMax = 1024;
const size_t kUIDLineMax = 32;
const size_t kPortNameMax = 2047;
const uint32_t kUnlockCode = 23130;
const long kCompareError = 10;
// A character on the line: start bit, 8 data bits, stop bit.
const uint32_t kBitsPerChar = 10;

const char kSynchronized[] = "Synchronized\r\n";
const char kOK[] = "OK\r\n";

// Flash sector map: 16 sectors of 4 KB, then 14 of 32 KB.
const uint32_t kSmallSectorSize = 0x1000;
const uint32_t kSmallSectors = 16;
const uint32_t kLargeSectorSize = 0x8000;
const uint32_t kLargeSectorsStart = kSmallSectorSize * kSmallSectors;
const uint32_t kFlashEnd = 0x80000;

bool logging(uint32_t mask) {
    return (updaterLog_GetMask() & mask) != 0;
}

void logSending(const char* text, size_t length) {
    if (!logging(DEBUG_NXPSerial_SR)) return;
    updaterLog(DEBUG_NXPSerial_SR, "Sending:[%s] [%s]\n", ISPTrace::hexBytes(text, length).c_str(),
               ISPTrace::printable(text, length).c_str());
}

// The command as logged: without its line end.
std::string commandName(const char* text) {
    std::string name(text);
    while (!name.empty() && (name.back() == '\r' || name.back() == '\n'))
        name.pop_back();
    return name;
}

// The crystal frequency in kHz, rounded in single precision as the chip's tables are.
int crystalKHz() {
    return static_cast<int>(kNXPChip.crystalMHz * 1000.0f + 0.5f);
}

// Follows "\r\n" through a run of bytes: 2 once both arrived in sequence.
int lineEndMatch(int matched, char byte) {
    if (byte == '\r') return 1;
    return byte == '\n' && matched == 1 ? 2 : 0;
}

} // namespace

NXPSerial::NXPSerial() = default;

NXPSerial::~NXPSerial() {
    Close();
}

uint32_t NXPSerial::baudRateFor(uint32_t requested, uint32_t* index) {
    uint32_t i = 0;
    if (requested > kRates[kRateCount - 1])
        i = kFallbackRateIndex;
    else
        while (kRates[i] < requested)
            ++i;
    if (index) *index = i;
    return kRates[i];
}

aErr NXPSerial::Open(const std::string& portName, uint32_t baud) {
    Close();
    uint32_t index = 0;
    baud_ = baudRateFor(baud, &index);
    updaterLog(DEBUG_NXPSerial, "Creating serial connection: [%s] stream baud:%d(%d)\n", portName.c_str(),
               static_cast<int>(index), static_cast<int>(baud_));
    openFailure_.clear();
    errno = 0;
    aErr err = aStream_CreateSerial(portName.c_str(), index, 0, 0, 0, &stream_);
    if (err != aErrNone) {
        openFailure_ = errno != 0 ? std::strerror(errno) : aError_GetErrorText(err);
        updaterLog(DEBUG_NXPSerial, "Error Creating Serial [%s] ==> %s", portName.c_str(),
                   aError_GetErrorText(err));
        return err;
    }
    portName_ = portName.substr(0, kPortNameMax);
    return aErrNone;
}

void NXPSerial::Close() {
    if (stream_) aStream_Destroy(&stream_);
}

aErr NXPSerial::ReadByte(uint8_t* byte) {
    return aStream_Read(stream_, byte, 1);
}

// A read found nothing: wait for input up to one character time (at least 1 ms).
// While what was sent is still on its way to the chip no answer can have begun,
// so such a wait spends no try: at a low rate the port holds seconds of bytes.
// Answers whether the wait spends a try.
bool NXPSerial::AwaitInput() {
    const uint32_t charMs = std::max<uint32_t>(1, lineMs(1));
    const int32_t onLine = static_cast<int32_t>(lineFreeMs_ - aTime_GetMSTicks());
    const uint32_t wait = onLine > 0 ? std::min<uint32_t>(static_cast<uint32_t>(onLine), charMs) : charMs;
    if (aStream_AwaitInput(stream_, wait) == aErrUnimplemented) aTime_MSSleep(wait);
    return onLine <= 0;
}

aErr NXPSerial::WriteBytes(const char* text, size_t length) {
    aErr err = aStream_Write(stream_, reinterpret_cast<const uint8_t*>(text), static_cast<uint32>(length));
    // A port that failed carries nothing to wait for.
    if (err != aErrNone) return err;
    const uint32_t now = aTime_GetMSTicks();
    if (static_cast<int32_t>(lineFreeMs_ - now) < 0) lineFreeMs_ = now;
    lineFreeMs_ += lineMs(length);
    return err;
}

uint32_t NXPSerial::lineMs(size_t chars) const {
    if (baud_ == 0) return 0;
    return static_cast<uint32_t>((uint64_t(chars) * kBitsPerChar * 1000 + baud_ - 1) / baud_);
}

size_t NXPSerial::GetEcho(const char* text, size_t n) {
    const bool tracing = logging(DEBUG_NXPSerial_E);
    if (tracing)
        updaterLog(DEBUG_NXPSerial_E, "GetEcho([%s] %d, ...)\n", ISPTrace::hexBytes(text, n).c_str(),
                   static_cast<int>(n));
    std::string trace;
    size_t matched = 0;
    for (uint32_t empty = 0; matched < n && empty < kReplyTries;) {
        uint8_t byte = 0;
        if (ReadByte(&byte) != aErrNone) {
            if (AwaitInput()) ++empty;
            if (tracing) trace += '.';
            continue;
        }
        const uint8_t expected = static_cast<uint8_t>(text[matched]);
        if (byte == expected) ++matched;
        if (tracing) {
            char item[16];
            if (byte == expected)
                std::snprintf(item, sizeof item, " %02X", byte);
            else
                std::snprintf(item, sizeof item, " %.2X!=%.2X", byte, expected);
            trace += item;
        }
    }
    if (tracing) updaterLog(DEBUG_NXPSerial_E, "recv Echo:[%s]\n", trace.c_str());
    return matched;
}

aErr NXPSerial::GetLine(char* buffer, size_t max, uint32_t tries) {
    size_t count = 0;
    int lineEnd = 0;
    aErr last = aErrNone;
    std::string waits;
    for (uint32_t used = 0; count < max && lineEnd < 2 && used < tries;) {
        uint8_t byte = 0;
        last = ReadByte(&byte);
        if (last != aErrNone) {
            if (AwaitInput()) ++used;
            waits += '.';
            continue;
        }
        if (count == 0 && byte == '\n') {
            ++used;
            waits += ',';
            continue;
        }
        buffer[count++] = static_cast<char>(byte);
        lineEnd = lineEndMatch(lineEnd, static_cast<char>(byte));
    }
    buffer[count] = '\0';
    if (!waits.empty()) updaterLog(DEBUG_NXPSerial_E, "%s", waits.c_str());
    if (logging(DEBUG_NXPSerial_SR))
        updaterLog(DEBUG_NXPSerial_SR, "GetLine() Received: [%s] [%s] %d %s [%s]\n",
                   ISPTrace::hexBytes(buffer, count).c_str(), ISPTrace::printable(buffer, count).c_str(),
                   static_cast<int>(count), lineEnd == 2 ? "term" : "non-term", aError_GetErrorText(last));
    return last;
}

aErr NXPSerial::Test_Serial_Send(const char* text, size_t length, bool echo) {
    logSending(text, length);
    aErr err = WriteBytes(text, length);
    if (err != aErrNone)
        updaterLog(DEBUG_NXPSerial, "Error Test_Serial_Send() [%s]\n", aError_GetErrorText(err));
    if (echo && length > 0) GetEcho(text, length - 1);
    return err;
}

aErr NXPSerial::SendCommand(const char* text) {
    const size_t length = std::strlen(text);
    logSending(text, length);
    aErr err = WriteBytes(text, length);
    if (err != aErrNone)
        updaterLog(DEBUG_NXPSerial, "Error Test_Serial_Send() [%s]\n", aError_GetErrorText(err));
    // The final "\n" stays for the reply reader, which skips it.
    if (echo_ && length > 0) {
        const size_t echoed = GetEcho(text, length - 1);
        if (echoed < length - 1)
            updaterLog(DEBUG_NXPSerial_E, "Error SendCommand() bad echo [%d!=%d]\n", static_cast<int>(echoed),
                       static_cast<int>(length));
    }
    if (err != aErrNone) updaterLog(DEBUG_NXPSerial, "Error Write Serial [%s]\n", aError_GetErrorText(err));
    return err;
}

uint32_t NXPSerial::triesFor(uint32_t budgetMs) const {
    if (budgetMs == 0) return kReplyTries;
    const uint32_t charMs = std::max<uint32_t>(1, lineMs(1));
    return (budgetMs + charMs - 1) / charMs;
}

aErr NXPSerial::CheckedCommand(const char* text, const char* errorPrefix, uint32_t errorMask, bool logCode,
                               uint32_t budgetMs) {
    lastCode_ = -1;
    aErr err = SendCommand(text);
    if (err != aErrNone) {
        updaterLog(errorMask, "%sError Sending command [%s] [%s]\n", errorPrefix, commandName(text).c_str(),
                   aError_GetErrorText(err));
        return err;
    }
    char line[kReplyMax + 1];
    GetLine(line, kReplyMax, triesFor(budgetMs));
    long code = -1;
    if (ISPReply::returnCode(line, echo_, &code)) lastCode_ = code;
    if (lastCode_ == 0) return aErrNone;
    if (logCode)
        updaterLog(errorMask, "%sError response ==>[%s]\n", errorPrefix, ISPReply::returnCodeName(code));
    return aErrParam;
}

aErr NXPSerial::Test_Serial_Response(char* buffer, size_t size, const char* expected, size_t n) {
    if (!expected || n > size - 1) n = size - 1;
    const uint32_t wait = static_cast<uint32_t>((n + 2) * 9000 / baud_ + 21);
    updaterLog(DEBUG_NXPSerial_E, "Response() wait for serial [%d bytes, %d, %d ms]\n", static_cast<int>(n),
               static_cast<int>(baud_), static_cast<int>(wait));
    aTime_MSSleep(wait);
    size_t taken = 0;
    int lineEnd = 0;
    aErr last = aErrNone;
    for (uint32_t empty = 0; taken < n && lineEnd < 2 && empty < kReplyTries;) {
        uint8_t byte = 0;
        last = ReadByte(&byte);
        if (last != aErrNone) {
            if (AwaitInput()) ++empty;
            continue;
        }
        if (taken == 0 && (byte == '\n' || byte == '\r')) {
            updaterLog(DEBUG_NXPSerial_E,
                       byte == '\n' ? "Response ignoring leading \\n\n" : "Response ignoring leading \\r\n");
            continue;
        }
        if (taken < 3 && byte == 0) {
            updaterLog(DEBUG_NXPSerial_E, "Response ignoring leading 0 byte\n");
            continue;
        }
        if (expected && byte != static_cast<uint8_t>(expected[taken])) {
            const char want = expected[taken];
            updaterLog(
                DEBUG_NXPSerial_E,
                "Error Test_Serial_Response() Expected byte %d does not match [[%02X] %c != %c [%02X]]\n",
                static_cast<int>(taken), byte, std::isprint(byte) ? byte : ' ',
                std::isprint(static_cast<unsigned char>(want)) ? want : ' ',
                static_cast<unsigned char>(want));
        }
        buffer[taken++] = static_cast<char>(byte);
        lineEnd = lineEndMatch(lineEnd, static_cast<char>(byte));
    }
    buffer[taken] = '\0';
    if (logging(DEBUG_NXPSerial_SR))
        updaterLog(DEBUG_NXPSerial_SR, "Response: [%s] [%s]\n", ISPTrace::hexBytes(buffer, taken).c_str(),
                   ISPTrace::printable(buffer, taken, true).c_str());
    return last;
}

// Sends "?" until something comes back, a few times at most: a chip just out of
// reset may miss the first. Anything else could lock an auto-bauding chip onto a
// wrong rate, so only "?" goes out.
aErr NXPSerial::SendQuestionMarks(char* response, size_t size) {
    aErr err = aErrNotReady;
    for (int i = 0; i < kSyncTries; ++i) {
        std::memset(response, 0, size);
        if ((err = Test_Serial_Send("?", 1, false)) != aErrNone) return err;
        err = Test_Serial_Response(response, size, kSynchronized, std::strlen(kSynchronized));
        if (response[0] != '\0') return err;
    }
    return err;
}

aErr NXPSerial::ExpectResponse(const char* expected, size_t n) {
    char response[64];
    std::memset(response, 0, sizeof response);
    aErr err = Test_Serial_Response(response, sizeof response, expected, n);
    if (std::strncmp(response, expected, n) == 0) return aErrNone;
    updaterLog(DEBUG_NXPSerial, "Did not receive correct response [%s] != [%s]\n", response, expected);
    return err != aErrNone ? err : aErrIO;
}

aErr NXPSerial::Sync() {
    char response[64];
    echoedQuestion_ = false;
    aErr err = SendQuestionMarks(response, sizeof response);
    if (err != aErrNone) {
        updaterLog(DEBUG_NXPSerial,
                   "Did not receive correct response to opening sync command: [%s]. Response: [%s]\n",
                   kSynchronized, response);
        // A chip synchronised by an earlier run takes "?" into a command line.
        echoedQuestion_ = std::strcmp(response, "?") == 0;
        return err;
    }
    if (std::strcmp(response, kSynchronized) != 0) {
        updaterLog(DEBUG_NXPSerial, "Did not receive correct response [%s]\n", kSynchronized);
        return aErrIO;
    }
    Test_Serial_Send(kSynchronized, std::strlen(kSynchronized), false);
    if ((err = ExpectResponse(kSynchronized, std::strlen(kSynchronized) - 1)) != aErrNone) return err;
    if ((err = ExpectResponse(kOK, std::strlen(kOK))) != aErrNone) return err;

    char crystal[32];
    const int length = std::snprintf(crystal, sizeof crystal, "%d\r\n", crystalKHz());
    Test_Serial_Send(crystal, static_cast<size_t>(length), false);
    if ((err = ExpectResponse(crystal, static_cast<size_t>(length) - 1)) != aErrNone) return err;
    return ExpectResponse(kOK, std::strlen(kOK));
}

aErr NXPSerial::Unlock() {
    char command[32];
    std::snprintf(command, sizeof command, "U %d\r\n", static_cast<int>(kUnlockCode));
    return CheckedCommand(command, "", DEBUG_NXPSerial, false);
}

aErr NXPSerial::SectorCommand(char letter, uint32_t firstSector, uint32_t lastSector) {
    if (lastSector < firstSector) return aErrParam;
    char command[64];
    std::snprintf(command, sizeof command, "%c %d %d\r\n", letter, static_cast<int>(firstSector),
                  static_cast<int>(lastSector));
    return CheckedCommand(command, "", DEBUG_NXPSerial, true);
}

aErr NXPSerial::Prepare(uint32_t firstSector, uint32_t lastSector) {
    return SectorCommand('P', firstSector, lastSector);
}

aErr NXPSerial::Erase(uint32_t firstSector, uint32_t lastSector) {
    if (lastSector < firstSector) return aErrParam;
    char command[64];
    std::snprintf(command, sizeof command, "E %d %d\r\n", static_cast<int>(firstSector),
                  static_cast<int>(lastSector));
    const uint32_t sectors = lastSector - firstSector + 1;
    return CheckedCommand(command, "", DEBUG_NXPSerial, true,
                          kBusyReplySlackMs + sectors * kEraseReplyMsPerSector);
}

aErr NXPSerial::SendGroup(const uint8_t* data, uint32_t count) {
    uint32_t sum = 0;
    for (uint32_t at = 0; at < count; at += kNXPChip.bytesPerLine) {
        const uint32_t n = std::min(kNXPChip.bytesPerLine, count - at);
        std::string line = uuEncodeLine(data + at, n);
        line += "\r\n";
        aErr err = Test_Serial_Send(line.data(), line.size(), echo_);
        if (err != aErrNone) return err;
        for (uint32_t i = 0; i < n; ++i)
            sum += data[at + i];
    }
    updaterLog(DEBUG_NXPSerial_SR, "Write() Checksum: %08X (%d)\n", sum, static_cast<int>(sum));
    char checksum[32];
    const int length = std::snprintf(checksum, sizeof checksum, "%d\r\n", static_cast<int>(sum));
    return Test_Serial_Send(checksum, static_cast<size_t>(length), echo_);
}

aErr NXPSerial::Write(uint32_t ramAddress, uint32_t size, const uint8_t* data) {
    if (size == 0 || size % 4 != 0 || !data) return aErrParam;
    char command[64];
    std::snprintf(command, sizeof command, "W %d %d\r\n", static_cast<int>(ramAddress),
                  static_cast<int>(size));
    aErr err = CheckedCommand(command, "Write() ", DEBUG_NXPSerial_SR, true);
    if (err != aErrNone) return err;

    const uint32_t groupBytes = kNXPChip.bytesPerLine * kNXPChip.linesPerChecksum;
    uint32_t retries = kNXPChip.resendRetries;
    for (uint32_t accepted = 0; accepted < size;) {
        const uint32_t count = std::min(groupBytes, size - accepted);
        err = SendGroup(data + accepted, count);
        if (err != aErrNone) return err;
        const uint32_t start = aTime_GetMSTicks();
        char line[kReplyMax + 1];
        GetLine(line, kReplyMax, kChecksumTries);
        updaterLog(DEBUG_NXPSerial_E, "Write() waited for checksum %d ms\n",
                   static_cast<int>(aTime_GetMSTicks() - start + 1));
        switch (ISPReply::checksumReply(line)) {
        case ISPReply::ChecksumReply::Ok:
            accepted += count;
            updaterLog(DEBUG_NXPSerial_E, "Write() valid transfer of %d of %d (%.0f%%) bytes\n",
                       static_cast<int>(accepted), static_cast<int>(size), 100.0 * accepted / size);
            break;
        case ISPReply::ChecksumReply::Resend:
            if (--retries == 0) {
                updaterLog(DEBUG_NXPSerial, "Write() exceeded retries\n");
                return aErrTimeout;
            }
            break;
        case ISPReply::ChecksumReply::Other:
            updaterLog(DEBUG_NXPSerial, "Write() unexpected response [%s]\n", line);
            return aErrIO;
        }
    }
    return aErrNone;
}

aErr NXPSerial::Copy(uint32_t flashAddress, uint32_t ramAddress, uint32_t count) {
    if ((flashAddress & 0xFF) != 0) return aErrParam;
    if (count > kNXPMaxCopy || copyLength(count) != count) return aErrParam;
    char command[96];
    std::snprintf(command, sizeof command, "C %d %d %d\r\n", static_cast<int>(flashAddress),
                  static_cast<int>(ramAddress), static_cast<int>(count));
    return CheckedCommand(command, "", DEBUG_NXPSerial, true,
                          kBusyReplySlackMs + (count + 255) / 256 * kCopyReplyMsPer256);
}

aErr NXPSerial::Compare(uint32_t address1, uint32_t address2, uint32_t count) {
    if (count == 0 || count % 4 != 0) return aErrParam;
    char command[96];
    std::snprintf(command, sizeof command, "M %d %d %d\r\n", static_cast<int>(address1),
                  static_cast<int>(address2), static_cast<int>(count));
    aErr err = CheckedCommand(command, "", DEBUG_NXPSerial, true);
    if (lastCode_ == kCompareError) {
        // The offset of the first difference follows: it must not pass for the
        // next command's reply.
        char line[kReplyMax + 1];
        GetLine(line, kReplyMax, kReplyTries);
        updaterLog(DEBUG_NXPSerial, "Compare() differs at offset %s", line);
    }
    return err;
}

aErr NXPSerial::Go(uint32_t address) {
    char command[64];
    std::snprintf(command, sizeof command, "G %d T\r\n", static_cast<int>(address));
    return CheckedCommand(command, "", DEBUG_NXPSerial, true);
}

aErr NXPSerial::SetEcho(bool on) {
    updaterLog(DEBUG_NXPSerial, "Setting device echo %d\n", on ? 1 : 0);
    aErr err = CheckedCommand(on ? "A 1\r\n" : "A 0\r\n", "", DEBUG_NXPSerial, false);
    if (err == aErrNone) echo_ = on;
    return err;
}

aErr NXPSerial::Resume() {
    aErr err = Test_Serial_Send("\r\n", 2, false);
    if (err != aErrNone) return err;
    // What the chip answers to the line so ended is of no use: drop it until the
    // line stays quiet.
    constexpr uint32_t kQuietReads = 20, kMostReads = 400;
    for (uint32_t quiet = 0, reads = 0; quiet < kQuietReads && reads < kMostReads; ++reads) {
        uint8_t byte = 0;
        if (ReadByte(&byte) == aErrNone)
            quiet = 0;
        else if (AwaitInput())
            ++quiet;
    }
    // The chip's echo may be off (a run that ended mid-transfer): turn it on, and
    // take the reply after the command's echo, if any. Answered, it shows an ISP
    // handler listening at this rate.
    static const char kEchoOn[] = "A 1\r\n";
    if ((err = Test_Serial_Send(kEchoOn, sizeof kEchoOn - 1, false)) != aErrNone) return err;
    char line[kReplyMax + 1];
    for (int lines = 0; lines < 2; ++lines) {
        GetLine(line, kReplyMax, kReplyTries);
        if (std::strcmp(line, "0\r\n") == 0) {
            echo_ = true;
            return aErrNone;
        }
    }
    return aErrIO;
}

aErr NXPSerial::ReadUID() {
    static const char kCommand[] = "N\r\n";
    aErr err = CheckedCommand(kCommand, "", DEBUG_NXPSerial, true);
    if (err != aErrNone) return lastCode_ == -1 && err == aErrParam ? aErrIO : err;
    char line[kReplyMax + 1];
    uint32_t words[4];
    for (uint32_t& word : words) {
        GetLine(line, kUIDLineMax, kReplyTries);
        if (!ISPReply::parseUidWord(line, &word)) {
            updaterLog(DEBUG_NXPSerial, "ReadUID() unexpected line [%s]\n",
                       ISPTrace::printable(line, std::strlen(line)).c_str());
            return aErrIO;
        }
    }
    std::copy(words, words + 4, uid_);
    return aErrNone;
}

const uint32_t* NXPSerial::uid() const {
    return uid_;
}

bool NXPSerial::isSupportedRate(uint32_t baud) {
    return std::find(kRates, kRates + kRateCount, baud) != kRates + kRateCount;
}

std::string NXPSerial::supportedRates() {
    std::string text;
    for (uint32_t rate : kRates)
        text += (text.empty() ? "" : ", ") + std::to_string(rate);
    return text;
}

uint32_t NXPSerial::sectorOf(uint32_t address) {
    if (address < kLargeSectorsStart) return address / kSmallSectorSize;
    if (address < kFlashEnd) return kSmallSectors + (address - kLargeSectorsStart) / kLargeSectorSize;
    return kNXPNoSector;
}

uint32_t NXPSerial::copyLength(uint32_t n) {
    for (uint32_t length : {256u, 512u, 1024u, kNXPMaxCopy})
        if (n <= length) return length;
    updaterLog(DEBUG_NXPSerial, "Copy length is too large. %d > 4096.\n", static_cast<int>(n));
    return n;
}
