#include "IspRom.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace Veltrano::Sim {

namespace {

enum ReturnCode : uint32_t {
    CMD_SUCCESS = 0,
    INVALID_COMMAND = 1,
    SRC_ADDR_ERROR = 2,
    DST_ADDR_ERROR = 3,
    SRC_ADDR_NOT_MAPPED = 4,
    DST_ADDR_NOT_MAPPED = 5,
    COUNT_ERROR = 6,
    INVALID_SECTOR = 7,
    SECTOR_NOT_BLANK = 8,
    SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION = 9,
    COMPARE_ERROR = 10,
    PARAM_ERROR = 12,
    ADDR_ERROR = 13,
    ADDR_NOT_MAPPED = 14,
    CMD_LOCKED = 15,
    INVALID_CODE = 16,
};

const uint32_t kUnlockCode = 23130;
const uint32_t kLinesPerChecksum = 20;
const uint32_t kBytesPerLine = 45;
// A line longer than this is noise (a host at the wrong rate); it is dropped.
const size_t kLineMax = 256;

// What a UART at the wrong rate makes of a byte: never a character of the protocol.
uint8_t garbled(uint8_t byte) {
    return static_cast<uint8_t>((byte ^ 0xA5) | 0x80);
}

std::string garbled(const std::string& text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(garbled(static_cast<uint8_t>(c)));
    return out;
}

std::string number(uint32_t value) {
    return std::to_string(value) + "\r\n";
}

uint32_t sectorOf(uint32_t address) {
    return address < 0x10000 ? address >> 12 : 16 + ((address - 0x10000) >> 15);
}

uint32_t sectorStart(uint32_t sector) {
    return sector < 16 ? sector << 12 : 0x10000 + ((sector - 16) << 15);
}

bool inRange(uint32_t address, uint32_t count, uint32_t start, uint32_t end) {
    return address >= start && address <= end && count <= end - address;
}

bool inFlash(uint32_t address, uint32_t count) {
    return inRange(address, count, 0, IspRom::kFlashSize);
}

bool inRam(uint32_t address, uint32_t count) {
    return inRange(address, count, IspRom::kRamBase, IspRom::kRamBase + IspRom::kRamSize);
}

// Decimal words after the command letter; false when one is not a number.
bool parseArguments(const std::string& text, std::vector<uint32_t>& args, std::string& rest) {
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && text[at] == ' ')
            ++at;
        size_t end = text.find(' ', at);
        if (end == std::string::npos) end = text.size();
        std::string word = text.substr(at, end - at);
        at = end;
        if (word.empty()) continue;
        if (!std::all_of(word.begin(), word.end(), [](char c) { return std::isdigit((unsigned char)c); })) {
            rest = word;
            continue;
        }
        unsigned long long value = std::strtoull(word.c_str(), nullptr, 10);
        if (value > UINT32_MAX) return false;
        args.push_back(static_cast<uint32_t>(value));
    }
    return true;
}

// One UU line's bytes; the length character says how many.
std::vector<uint8_t> uuDecode(const std::string& line) {
    std::vector<uint8_t> bytes;
    if (line.empty()) return bytes;
    const auto six = [](char c) { return static_cast<uint32_t>((c - 32) & 0x3F); };
    const uint32_t count = six(line[0]);
    for (size_t at = 1; bytes.size() < count; at += 4) {
        uint32_t group = 0;
        for (size_t k = 0; k < 4; ++k)
            group = (group << 6) | (at + k < line.size() ? six(line[at + k]) : 0);
        for (int shift = 16; shift >= 0 && bytes.size() < count; shift -= 8)
            bytes.push_back(static_cast<uint8_t>(group >> shift));
    }
    return bytes;
}

std::string uuLine(const uint8_t* bytes, uint32_t count) {
    static const char kTable[] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
    std::string line(1, kTable[count]);
    for (uint32_t i = 0; i < count; i += 3) {
        const uint32_t group =
            (bytes[i] << 16) | ((i + 1 < count ? bytes[i + 1] : 0) << 8) | (i + 2 < count ? bytes[i + 2] : 0);
        for (int shift = 18; shift >= 0; shift -= 6)
            line += kTable[(group >> shift) & 0x3F];
    }
    return line + "\r\n";
}

uint32_t sum(const uint8_t* bytes, size_t count) {
    uint32_t total = 0;
    for (size_t i = 0; i < count; ++i)
        total += bytes[i];
    return total;
}

} // namespace

