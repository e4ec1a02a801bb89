#include "ISPReply.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace ISPReply {

namespace {

const char* const kNames[] = {"CMD_SUCCESS",         "INVALID_COMMAND",
                              "SRC_ADDR_ERROR",      "DST_ADDR_ERROR",
                              "SRC_ADDR_NOT_MAPPED", "DST_ADDR_NOT_MAPPED",
                              "COUNT_ERROR",         "INVALID_SECTOR",
                              "SECTOR_NOT_BLANK",    "SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION",
                              "COMPARE_ERROR",       "BUSY",
                              "PARAM_ERROR",         "ADDR_ERROR",
                              "ADDR_NOT_MAPPED",     "CMD_LOCKED",
                              "INVALID_CODE",        "INVALID_BAUD_RATE",
                              "INVALID_STOP_BIT",    "CODE_READ_PROTECTION_ENABLED",
                              "Unknown error"};
static_assert(sizeof(kNames) / sizeof(kNames[0]) == kReturnCodeNames, "one name per return code");

// A base-0 number at text; false when no digit was taken.
bool leadingNumber(const char* text, long* value) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 0);
    if (end == text) return false;
    *value = v;
    return true;
}

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

} // namespace

const char* returnCodeName(long code) {
    return code >= 0 && code < kReturnCodeNames - 1 ? kNames[code] : kNames[kReturnCodeNames - 1];
}

bool returnCode(const char* line, bool echo, long* code) {
    if (!line || !code) return false;
    if (!echo) return leadingNumber(line, code);
    // The last word before the line end: whatever the echo left sits in front.
    size_t end = std::strlen(line);
    while (end > 0 && isLineEnd(line[end - 1]))
        --end;
    size_t start = end;
    while (start > 0 && !std::isspace(static_cast<unsigned char>(line[start - 1])))
        --start;
    if (start == end) return false;
    char word[32];
    size_t n = end - start < sizeof(word) - 1 ? end - start : sizeof(word) - 1;
    std::memcpy(word, line + start, n);
    word[n] = '\0';
    return leadingNumber(word, code);
}

bool isSuccess(const char* line, bool echo) {
    long code = -1;
    return returnCode(line, echo, &code) && code == 0;
}

ChecksumReply checksumReply(const char* line) {
    if (!line) return ChecksumReply::Other;
    if (std::strcmp(line, "OK\r\n") == 0) return ChecksumReply::Ok;
    if (std::strcmp(line, "RESEND\r\n") == 0) return ChecksumReply::Resend;
    return ChecksumReply::Other;
}

bool parseUidWord(const char* line, uint32_t* word) {
    if (!line || !word || !std::isdigit(static_cast<unsigned char>(line[0]))) return false;
    char* end = nullptr;
    unsigned long long v = std::strtoull(line, &end, 0);
    if (v > 0xFFFFFFFFull || std::strcmp(end, "\r\n") != 0) return false;
    *word = static_cast<uint32_t>(v);
    return true;
}

uint32_t uidWord(const char* line) {
    if (!line) return 0;
    return static_cast<uint32_t>(std::strtoul(line, nullptr, 0));
}

} // namespace ISPReply
