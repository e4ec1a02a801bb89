// Shared pieces of the SDP tests: the diagnostic log captured, and test data.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Captures what updaterLog writes under DEBUG_iMXSerial while it lives.
class SdpLogCapture {
  public:
    SdpLogCapture();
    ~SdpLogCapture();
    std::string text() const;

  private:
    FILE* file_;
};

// count bytes of a pattern that differs from packet to packet.
std::vector<uint8_t> sdpPattern(size_t count, uint8_t seed = 0);

// How many times needle occurs in text.
size_t sdpOccurrences(const std::string& text, const std::string& needle);