bool vectorChecksumValid(const uint8_t* image) {
    uint32_t total = 0;
    for (size_t at = 0; at < 0x20; at += 4)
        total +=
            image[at] | image[at + 1] << 8 | image[at + 2] << 16 | static_cast<uint32_t>(image[at + 3]) << 24;
    return total == 0;
}

void setVectorChecksum(std::vector<uint8_t>& image) {
    uint32_t total = 0;
    for (size_t at = 0; at < 0x1C; at += 4)
        total +=
            image[at] | image[at + 1] << 8 | image[at + 2] << 16 | static_cast<uint32_t>(image[at + 3]) << 24;
    const uint32_t check = 0u - total;
    for (int i = 0; i < 4; ++i)
        image[0x1C + i] = static_cast<uint8_t>(check >> (8 * i));
}

IspRom::IspRom(IspRomSettings settings)
    : settings_(std::move(settings)), flash_(kFlashSize, 0xFF), ram_(kRamSize, 0),
      prepared_(kSectors, false) {}

void IspRom::onFlashChanged(std::function<void(const std::vector<uint8_t>&)> callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    flashChanged_ = std::move(callback);
}

void IspRom::loadFlash(const std::vector<uint8_t>& image) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::fill(flash_.begin(), flash_.end(), 0xFF);
    std::copy_n(image.begin(), std::min(image.size(), flash_.size()), flash_.begin());
    state_ = !settings_.ispEntryHeld && userCodeValid() ? State::Started : State::AutoBaud;
}

bool IspRom::userCodeValid() const {
    return vectorChecksumValid(flash_.data());
}

std::vector<uint8_t> IspRom::flash() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return flash_;
}

std::vector<uint8_t> IspRom::ram(uint32_t address, uint32_t count) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!inRam(address, count)) return {};
    const uint8_t* at = ram_.data() + (address - kRamBase);
    return std::vector<uint8_t>(at, at + count);
}

bool IspRom::synchronized() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_ != State::AutoBaud && state_ != State::SyncLine && state_ != State::Crystal;
}

uint32_t IspRom::lockedBaud() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lockedBaud_;
}

bool IspRom::echo() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return echo_;
}

bool IspRom::started() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_ == State::Started;
}

uint32_t IspRom::startAddress() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return startAddress_;
}

std::vector<std::string> IspRom::commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

std::vector<uint32_t> IspRom::dataLines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dataLines_;
}

std::vector<uint32_t> IspRom::checksumGroups() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return checksumGroups_;
}

uint32_t IspRom::resends() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return resends_;
}

std::string IspRom::receive(uint8_t byte, uint32_t hostBaud, IspBusy* busy) {
    std::lock_guard<std::mutex> lock(mutex_);
    busyMs_ = 0;
    const bool autoBaud = state_ == State::AutoBaud || (state_ == State::SyncLine && line_.empty());
    if (autoBaud && byte == '?') lockedBaud_ = hostBaud;
    const bool wrongRate = lockedBaud_ != 0 && hostBaud != 0 && hostBaud != lockedBaud_;
    std::string out;
    size_t replyAt = 0;
    take(wrongRate ? garbled(byte) : byte, out, replyAt);
    if (silent_) return {};
    if (busy) *busy = IspBusy{replyAt, busyMs_};
    return wrongRate ? garbled(out) : out;
}

void IspRom::take(uint8_t byte, std::string& out, size_t& replyAt) {
    switch (state_) {
    case State::Started:
        return;
    case State::AutoBaud:
        if (byte == '?') {
            out += "Synchronized\r\n";
            state_ = State::SyncLine;
            line_.clear();
        }
        return;
    case State::SyncLine:
        if (byte == '?' && line_.empty()) {
            out += "Synchronized\r\n";
            return;
        }
        break;
    default:
        break;
    }
    if (echo_) out += static_cast<char>(byte);
    replyAt = out.size();
    if (byte == '\n') {
        lineComplete(out);
        return;
    }
    if (byte == '\r' && state_ == State::Command && !line_.empty() &&
        matches(settings_.earlyAt, line_[0], occurrences_[line_[0]] + 1)) {
        command(line_, out);
        answeredEarly_ = true;
    }
    if (byte != '\r') line_ += static_cast<char>(byte);
    if (line_.size() > kLineMax) line_.clear();
}

