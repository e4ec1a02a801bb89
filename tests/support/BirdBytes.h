// Small BIRD files for tests, built in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The bytes of a BIRD file holding an identity record (version, target serial
// number, model name) and one firmware image of imageSize bytes at 0x1000.
std::string birdFileBytes(const std::string& version, uint32_t targetSerial, const std::string& model,
                          size_t imageSize = 300);
