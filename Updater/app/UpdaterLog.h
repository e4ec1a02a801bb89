// The diagnostic log: lines under category bits that -X switches on. Silent by
// default; a line logged with mask 0 is always written. Each line is one write to
// the log stream (standard error once the entry point has set it).
#ifndef UPDATER_LOG_H
#define UPDATER_LOG_H

#include <cstdint>
#include <cstdio>

enum UpdaterLogCategory : uint32_t {
    DEBUG_Updater = 0x00000001,
    DEBUG_History = 0x00000002,
    DEBUG_Attributes = 0x00000004,
    DEBUG_BirdFile = 0x00000008,
    // The usage text names this bit DEBUG_Network too; nothing logs under it.
    DEBUG_Network_Legacy = 0x00000010,
    DEBUG_ServerComm = 0x00000020,
    DEBUG_Network = 0x00000100,
    DEBUG_Network_SR = 0x00000200,
    DEBUG_Network_FIRM = 0x00000400,
    DEBUG_NXPSerial = 0x00001000,
    DEBUG_NXPSerial_E = 0x00002000,
    DEBUG_NXPSerial_SR = 0x00004000,
    DEBUG_APP = 0x00010000,
    DEBUG_iMXSerial = 0x10000000,
};

// Formats (cut to 2047 characters) and writes when mask is 0 or shares a bit with
// the enabled categories. No line end is added.
void updaterLog(uint32_t mask, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Adds categories; bits are never taken away.
void updaterLog_SetMask(uint32_t mask);
uint32_t updaterLog_GetMask();
// Replaces the stream the log writes to (null: nowhere).
void updaterLog_SetStream(FILE* stream);

#endif
