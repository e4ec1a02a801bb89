// The ISP boot ROM's reply lines, parsed without a port: return codes, the answer
// to a checksum line and the unique-id lines. Every function takes any bytes (a
// NUL-terminated line as GetLine stores it, "\r\n" included) and never fails hard.
#ifndef UPDATER_ISPREPLY_H
#define UPDATER_ISPREPLY_H

#include <cstdint>

namespace ISPReply {

// Number of names in the return-code table; the last one is "Unknown error".
constexpr int kReturnCodeNames = 21;

// The ROM's name for a return code ("CMD_SUCCESS" for 0 ...), or "Unknown error"
// for a negative code or one above 19.
const char* returnCodeName(long code);

// The return code a command's reply line carries: with echo on, the number that
// ends the line before its "\r\n" (an echo left in front of it is ignored); with
// echo off, the number at its start. Numbers are read in base 0 (decimal, 0x hex,
// leading-0 octal). False when no number is there (an empty line is not a 0).
bool returnCode(const char* line, bool echo, long* code);

// True only for a line whose return code was found and is 0.
bool isSuccess(const char* line, bool echo);

// What the ROM answered to a checksum line: exactly "OK\r\n", exactly "RESEND\r\n",
// or anything else.
enum class ChecksumReply { Ok, Resend, Other };
ChecksumReply checksumReply(const char* line);

// One word of the unique id: the line read as an unsigned number in base 0, cut
// to 32 bits; 0 when it holds none.
uint32_t uidWord(const char* line);

// A unique-id line as the ROM sends it: one unsigned number (base 0) that fits 32
// bits and then only the line end. False for anything else (text, an empty or
// unfinished line), leaving word alone.
bool parseUidWord(const char* line, uint32_t* word);

} // namespace ISPReply

#endif