void IspRom::lineComplete(std::string& out) {
    std::string line;
    line.swap(line_);
    if (answeredEarly_) {
        answeredEarly_ = false;
        return;
    }
    switch (state_) {
    case State::SyncLine:
        if (line == "Synchronized") {
            out += "OK\r\n";
            state_ = State::Crystal;
        } else {
            state_ = State::AutoBaud;
        }
        break;
    case State::Crystal:
        if (!line.empty() &&
            std::all_of(line.begin(), line.end(), [](char c) { return std::isdigit((unsigned char)c); })) {
            out += "OK\r\n";
            state_ = State::Command;
        } else {
            state_ = State::AutoBaud;
        }
        break;
    case State::Command:
        if (!line.empty()) command(line, out);
        break;
    case State::WriteData:
        writeDataLine(line, out);
        break;
    case State::ReadAck:
        readAck(line, out);
        break;
    default:
        break;
    }
}

bool IspRom::matches(const IspCommandPoint& point, char letter, uint32_t occurrence) const {
    return point.letter != 0 && point.letter == letter && point.occurrence == occurrence;
}

void IspRom::command(const std::string& line, std::string& out) {
    const char letter = line[0];
    const uint32_t occurrence = ++occurrences_[letter];
    commands_.push_back(line);
    if (matches(settings_.silentFrom, letter, occurrence)) silent_ = true;
    std::vector<uint32_t> args;
    std::string rest;
    std::string extra;
    uint32_t code = PARAM_ERROR;
    if (line.size() > 1 && line[1] != ' ')
        code = INVALID_COMMAND;
    else if (matches(settings_.failAt, letter, occurrence))
        code = settings_.failCode;
    else if (parseArguments(line.substr(1), args, rest))
        code = dispatch(letter, args, args.size(), rest, extra);
    std::string reply = number(code) + extra;
    if (matches(settings_.garbleAt, letter, occurrence)) reply = garbled(reply);
    if (!settings_.babble.empty()) reply = settings_.babble + "\r\n";
    out += reply;
    if (code == CMD_SUCCESS && letter == 'R') sendReadGroup(out);
}

uint32_t IspRom::dispatch(char letter, const std::vector<uint32_t>& a, size_t n, const std::string& rest,
                          std::string& extra) {
    switch (letter) {
    case 'U':
        return unlock(a, n);
    case 'A':
        return setEcho(a, n);
    case 'P':
        return prepare(a, n);
    case 'E':
        return erase(a, n);
    case 'W':
        return writeRam(a, n);
    case 'C':
        return copy(a, n);
    case 'G':
        return go(a, n, rest);
    case 'R':
        return readMemory(a, n);
    case 'M':
        return compare(a, n, extra);
    case 'I':
        return blankCheck(a, n, extra);
    case 'J':
        if (n != 0) return PARAM_ERROR;
        extra = number(settings_.partId);
        return CMD_SUCCESS;
    case 'K':
        if (n != 0) return PARAM_ERROR;
        extra = number(settings_.bootCodeMinor) + number(settings_.bootCodeMajor);
        return CMD_SUCCESS;
    case 'N':
        if (n != 0) return PARAM_ERROR;
        for (uint32_t word : settings_.uid)
            extra += number(word);
        return CMD_SUCCESS;
    default:
        return INVALID_COMMAND;
    }
}

uint32_t IspRom::unlock(const std::vector<uint32_t>& a, size_t n) {
    if (n != 1) return PARAM_ERROR;
    if (a[0] != kUnlockCode) return INVALID_CODE;
    unlocked_ = true;
    return CMD_SUCCESS;
}

uint32_t IspRom::setEcho(const std::vector<uint32_t>& a, size_t n) {
    if (n != 1 || a[0] > 1) return PARAM_ERROR;
    echo_ = a[0] == 1;
    return CMD_SUCCESS;
}

uint32_t IspRom::prepare(const std::vector<uint32_t>& a, size_t n) {
    if (n != 2) return PARAM_ERROR;
    if (a[1] < a[0] || a[1] >= kSectors) return INVALID_SECTOR;
    for (uint32_t s = a[0]; s <= a[1]; ++s)
        prepared_[s] = true;
    return CMD_SUCCESS;
}

bool IspRom::sectorsPrepared(uint32_t first, uint32_t last) const {
    for (uint32_t s = first; s <= last; ++s)
        if (!prepared_[s]) return false;
    return true;
}

