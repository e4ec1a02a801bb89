// Helpers for the firmware-file tests: raw body building and log capture.
#pragma once

#include <string>
#include <vector>

#include "BirdLog.h"

inline void appendBE32(std::vector<uint8>& out, uint32 v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8(v >> shift));
}

// A raw block: descriptor, big-endian length (need not match the payload), payload.
inline void appendBlock(std::vector<uint8>& out, uint8 descriptor, uint32 length,
                        const std::vector<uint8>& payload) {
    out.push_back(descriptor);
    appendBE32(out, length);
    out.insert(out.end(), payload.begin(), payload.end());
}

// Captures the firmware-file log lines for the duration of a test.
class BirdTestLog {
  public:
    BirdTestLog() {
        lines().clear();
        setBirdLogSink(&collect);
    }
    ~BirdTestLog() { setBirdLogSink(nullptr); }
    BirdTestLog(const BirdTestLog&) = delete;
    BirdTestLog& operator=(const BirdTestLog&) = delete;

    static std::vector<std::string>& lines() {
        static std::vector<std::string> captured;
        return captured;
    }
    bool contains(const std::string& line) const {
        for (const std::string& l : lines())
            if (l == line) return true;
        return false;
    }
    // True when some line starts with prefix.
    bool containsPrefix(const std::string& prefix) const {
        for (const std::string& l : lines())
            if (l.compare(0, prefix.size(), prefix) == 0) return true;
        return false;
    }
    std::string all() const {
        std::string text;
        for (const std::string& l : lines())
            text += l;
        return text;
    }

  private:
    static void collect(uint32 mask, const char* line) {
        if (mask == birdLogCategory) lines().push_back(line);
    }
};
