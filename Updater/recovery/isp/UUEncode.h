// UU-encoding of one data line as the ISP boot ROM takes it: a length character,
// then four characters per three bytes. The caller appends "\r\n".
#ifndef UPDATER_UUENCODE_H
#define UPDATER_UUENCODE_H

#include <cstddef>
#include <cstdint>
#include <string>

// Longest line the format carries, in data bytes.
constexpr size_t kUULineMaxBytes = 45;

// The encoded line of count bytes (1 to 45; more are cut to 45). Six-bit values of
// 0 are written as '`', never as a space, so no line ends in blanks a terminal
// could strip.
std::string uuEncodeLine(const uint8_t* bytes, size_t count);

#endif