uint32_t IspRom::erase(const std::vector<uint32_t>& a, size_t n) {
    if (n != 2) return PARAM_ERROR;
    if (!unlocked_) return CMD_LOCKED;
    if (a[1] < a[0] || a[1] >= kSectors) return INVALID_SECTOR;
    if (!sectorsPrepared(a[0], a[1])) return SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION;
    const uint32_t end = a[1] + 1 < kSectors ? sectorStart(a[1] + 1) : kFlashSize;
    std::fill(flash_.begin() + sectorStart(a[0]), flash_.begin() + end, 0xFF);
    if (settings_.timed) busyMs_ = settings_.eraseMsPerSector * (a[1] - a[0] + 1);
    // Every erase or write protects all sectors again.
    std::fill(prepared_.begin(), prepared_.end(), false);
    flashChanged();
    return CMD_SUCCESS;
}

uint32_t IspRom::writeRam(const std::vector<uint32_t>& a, size_t n) {
    if (n != 2) return PARAM_ERROR;
    if (a[0] % 4 != 0) return DST_ADDR_ERROR;
    if (a[1] % 4 != 0) return COUNT_ERROR;
    if (!inRange(a[0], a[1], kRamUserStart, kRamUserEnd)) return DST_ADDR_NOT_MAPPED;
    if (a[1] == 0) return CMD_SUCCESS;
    writeAddress_ = a[0];
    writeCount_ = a[1];
    writeAccepted_ = 0;
    group_.clear();
    groupLines_ = 0;
    resendsLeft_ = settings_.resendTimes;
    state_ = State::WriteData;
    return CMD_SUCCESS;
}

void IspRom::writeDataLine(const std::string& line, std::string& out) {
    const bool groupFull = groupLines_ == kLinesPerChecksum || writeAccepted_ + group_.size() >= writeCount_;
    if (!groupFull) {
        std::vector<uint8_t> bytes = uuDecode(line);
        dataLines_.push_back(static_cast<uint32_t>(bytes.size()));
        group_.insert(group_.end(), bytes.begin(), bytes.end());
        ++groupLines_;
        return;
    }
    // The checksum line of the group.
    checksumGroups_.push_back(groupLines_);
    const bool valid = !line.empty() && std::all_of(line.begin(), line.end(), [](char c) {
        return std::isdigit((unsigned char)c);
    }) && std::strtoull(line.c_str(), nullptr, 10) == sum(group_.data(), group_.size());
    const bool forceResend = resendsLeft_ != 0;
    if (forceResend && resendsLeft_ > 0) --resendsLeft_;
    if (!valid || forceResend) {
        ++resends_;
        out += "RESEND\r\n";
    } else {
        const uint32_t keep =
            std::min<uint32_t>(static_cast<uint32_t>(group_.size()), writeCount_ - writeAccepted_);
        std::copy_n(group_.begin(), keep, ram_.begin() + (writeAddress_ - kRamBase + writeAccepted_));
        writeAccepted_ += keep;
        out += settings_.checksumReply.empty() ? "OK\r\n" : settings_.checksumReply;
    }
    group_.clear();
    groupLines_ = 0;
    if (writeAccepted_ >= writeCount_) state_ = State::Command;
}

uint32_t IspRom::copy(const std::vector<uint32_t>& a, size_t n) {
    if (n != 3) return PARAM_ERROR;
    if (!unlocked_) return CMD_LOCKED;
    const uint32_t dst = a[0], src = a[1], count = a[2];
    if (src % 4 != 0) return SRC_ADDR_ERROR;
    if (dst % 256 != 0) return DST_ADDR_ERROR;
    if (count != 256 && count != 512 && count != 1024 && count != 4096) return COUNT_ERROR;
    if (!inRam(src, count)) return SRC_ADDR_NOT_MAPPED;
    if (!inFlash(dst, count)) return DST_ADDR_NOT_MAPPED;
    if (!sectorsPrepared(sectorOf(dst), sectorOf(dst + count - 1)))
        return SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION;
    // Programming only clears bits: what is not blank keeps its zeros.
    for (uint32_t i = 0; i < count; ++i)
        flash_[dst + i] &= ram_[src - kRamBase + i];
    if (++copies_ == settings_.flipBitAtCopy) flash_[dst + count / 2] ^= 0x10;
    if (settings_.timed) busyMs_ = settings_.copyMs ? settings_.copyMs : count / 256;
    std::fill(prepared_.begin(), prepared_.end(), false);
    flashChanged();
    return CMD_SUCCESS;
}

