// Decoding of the boot ROM's answers, apart from any device so that it can be tested
// and fuzzed on its own.
//
// Over HID a response is report 3 (id and the 4-byte HAB mode) then report 4 (id and
// 64 bytes, the status first): 70 bytes as the loader keeps them. Over a serial line
// it is the raw bytes: 4 of HAB mode, then 4 of status. Status words are little-endian.
#ifndef UPDATER_SDPRESPONSE_H
#define UPDATER_SDPRESPONSE_H

#include <cstddef>
#include <cstdint>
#include <vector>

// Size of one HID report as read, report id included.
constexpr size_t kSdpHidReportSize = 65;
// The HAB-mode report counts as its id and four bytes.
constexpr size_t kSdpHidHabReportSize = 5;
// Report 3 then report 4.
constexpr size_t kSdpHidResponseSize = kSdpHidHabReportSize + kSdpHidReportSize;

// Appends one report read into a kSdpHidReportSize buffer (bytes past what was read
// are zero): report 3 as kSdpHidHabReportSize bytes, any other as the whole buffer.
// Answers the count appended.
size_t sdpHid_AppendReport(std::vector<uint8_t>& out, const uint8_t (&report)[kSdpHidReportSize]);

// The status word of a complete HID response (exactly kSdpHidResponseSize bytes,
// index at most 15): bytes index+6..index+9, ORed into status.
bool sdpHid_StatusWord(const std::vector<uint8_t>& response, uint32_t index, uint32_t& status);

// The status word of a serial response (index below 16, at least 4 * index + 8
// bytes): bytes index+4..index+7, ORed into status.
bool sdpSerial_StatusWord(const std::vector<uint8_t>& response, uint32_t index, uint32_t& status);

#endif
