// TEMPORARY stand-in until the display/log land in main.
#pragma once
#include <cstdint>
#define DEBUG_Updater 0x00000001u
#define DEBUG_ServerComm 0x00000020u
#define DEBUG_APP 0x00010000u
void updaterLog(uint32_t mask, const char* format, ...) __attribute__((format(printf, 2, 3)));