uint32_t IspRom::go(const std::vector<uint32_t>& a, size_t n, const std::string& rest) {
    if (n != 1 || (rest != "T" && rest != "A")) return PARAM_ERROR;
    if (!unlocked_) return CMD_LOCKED;
    if (a[0] % 2 != 0 && rest == "A") return ADDR_ERROR;
    if (!inFlash(a[0], 1) && !inRam(a[0], 1)) return ADDR_NOT_MAPPED;
    startAddress_ = a[0];
    // The jump lands in code only when the vector table marks it valid; otherwise
    // the chip comes back to its ROM.
    if (!settings_.stayInRom && userCodeValid()) state_ = State::Started;
    return CMD_SUCCESS;
}

const uint8_t* IspRom::memory(uint32_t address, uint32_t count) const {
    if (inFlash(address, count)) return flash_.data() + address;
    if (inRam(address, count)) return ram_.data() + (address - kRamBase);
    return nullptr;
}

uint32_t IspRom::readMemory(const std::vector<uint32_t>& a, size_t n) {
    if (n != 2) return PARAM_ERROR;
    if (a[0] % 4 != 0) return ADDR_ERROR;
    if (a[1] % 4 != 0) return COUNT_ERROR;
    if (!memory(a[0], a[1])) return ADDR_NOT_MAPPED;
    if (a[1] == 0) return CMD_SUCCESS;
    readAddress_ = a[0];
    readCount_ = a[1];
    readSent_ = 0;
    return CMD_SUCCESS;
}

void IspRom::sendReadGroup(std::string& out) {
    const uint8_t* base = memory(readAddress_, readCount_);
    if (!base) return;
    uint32_t at = readSent_;
    for (uint32_t lines = 0; lines < kLinesPerChecksum && at < readCount_; ++lines) {
        const uint32_t count = std::min(kBytesPerLine, readCount_ - at);
        out += uuLine(base + at, count);
        at += count;
    }
    readGroupBytes_ = at - readSent_;
    out += number(sum(base + readSent_, readGroupBytes_));
    state_ = State::ReadAck;
}

void IspRom::readAck(const std::string& line, std::string& out) {
    if (line == "OK") readSent_ += readGroupBytes_;
    if (line != "OK" && line != "RESEND") {
        state_ = State::Command;
        return;
    }
    if (readSent_ >= readCount_) {
        state_ = State::Command;
        return;
    }
    sendReadGroup(out);
}

uint32_t IspRom::compare(const std::vector<uint32_t>& a, size_t n, std::string& extra) {
    if (n != 3) return PARAM_ERROR;
    if (a[0] % 4 != 0) return SRC_ADDR_ERROR;
    if (a[1] % 4 != 0) return DST_ADDR_ERROR;
    if (a[2] % 4 != 0) return COUNT_ERROR;
    const uint8_t* first = memory(a[0], a[2]);
    const uint8_t* second = memory(a[1], a[2]);
    if (!first) return SRC_ADDR_NOT_MAPPED;
    if (!second) return DST_ADDR_NOT_MAPPED;
    const auto mismatch = std::mismatch(first, first + a[2], second);
    if (mismatch.first == first + a[2]) return CMD_SUCCESS;
    extra = number(static_cast<uint32_t>(mismatch.first - first) & ~3u);
    return COMPARE_ERROR;
}

uint32_t IspRom::blankCheck(const std::vector<uint32_t>& a, size_t n, std::string& extra) {
    if (n != 2) return PARAM_ERROR;
    if (a[1] < a[0] || a[1] >= kSectors) return INVALID_SECTOR;
    const uint32_t start = sectorStart(a[0]);
    const uint32_t end = a[1] + 1 < kSectors ? sectorStart(a[1] + 1) : kFlashSize;
    for (uint32_t at = start; at < end; at += 4) {
        uint32_t word;
        std::memcpy(&word, flash_.data() + at, 4);
        if (word != 0xFFFFFFFF) {
            extra = number(at) + number(word);
            return SECTOR_NOT_BLANK;
        }
    }
    return CMD_SUCCESS;
}

void IspRom::flashChanged() {
    if (flashChanged_) flashChanged_(flash_);
}

} // namespace Veltrano::Sim
